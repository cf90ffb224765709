// The converter on hostile inputs: extreme nesting, breadth, token lengths, bytes and
// sizes, each generated here and run through veltran_faulty in its counting mode (no
// call refused), whose report at exit shows every tracked block released. CTest's
// time limit on these tests catches work that is not linear in the input.

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

// Under AddressSanitizer the sizes that only measure staying power are scaled down;
// the token limit and the stores are tested at full size everywhere.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t million = 250000;
constexpr std::size_t echo_depth = 20000;
#else
constexpr std::size_t million = 1000000;
constexpr std::size_t echo_depth = 100000;
#endif

// n elements named a, each inside the one before.
std::string nested(std::size_t n)
{
    std::string s;
    s.reserve(n * 7);
    for (std::size_t i = 0; i < n; ++i) s += "<a>";
    for (std::size_t i = 0; i < n; ++i) s += "</a>";
    return s;
}

const std::string error_line = "error: error parsing filein.xml\n";

class Hostile : public InProgramDir {
protected:
    // Runs veltran_faulty on xml as in.xml; nothing may be left allocated.
    static program_run convert(const std::string &xml, std::vector<std::string> options = {},
                               std::size_t keep = std::string::npos)
    {
        write_file("in.xml", xml);
        options.push_back("in.xml");
        program_run r = run_program(VELTRAN_FAULTY_EXE, options, {"VELTRAN_FAIL_MALLOC_AT=0"}, keep);
        expect_all_released(r);
        return r;
    }
    static void expect_failed_load(const program_run &r)
    {
        EXPECT_EQ(r.out, error_line);
        EXPECT_EQ(r.status, 1);
    }
};

// ---------------------------------------------------------------------------
// Depth and breadth

TEST_F(Hostile, MillionDeepNesting)
{
    // Inside a record under each root: the listings read direct children only, so the
    // record comes out as usual.
    const std::string deep = nested(million);
    program_run a = convert("<artists>" + el("artist", el("name", "x") + deep) + "</artists>");
    EXPECT_EQ(a.out, artist_line("x"));
    program_run l = convert("<locations>" + el("location", el("name", "x") + deep) + "</locations>");
    EXPECT_EQ(l.out, "VELTRAN||x|" + std::string(16, '|') + "\n");
    program_run e = convert("<scheduledEvents>" +
                            el("eventDescription", el("id", "1") + deep +
                                                       el("eventSchedule", el("eventScheduleDate", el("date", "d")))) +
                            "</scheduledEvents>");
    EXPECT_EQ(e.out, "VELTRAN|1|" + std::string(11, '|') + "d|||\n");
    for (const program_run *r : {&a, &l, &e}) EXPECT_EQ(r->status, 0);
    // As a first child of another name it ends the listing; unclosed it fails the load.
    program_run first = convert("<scheduledEvents>" + nested(million) + "</scheduledEvents>", {"-v"});
    EXPECT_EQ(first.out, "Events\n");
    EXPECT_EQ(first.status, 0);
    std::string open = "<artists><artist><name>x</name>";
    for (std::size_t i = 0; i < million; ++i) open += "<a>";
    expect_failed_load(convert(open));
}

TEST_F(Hostile, DeepNestingInEchoModeGrowsWithTheSquareOfTheDepth)
{
    const std::size_t depth = echo_depth;
    program_run r = convert("<artists>" + nested(depth) + "</artists>", {"--echo"}, 64);
    // "<artists>" and its end at depth 0; each a at depth d below the innermost opens
    // and closes on lines of d tabs; the innermost is written as "<a/>".
    std::uintmax_t expected = 10 + 11 + (depth + 5);
    for (std::uintmax_t d = 1; d < depth; ++d) expected += 2 * d + 4 + 5;
    EXPECT_EQ(r.out_size, expected);
    EXPECT_TRUE(r.out.ends_with("\n\t\t\t</a>\n\t\t</a>\n\t</a>\n</artists>\n")) << r.out;
    EXPECT_EQ(r.status, 0);
}

TEST_F(Hostile, AMillionChildrenAndAHundredThousandAttributes)
{
    std::string xml = "<artists>";
    xml.reserve(million * 9 + 64);
    for (std::size_t i = 1; i < million; ++i) xml += "<artist/>";
    xml += el("artist", el("name", "last")) + "</artists>";
    program_run r = convert(xml);
    EXPECT_EQ(r.out, artist_line("last"));
    EXPECT_EQ(r.status, 0);

    constexpr std::size_t count = 100000;
    xml = "<artists><artist";
    for (std::size_t i = 0; i < count; ++i) xml += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
    xml += ">" + el("name", "x") + "</artist></artists>";
    EXPECT_EQ(convert(xml).out, artist_line("x"));
    // Echo writes every attribute on a line of its own, in order.
    program_run echo = convert(xml, {"--echo"});
    EXPECT_EQ(std::count(echo.out.begin(), echo.out.end(), '\n'), std::ptrdiff_t(count + 7));
    EXPECT_EQ(echo.out.rfind("<artists>\n\t<artist\n\t\ta0=\"v0\"\n\t\ta1=\"v1\"\n", 0), 0u) << echo.out.substr(0, 80);
    EXPECT_NE(echo.out.find("\n\t\ta99999=\"v99999\">\n\t\t<name>\n"), std::string::npos);
}

TEST_F(Hostile, TokensOf8191CharactersAreAcceptedAnd8192FailTheLoad)
{
    auto artist = [](const std::string &inside, const std::string &attributes = "") {
        return "<artists><artist" + attributes + ">" + el("name", "x") + inside + "</artist></artists>";
    };
    for (std::size_t n : {std::size_t(8191), std::size_t(8192)}) {
        SCOPED_TRACE(n);
        const bool fits = n == 8191;
        const std::string t(n, 't');
        // content: a word of n letters as the name
        program_run content = convert("<artists>" + el("artist", el("name", t)) + "</artists>");
        if (fits) EXPECT_EQ(content.out, artist_line(t)); else expect_failed_load(content);
        // an element name, an attribute name, a quoted value (marks included), a bare value
        for (const std::string &inside : {"<" + t + "/>", " " + t + "=\"v\"", " k=\"" + std::string(n - 2, 'v') + "\"",
                                          " k=" + std::string(n, 'v')}) {
            program_run r = convert(inside[0] == '<' ? artist(inside) : artist("", inside));
            if (fits) EXPECT_EQ(r.out, artist_line("x")); else expect_failed_load(r);
        }
    }
}

TEST_F(Hostile, UnterminatedQuotedValueRunsToTheEndOfTheFile)
{
    const std::string head = "<artists>" + el("artist", el("name", "A")) + "<artist k=\"";
    std::string tail;
    while (tail.size() < 100000) tail += "<name>B</name></artist>'\n";
    // cut off at the end of input, short of the limit, or stopped by it
    expect_failed_load(convert(head + tail.substr(0, 200)));
    expect_failed_load(convert(head + tail));
    // in content quotation marks are ordinary characters and swallow nothing
    program_run content = convert("<artists>" + el("artist", el("name", "\"A") + el("id", "'1")) + "</artists>");
    EXPECT_EQ(content.out, "VELTRAN|'1|\"A|" + std::string(10, '|') + "\n");
}

// ---------------------------------------------------------------------------
// Bytes

// Each line after a heading is a record of that listing's field count; returns
// the number of records.
long expect_records(const std::string &out)
{
    EXPECT_TRUE(out.empty() || out.back() == '\n') << "unterminated line";
    long fields = 0, records = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line == "Artists" || line == "Locations" || line == "Events") {
            fields = line == "Artists" ? 13 : line == "Events" ? 16 : 21;
            continue;
        }
        ++records;
        EXPECT_NE(fields, 0) << line;
        EXPECT_EQ(line.rfind("VELTRAN|", 0), 0u) << line;
        const long bars = std::count(line.begin(), line.end(), '|');
        EXPECT_TRUE(bars == fields || (fields == 21 && bars == 19)) << bars << ": " << line;
        EXPECT_EQ(line.back(), '|');
    }
    return records;
}

std::string noise(std::mt19937 &random, std::size_t n)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(n, '\0');
    for (char &c : s) c = static_cast<char>(byte(random));
    return s;
}

TEST_F(Hostile, BinaryGarbageGivesTheErrorLineOrNoRecordOfTheWrongShape)
{
    std::mt19937 random(20240611);
    const char *roots[] = {"artists", "locations", "scheduledEvents"};
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::string bytes = noise(random, 256 * 1024);
        // A zero byte ends the input, so all but the last round replace it.
        if (round != 5) std::replace(bytes.begin(), bytes.end(), '\0', ' ');
        // Scattered markup makes the reader work harder than plain noise does.
        if (round % 2) {
            const char *pieces[] = {"<artist>", "<name>", "</name>", "</artist>", "=\"", "/>", "<", ">", "\""};
            for (std::size_t i = 0; i + 16 < bytes.size(); i += 64) {
                const std::string p = pieces[random() % 9];
                bytes.replace(i, p.size(), p);
            }
        }
        const std::string root = roots[round % 3];
        program_run r = convert(round < 4 ? "<" + root + ">" + bytes + "</" + root + ">" : bytes, {"-v"});
        if (r.status == 1) {
            EXPECT_EQ(r.out, error_line);
        } else {
            EXPECT_EQ(r.status, 0);
            expect_records(r.out);
        }
    }
}

TEST_F(Hostile, GarbageInsideFieldsKeepsEveryRecordWhole)
{
    // Random bytes as the text of every field ("<" and the zero byte left out, since
    // they end the text or the input): one record per item, each of its full shape.
    std::mt19937 random(7);
    auto text = [&](const std::string &lead) {
        std::string t = noise(random, random() % 300);
        t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '<' || c == '\0'; }), t.end());
        return lead + t;
    };
    constexpr int items = 200;
    std::string a = "<artists>", l = "<locations>", e = "<scheduledEvents>";
    for (int i = 0; i < items; ++i) {
        a += el("artist", el("id", text("")) + el("name", text("n")) + el("creationDate", text("")) +
                              el("website", text("")) + el("artistStyle", el("label", text(""))) +
                              el("artistStyle", el("label", text(""))) + el("description", text("")));
        l += el("location", el("name", text("n")) + el("logo", text("")) +
                                (i % 2 ? el("contact", el("city", text("")) + el("phone1", text("06")) +
                                                           el("phone2", text("")) + el("longitude", text("")))
                                       : ""));
        e += el("eventDescription",
                el("id", text("i")) + el("modificationDate", text("")) + el("artist", el("name", text(""))) +
                    (i % 3 ? el("location", el("name", text("")) + el("contact", el("country", text("")))) : "") +
                    el("event", el("title", text("")) + el("eventType", el("id", text("")))) +
                    el("eventSchedule", el("eventScheduleDate", el("date", text("")) + el("endHour", text("")))));
    }
    for (const std::string &xml : {a + "</artists>", l + "</locations>", e + "</scheduledEvents>"}) {
        program_run r = convert(xml, {"-v"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(expect_records(r.out), items);
    }
}

TEST_F(Hostile, EveryByteFrom1To255InContent)
{
    // Each byte follows a letter, so quotation marks are ordinary characters; "<"
    // would open a tag and is left out.
    std::string text, field, description;
    for (int b = 1; b <= 255; ++b) {
        if (b == '<') continue;
        const char c = static_cast<char>(b);
        text += 'x';
        text += c;
        field += 'x';
        description += 'x';
        if (c == '\r') continue; // never delivered by the reader
        field += c == '|' ? std::string("&brvbar;") : std::string(1, c == '\n' ? ' ' : c);
        if (c != '|') description += c == '\n' || c == '\t' ? ' ' : c;
    }
    program_run r = convert("<artists>" + el("artist", el("name", text) + el("description", text)) + "</artists>");
    EXPECT_EQ(r.out, artist_line(field, "", description));
    EXPECT_EQ(r.status, 0);
    // echo writes the text as it was read, carriage return left out
    std::string kept = text;
    kept.erase(std::remove(kept.begin(), kept.end(), '\r'), kept.end());
    program_run echo = convert("<artists>" + el("name", text) + "</artists>", {"--echo"});
    EXPECT_EQ(echo.out, "<artists>\n\t<name>\n\t" + kept + "\n\t</name>\n</artists>\n");
}

TEST_F(Hostile, CarriageReturnOnlyFiles)
{
    // Carriage returns are dropped without a trace: the lines run together.
    program_run r = convert("<artists>\r<artist>\r<name>A\rB</name>\r<creationDate>\r5\r</creationDate>\r"
                            "</artist>\r</artists>\r");
    EXPECT_EQ(r.out, "VELTRAN||AB|5|" + std::string(9, '|') + "\n");
    EXPECT_EQ(read_file("recent-artists.txt"), "5\n");
    expect_failed_load(convert(std::string(1 << 20, '\r')));
}

// ---------------------------------------------------------------------------
// Stores of the converter

TEST_F(Hostile, ThreeHundredDigitTimestampWrapsAndIsCut)
{
    std::string digits;
    for (int i = 0; i < 30; ++i) digits += "1234567890";
    std::uint64_t wrapped = 0;
    for (char c : digits) wrapped = wrapped * 10 + std::uint64_t(c - '0');
    ASSERT_LT(wrapped, UINT64_MAX);
    // 10^299 is a multiple of 2^64: it reads as 0 and writes no marker
    program_run zero = convert("<artists>" + el("artist", el("name", "A") + el("creationDate", "1" + std::string(299, '0'))) +
                               "</artists>");
    EXPECT_EQ(zero.out.substr(0, 12), "VELTRAN||A|1");
    EXPECT_FALSE(std::filesystem::exists("recent-artists.txt"));
    // an equal number met later does not take over; a larger one does
    auto run = [&](std::uint64_t later) {
        return convert("<artists>" + el("artist", el("name", "A") + el("creationDate", digits)) +
                       el("artist", el("name", "B") + el("creationDate", std::to_string(later))) + "</artists>");
    };
    run(wrapped);
    EXPECT_EQ(read_file("recent-artists.txt"), digits.substr(0, 255) + "\n");
    EXPECT_EQ(read_file("recent-artists.xml"), "<artists recent=\"" + digits.substr(0, 255) + "\"/>\n");
    run(wrapped + 1);
    EXPECT_EQ(read_file("recent-artists.txt"), std::to_string(wrapped + 1) + "\n");
}

TEST_F(Hostile, StyleRunPastItsStore)
{
    // 100,000 labels of ten letters: 1454 of them and their commas fill 15993 of the
    // 15999 characters, and the join stops at the first that no longer fits.
    std::string styles, expected;
    for (int i = 0; i < 100000; ++i) styles += el("artistStyle", el("label", "abcdefghij"));
    for (int i = 0; i < 1454; ++i) expected += (i ? "," : "") + std::string("abcdefghij");
    program_run r = convert("<artists>" + el("artist", el("name", "A") + styles) + "</artists>");
    EXPECT_EQ(r.out, artist_line("A", expected));
}

TEST_F(Hostile, EventIdentifierAndCommonTextPastTheirStores)
{
    // An identifier of many words is cut to 63 characters; fields full of "|" fill the
    // common text, which is cut without splitting an escape or losing a separator.
    std::string words;
    while (words.size() < 100000) words += "w|" + std::to_string(words.size()) + " ";
    const std::string xml =
        "<scheduledEvents>" +
        el("eventDescription",
           el("id", words) + el("creationDate", words) + el("artist", el("artistId", words) + el("name", words)) +
               el("location", el("id", words) + el("contact", el("city", words))) +
               el("event", el("title", words) + el("picture", words)) +
               el("eventSchedule", el("eventScheduleDate", el("date", "d")) + el("eventScheduleDate", el("date", "e")))) +
        "</scheduledEvents>";
    program_run r = convert(xml, {"-v"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(expect_records(r.out), 2); // sixteen fields each
    std::string id;
    for (char c : words.substr(0, 63)) id += c == '|' ? std::string("&brvbar;") : std::string(1, c);
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    for (auto [after_id, date] : {std::pair{"|", "|d|||"}, std::pair{":1|", "|e|||"}}) {
        std::getline(lines, line);
        EXPECT_EQ(line.rfind("VELTRAN|" + id + after_id, 0), 0u) << line.substr(0, 120);
        EXPECT_TRUE(line.ends_with(date)) << line.substr(line.size() - 40);
        // fields 3 to 13, after the identifier's separator and before the date's "|d|||"
        const std::size_t from = line.find('|', 8) + 1, to = line.size() - 4;
        EXPECT_LE(to - from, 8191u);
        // every "&" left is a whole escape
        const std::string common = line.substr(from, to - from);
        for (std::size_t at = common.find('&'); at != std::string::npos; at = common.find('&', at + 1))
            EXPECT_EQ(common.compare(at, 8, "&brvbar;"), 0) << common.substr(at, 12);
    }
}

TEST_F(Hostile, MarkersAreReplacedWholeWhateverStandsInTheirPlace)
{
    // A link to a file outside, a read-only marker and a directory in a marker's
    // place: the first two are replaced, never written through; the directory stays
    // and only that marker is skipped. No temporary file is left in any case.
    std::filesystem::create_directory("outside");
    write_file("outside/target", "keep\n");
    std::filesystem::create_symlink("outside/target", "recent-artists.xml");
    write_file("recent-artists.txt", "old\n");
    std::filesystem::permissions("recent-artists.txt", std::filesystem::perms::owner_read);
    std::filesystem::create_directory("recent-locations.txt");
    const std::string artist = "<artists>" + el("artist", el("name", "A") + el("creationDate", "3")) + "</artists>";
    program_run r = convert(artist);
    EXPECT_EQ(r.out, "VELTRAN||A|3|" + std::string(9, '|') + "\n");
    EXPECT_EQ(read_file("outside/target"), "keep\n");
    EXPECT_FALSE(std::filesystem::is_symlink("recent-artists.xml"));
    EXPECT_EQ(read_file("recent-artists.xml"), "<artists recent=\"3\"/>\n");
    EXPECT_EQ(read_file("recent-artists.txt"), "3\n");
    program_run l = convert("<locations>" + el("location", el("name", "L") + el("creationDate", "4")) + "</locations>");
    EXPECT_EQ(l.status, 0);
    EXPECT_TRUE(std::filesystem::is_directory("recent-locations.txt"));
    EXPECT_EQ(read_file("recent-locations.xml"), "<locations recent=\"4\"/>\n");
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.xml", "outside", "recent-artists.txt", "recent-artists.xml",
                                               "recent-locations.txt", "recent-locations.xml"}));
}

// ---------------------------------------------------------------------------
// Memory

#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's shadow and quarantine dwarf the figures
TEST_F(Hostile, PeakMemoryIsASmallMultipleOfTheInput)
{
    std::string xml = "<artists>\n";
    for (int i = 0; xml.size() < (20u << 20); ++i)
        xml += el("artist", el("id", std::to_string(i)) + el("name", "Artist number " + std::to_string(i)) +
                                el("creationDate", std::to_string(1000000 + i)) +
                                el("artistStyle", el("label", "Rock")) +
                                el("description", "A few words about this artist, who plays | sings.")) +
               "\n";
    xml += "</artists>\n";
    write_file("in.xml", xml);
    program_run r = run_program(VELTRAN_EXE, {"in.xml"}, {}, 0);
    ASSERT_EQ(r.status, 0);
    EXPECT_GT(r.out_size, xml.size() / 4);
    const long long limit_kib = 20 * (long long)(xml.size() / 1024) + 64 * 1024;
    EXPECT_LT(r.peak_kib, limit_kib) << "input " << xml.size() / 1024 << " KiB";
    RecordProperty("input_kib", int(xml.size() / 1024));
    RecordProperty("peak_kib", int(r.peak_kib));
}
#endif

} // namespace
