// End-to-end tests: each test runs the built veltran in a fresh temporary directory
// and compares its standard output, marker files and exit status byte for byte.

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "program_run.h"

namespace {

class Veltran : public InProgramDir {
protected:
    static program_run run(const std::vector<std::string> &args) { return run_program(VELTRAN_EXE, args); }
    // Writes in.xml and runs veltran on it alone, with the options in front.
    static program_run convert(const std::string &xml, std::vector<std::string> options = {})
    {
        write_file("in.xml", xml);
        options.push_back("in.xml");
        return run(options);
    }
    static void expect_no_markers()
    {
        for (const auto &entry : std::filesystem::directory_iterator("."))
            EXPECT_NE(entry.path().filename().string().rfind("recent-", 0), 0u) << entry.path();
    }
};

// Compares long outputs by their first difference instead of printing both whole.
::testing::AssertionResult same_text(const std::string &actual, const std::string &expected)
{
    auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (at.first == actual.end() && at.second == expected.end()) return ::testing::AssertionSuccess();
    std::size_t from = std::size_t(at.first - actual.begin());
    from = from < 40 ? 0 : from - 40;
    return ::testing::AssertionFailure() << "lengths " << actual.size() << " and " << expected.size()
                                         << ", from byte " << from << ":\n  actual:   "
                                         << ::testing::PrintToString(actual.substr(from, 80)) << "\n  expected: "
                                         << ::testing::PrintToString(expected.substr(from, 80));
}

// A text of n characters in words of at most 100, since the reader cuts text into
// tokens of limited length.
std::string words(std::size_t n, char c)
{
    std::string text(n, c);
    for (std::size_t i = 100; i < n; i += 101) text[i] = ' ';
    return text;
}

std::string artists(const std::string &body) { return "<artists>" + body + "</artists>"; }
std::string locations(const std::string &body) { return "<locations>" + body + "</locations>"; }
std::string events(const std::string &body) { return "<scheduledEvents>" + body + "</scheduledEvents>"; }
std::string date(const std::string &d) { return el("eventScheduleDate", el("date", d)); }
// An event with an id and a schedule; extra goes in front of the schedule.
std::string event(const std::string &id, const std::string &extra, const std::string &dates)
{
    return el("eventDescription", el("id", id) + extra + el("eventSchedule", dates));
}
// The line of an event that has only an id and one date.
std::string bare_event_line(const std::string &id, const std::string &d)
{
    return "VELTRAN|" + id + "|" + std::string(11, '|') + d + "|||\n";
}

// ---------------------------------------------------------------------------
// Command line

TEST_F(Veltran, WithoutArgumentsPrintsTheBanner)
{
    program_run r = run({});
    EXPECT_EQ(r.out, "\n   Veltran Integeration Tool : Version 1.0g"
                     "\n   Beta Version : 06/10/2016"
                     "\n   Copyright (c) the veltran developers. All rights reserved. \n"
                     "\n   Usage   : \n           veltran [options] filename.xml"
                     "\n   Filters : \n           --concert \n           --theatre \n           --dance   "
                     "\n           --clubbing\n           --meeting \n           --young   "
                     "\n           --cinema  \n           --any     \n           --all     "
                     "\n   Options : \n           --echo    \n           --verbose\n\n");
    EXPECT_EQ(r.status, 0);
}

// Options alone and unknown options print nothing; an option affects only the files
// named after it.
TEST_F(Veltran, Options)
{
    EXPECT_EQ(run({"--concert", "-v"}).out, "");
    program_run unknown = convert(artists(el("artist", el("name", "A"))), {"-x", "-", "--Concert"});
    EXPECT_EQ(unknown.out, artist_line("A"));
    EXPECT_EQ(unknown.status, 0);

    write_file("a.xml", events(event("1", el("event", el("eventType", el("id", "2"))), date("d"))));
    write_file("b.xml", read_file("a.xml"));
    program_run r = run({"a.xml", "--concert", "b.xml", "--any", "a.xml", "-v", "a.xml"});
    std::string line = bare_event_line("1", "d");
    EXPECT_EQ(r.out, line + line + "Events\n" + line);
}

TEST_F(Veltran, EchoPrintsTreesInOrderWithErrorsAndWritesNoMarkers)
{
    write_file("a.xml", artists(el("artist", el("name", "A") + el("creationDate", "5"))));
    program_run r = run({"m.xml", "--echo", "a.xml", "n.xml"});
    EXPECT_EQ(r.out, "error: error parsing filem.xml\n"
                     "<artists>\n\t<artist>\n\t\t<name>\n\t\tA\n\t\t</name>\n"
                     "\t\t<creationDate>\n\t\t5\n\t\t</creationDate>\n\t</artist>\n</artists>\n"
                     "error: error parsing filen.xml\n");
    EXPECT_EQ(r.status, 1);
    expect_no_markers();
}

TEST_F(Veltran, UnknownRootWritesNothing)
{
    program_run r = convert(el("Artists", el("artist", el("name", "A") + el("creationDate", "9"))));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    expect_no_markers();
}

// ---------------------------------------------------------------------------
// Marker files and the timestamp tracking rule

TEST_F(Veltran, NewestTimestampCarriesAcrossFilesAndKinds)
{
    write_file("e.xml", events(event("1", el("creationDate", "200 UTC"), "")));
    write_file("l.xml", locations(el("location", el("name", "L") + el("creationDate", "100"))));
    run({"e.xml", "l.xml"});
    EXPECT_EQ(read_file("recent-events.txt"), "200 UTC\n");
    EXPECT_EQ(read_file("recent-locations.txt"), "200 UTC\n");
    EXPECT_EQ(read_file("recent-locations.xml"), "<locations recent=\"200 UTC\"/>\n");
}

TEST_F(Veltran, MarkersHoldTheFirstTextOfTheNewestNumber)
{
    // {dates of an artist, recent as the text marker has it, as the XML marker has it}:
    // equal numbers keep the first text met, recent keeps its first 255 characters,
    // and the XML marker escapes quotation marks only
    const std::string z = "1" + std::string(255, 'z');
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {el("creationDate", "042") + el("modificationDate", "42"), "042", "042"},
        {el("creationDate", "7 \"x\" &amp; y"), "7 \"x\" &amp; y", "7 &quot;x&quot; &amp; y"},
        {el("creationDate", z.substr(0, 254)), z.substr(0, 254), z.substr(0, 254)},
        {el("creationDate", z.substr(0, 255)), z.substr(0, 255), z.substr(0, 255)},
        {el("creationDate", z), z.substr(0, 255), z.substr(0, 255)},
    };
    for (const auto &[dates, text, xml] : cases) {
        SCOPED_TRACE(dates.substr(0, 60));
        convert(artists(el("artist", el("name", "A") + dates)));
        EXPECT_EQ(read_file("recent-artists.txt"), text + "\n");
        EXPECT_EQ(read_file("recent-artists.xml"), "<artists recent=\"" + xml + "\"/>\n");
    }
}

TEST_F(Veltran, NoMarkersWithoutATimestampAboveZero)
{
    // Sign and letter starts read as 0; a nameless artist's dates do not count.
    std::string xml = artists(el("artist", el("name", "A") + el("creationDate", "v5") + el("modificationDate", "-7")) +
                              el("artist", el("creationDate", "99")) +
                              el("artist", el("name", "") + el("creationDate", "98")));
    EXPECT_EQ(convert(xml).out, "VELTRAN||A|v5|-7|||||||||\n");
    expect_no_markers();
}

TEST_F(Veltran, UnwritableDirectorySkipsMarkersSilently)
{
    write_file("in.xml", artists(el("artist", el("name", "A") + el("creationDate", "3"))));
    std::string input = (dir_ / "in.xml").string();
    // The superuser writes through permissions, so it runs in /proc instead.
    std::filesystem::path cwd = geteuid() == 0 ? std::filesystem::path("/proc") : dir_;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::filesystem::current_path(cwd);
    program_run r = run({input});
    std::filesystem::current_path(dir_);
    EXPECT_EQ(r.out, "VELTRAN||A|3||||||||||\n");
    EXPECT_EQ(r.status, 0);
    expect_no_markers();
}

// ---------------------------------------------------------------------------
// The three listings

TEST_F(Veltran, ArtistWorkedExample)
{
    program_run r = convert("<?xml version=\"1.0\"?>\n<artists>\n  <artist>\n    <id>7</id>\n    <name>Ana</name>\n"
                            "    <creationDate>100</creationDate>\n    <modificationDate>200</modificationDate>\n"
                            "    <artistStyle><label>Rock</label></artistStyle>\n"
                            "    <artistStyle><label>Pop</label></artistStyle>\n"
                            "    <description>Two\nlines</description>\n  </artist>\n</artists>\n");
    EXPECT_EQ(r.out, "VELTRAN|7|Ana|100|200|||||||Rock,Pop|Two lines|\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file("recent-artists.txt"), "200\n");
}

TEST_F(Veltran, LocationWorkedExamples)
{
    std::string xml = locations(
        el("location", el("id", "3") + el("name", "Hall") +
                           el("contact", el("city", "Lyon") + el("phone1", "061") + el("phone2", "014"))) +
        el("location", el("id", "4") + el("name", "Club")));
    EXPECT_EQ(convert(xml).out, "VELTRAN|3|Hall|||||||||||||Lyon||014|061|0|0|\n"
                                "VELTRAN|4|Club|||||||||||||||||\n");
}

TEST_F(Veltran, EventWorkedExample)
{
    std::string dates = el("eventScheduleDate", el("date", "d1") + el("startHour", "20") + el("endHour", "23")) +
                        el("eventScheduleDate", el("date", "d2") + el("startHour", "21"));
    std::string xml = events(event("17",
                                   el("creationDate", "100") + el("artist", el("artistId", "5") + el("name", "Ana")) +
                                       el("event", el("title", "Show") + el("picture", "p.jpg")),
                                   dates));
    EXPECT_EQ(convert(xml).out, "VELTRAN|17|100||5|Ana||||||Show|p.jpg|d1|20|23|\n"
                                "VELTRAN|17:1|100||5|Ana||||||Show|p.jpg|d2|21||\n");
    EXPECT_EQ(read_file("recent-events.xml"), "<events recent=\"100\"/>\n");
}

// Each input converted alone: its standard output byte for byte, and status 0.
TEST_F(Veltran, ListingRules)
{
    const std::string rock = el("artistStyle", el("label", "Rock")), a = el("artist", el("name", "A"));
    auto style = [](std::size_t n, char c) { return el("artistStyle", el("label", words(n, c))); };
    auto place = [](const std::string &contact, const std::string &extra = "") {
        return el("location", el("name", "P") + extra + el("contact", contact));
    };
    const std::string head = "VELTRAN||P|" + std::string(14, '|'), id63(63, 'i');
    const std::pair<std::string, std::string> cases[] = {
        // style runs: by exact name, after other children, "|" escaped, empty ones passed over
        {artists(el("artist", el("name", "A") + rock + el("website", "w") + el("artistStyle", el("label", "Pop"))) +
                 el("artist", el("name", "B") + rock + el("ARTISTSTYLE", el("label", "Pop")) + el("artistStyle", "") +
                                  el("artistStyle", el("label", "Jazz|Funk"))) +
                 el("artist", el("name", "C") + el("ArtistStyle", el("label", "Pop")))),
         "VELTRAN||A|||||w||||Rock||\n" + artist_line("B", "Rock,Pop,Jazz&brvbar;Funk") + artist_line("C")},
        // the join stops before the first label that does not fit in 15999 characters:
        // 8000 + "," + 7998 fill it exactly
        {artists(el("artist", el("name", "A") + style(8000, 'a') + style(7998, 'b') + style(1, 'c')) +
                 el("artist", el("name", "B") + style(15000, 'a') + style(2000, 'b') + style(10, 'c')) +
                 el("artist", el("name", "C") + style(16000, 'a') + style(3, 'b'))),
         artist_line("A", words(8000, 'a') + "," + words(7998, 'b')) + artist_line("B", words(15000, 'a')) +
             artist_line("C")},
        {artists(el("artist", el("name", "A") + el("description", "a\r\nb\tc|d &amp; e\n")) +
                 el("artist", el("name", "B") + el("description", ""))),
         artist_line("A", "", "a b cd &amp; e ") + artist_line("B")},
        // fields escape "|" and fold line feeds but keep tabs
        {artists(el("artist", el("id", "\n  7\n") + el("name", "a|b\tc") + el("website", "|"))),
         "VELTRAN|7 |a&brvbar;b\tc|||||&brvbar;||||||\n"},
        // a listing stops at the first child of another name
        {artists(a + el("Artist", el("name", "X")) + a), artist_line("A")},
        {artists(el("count", "1") + a), ""},
        {events(el("other", "") + event("1", "", date("a"))), ""},
        // the phone rule and the coordinates
        {locations(place(el("phone1", "0611") + el("phone2", "0122")) +
                   place(el("phone1", "0111") + el("phone2", "0122")) +
                   place(el("phone1", "0611") + el("phone2", "0622")) + place(el("phone1", "06")) +
                   place(el("phone1", "0") + el("lattitude", "45.7") + el("longitude", "4.8")) +
                   place("<x/>", el("lattitude", "1") + el("longitude", "2"))),
         head + "0122|0611|0|0|\n" + head + "0122||0|0|\n" + head + "|0622|0|0|\n" + head + "|06|0|0|\n" + head +
             "0||45.7|4.8|\n" + head + "||0|0|\n"},
        // dates are numbered per event; foreign children of the schedule are passed over
        {events(event("1", "", date("a") + date("b") + date("c")) +
                event("2", "", date("d") + el("note", "x") + date("e"))),
         bare_event_line("1", "a") + bare_event_line("1:1", "b") + bare_event_line("1:2", "c") +
             bare_event_line("2", "d") + bare_event_line("2:1", "e")},
        // missing groups keep sixteen fields
        {events(event("1", el("location", el("id", "3") + el("name", "Hall")) + el("event", el("title", "T")),
                      date("d")) +
                event("2", el("artist", "") + el("location", el("contact", el("city", "Lyon"))), date("d"))),
         "VELTRAN|1|||||3|Hall||||T||d|||\nVELTRAN|2||||||||Lyon||||d|||\n"},
        // the event identifier is escaped, folded and cut at 63 characters
        {events(event("a|b\nc", "", date("d")) + event(id63, "", date("d") + date("e")) +
                event(id63 + "j", "", date("d"))),
         bare_event_line("a&brvbar;b c", "d") + bare_event_line(id63, "d") + bare_event_line(id63 + ":1", "e") +
             bare_event_line(id63, "d")},
    };
    for (const auto &[xml, out] : cases) {
        SCOPED_TRACE(xml.substr(0, 80));
        program_run r = convert(xml);
        EXPECT_TRUE(same_text(r.out, out));
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(Veltran, EventsWithoutIdOrScheduleGiveNoLine)
{
    // Without id (or with an empty one) the dates do not count; without schedule they do.
    std::string xml = events(el("eventDescription", el("creationDate", "9") + el("eventSchedule", date("a"))) +
                             event("", el("creationDate", "8"), date("b")) +
                             el("eventDescription", el("id", "3") + el("creationDate", "5")) +
                             event("4", el("creationDate", "6"), ""));
    EXPECT_EQ(convert(xml).out, "");
    EXPECT_EQ(read_file("recent-events.txt"), "6\n");
}

TEST_F(Veltran, TypeFilter)
{
    auto typed = [](const std::string &id, const std::string &type_element) {
        return event(id, el("event", el("picture", "p") + type_element), date("d"));
    };
    std::string xml = events(typed("a", el("eventType", el("id", "1"))) + typed("b", el("eventType", el("id", "01"))) +
                             typed("c", el("eventType", el("id", " 1"))) + typed("d", el("eventType", el("id", "2"))) +
                             typed("e", "") + typed("f", el("eventType", el("label", "x"))) +
                             typed("g", el("eventType", el("id", "4294967297"))) +
                             typed("h", el("eventType", el("id", "+1x"))) + event("i", "", date("d")));
    auto line = [](const std::string &id) { return "VELTRAN|" + id + "|" + std::string(10, '|') + "p|d|||\n"; };
    EXPECT_EQ(convert(xml, {"--concert"}).out,
              line("a") + line("b") + line("c") + line("h") + bare_event_line("i", "d"));
    EXPECT_EQ(convert(xml, {"--clubbing"}).out, line("d") + bare_event_line("i", "d"));
    std::string all = convert(xml).out;
    EXPECT_EQ(all, convert(xml, {"--theatre", "--all"}).out);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 9);
}

TEST_F(Veltran, HugeCommonTextIsCutFieldByField)
{
    // The title takes what the other fields and the separators still due leave of the
    // common text; an escape is never split, and the picture gets the one byte left:
    // 8191 bytes = 11 separators, "12", "L", 8176 bytes of title (no room for "&brvbar;") and "p".
    std::string title = std::string(8176, 'x') + "|" + std::string(100, 'y');
    std::string xml = events(event("1",
                                   el("creationDate", "12") + el("location", el("name", "L")) +
                                       el("event", el("title", title) + el("picture", "p.jpg")),
                                   date("d")));
    EXPECT_TRUE(same_text(convert(xml).out, "VELTRAN|1|12|||||L||||" + std::string(8176, 'x') + "|p|d|||\n"));
}

// ---------------------------------------------------------------------------
// The root is the last top-level element closed; the records of a file are held
// back until it is known to load.

TEST_F(Veltran, TheLastClosedTopLevelElementIsConverted)
{
    const program_run r = convert(artists(el("artist", el("name", "A") + el("creationDate", "500"))) +
                                      locations(el("location", el("name", "L") + el("creationDate", "100"))),
                                  {"-v"});
    EXPECT_EQ(r.out, "Locations\nVELTRAN||L|100" + std::string(16, '|') + "\n");
    EXPECT_EQ(r.status, 0);
    // the artist's newer timestamp belonged to a top-level element that is not the root
    EXPECT_EQ(read_file("recent-locations.txt"), "100\n");
    EXPECT_FALSE(std::filesystem::exists("recent-artists.txt"));

    // a failure after the root closed keeps the root
    const program_run kept = convert(artists(el("artist", el("name", "A") + el("creationDate", "7"))) +
                                     "<locations><location><name>L</name>"
                                     "<creationDate>900</creationDate></location><>");
    EXPECT_EQ(kept.out, "VELTRAN||A|7" + std::string(10, '|') + "\n");
    EXPECT_EQ(kept.status, 0);
    EXPECT_EQ(read_file("recent-artists.txt"), "7\n");
}

TEST_F(Veltran, UnloadableFilesPrintOnlyTheirErrorLineAndTheRunGoesOnWithStatusOne)
{
    write_file("bad.xml", "<artists><artist><name>A</name><creationDate>900</creationDate></artist><artist>");
    write_file("good.xml", artists(el("artist", el("name", "B") + el("creationDate", "5"))));
    const program_run r = run({"m.xml", "bad.xml", "good.xml"});
    EXPECT_EQ(r.out, "error: error parsing filem.xml\nerror: error parsing filebad.xml\nVELTRAN||B|5" +
                         std::string(10, '|') + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file("recent-artists.txt"), "5\n"); // the failed file's 900 never counted
}

TEST_F(Veltran, OutputLargerThanMemoryHoldIsKeptWhole)
{
    std::string xml = "<locations>", expected;
    const std::string pad(200, 'x');
    for (int i = 0; i < 30000; ++i) {
        const std::string id = std::to_string(i);
        xml += el("location", el("id", id) + el("name", pad)) + "\n";
        expected += "VELTRAN|" + id + "|" + pad + std::string(17, '|') + "\n";
    }
    const program_run whole = convert(xml + "</locations>");
    ASSERT_GT(expected.size(), std::size_t(4) << 20);
    EXPECT_TRUE(whole.out == expected) << "output differs, " << whole.out.size() << " bytes";
    const program_run cut = convert(xml); // the root never closes
    EXPECT_EQ(cut.out, "error: error parsing filein.xml\n");
    EXPECT_EQ(cut.status, 1);
}

} // namespace
