// The converter when memory runs out: veltran_faulty is the converter built with a
// malloc that refuses the N-th call (or every call from the N-th on) when told to.
// For every N up to the number of calls a full run makes, the output must be either
// exactly the records of the normal run or exactly the file's error line, never a
// partial or corrupted record, the marker files either the normal ones or absent,
// and every tracked block must be released.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "program_run.h"

namespace {

// One small export of each kind that reaches every field writer, the style join, the
// description, the groups and their missing runs, the phone rule and both markers;
// the artists' newest timestamp is full of quotation marks, so writing the XML
// marker needs a buffer of its own.
const std::string artists_export =
    "<?xml version=\"1.0\"?>\n<artists count=\"2\">\n" +
    el("artist", el("id", "7") + el("name", "Ana &amp; Bo") + el("creationDate", "5") +
                     el("modificationDate", "9" + std::string(200, '"')) + el("picture", "p.jpg") +
                     el("artistStyle", el("label", "Rock")) + el("ARTISTSTYLE", el("label", "Pop")) +
                     el("description", "Two\nlines | here")) +
    "\n" + el("artist", el("name", "Solo")) + "\n</artists>\n";

const std::string locations_export =
    "<locations>" +
    el("location", el("id", "3") + el("name", "Hall") + el("creationDate", "50") +
                       el("contact", el("city", "Lyon") + el("phone1", "061") + el("phone2", "014") +
                                         el("lattitude", "45.7"))) +
    el("location", el("id", "4") + el("name", "Club|Bar")) + "</locations>";

const std::string events_export =
    "<scheduledEvents>" +
    el("eventDescription",
       el("id", "17") + el("creationDate", "300") + el("artist", el("artistId", "5") + el("name", "Ana")) +
           el("location", el("id", "3") + el("name", "Hall") + el("contact", el("city", "Lyon"))) +
           el("event", el("title", "Show") + el("picture", "p.jpg") + el("eventType", el("id", "1"))) +
           el("eventSchedule", el("eventScheduleDate", el("date", "d1") + el("startHour", "20")) +
                                   el("eventScheduleDate", el("date", "d2")))) +
    el("eventDescription", el("id", "18") + el("eventSchedule", el("eventScheduleDate", el("date", "d3")))) +
    "</scheduledEvents>";

struct outcome {
    program_run run;
    std::string txt, xml; // the marker files; "-" when absent
    long calls;           // malloc calls of the run
};

class ConverterUnderFaults : public InProgramDir {
protected:
    // Runs veltran_faulty on in.xml with the given plan, its markers removed first.
    outcome convert(const std::string &plan)
    {
        const std::string txt = "recent-" + prefix_ + ".txt", xml = "recent-" + prefix_ + ".xml";
        std::filesystem::remove(txt);
        std::filesystem::remove(xml);
        program_run r = run_program(VELTRAN_FAULTY_EXE, {"--concert", "in.xml"}, {"VELTRAN_FAIL_MALLOC_AT=" + plan});
        const long calls = expect_all_released(r, "plan " + plan);
        outcome o{r, std::filesystem::exists(txt) ? read_file(txt) : "-",
                  std::filesystem::exists(xml) ? read_file(xml) : "-", calls};
        // a marker that could not be finished leaves no temporary file behind
        for (const auto &entry : std::filesystem::directory_iterator("."))
            EXPECT_TRUE(entry.path().filename() == "in.xml" || entry.path().filename().string().rfind("recent-", 0) == 0)
                << entry.path() << ", plan " << plan;
        return o;
    }
    void sweep(const std::string &xml, const std::string &prefix)
    {
        prefix_ = prefix;
        write_file("in.xml", xml);
        const outcome normal = convert("0");
        ASSERT_EQ(normal.run.status, 0);
        ASSERT_NE(normal.run.out, "");
        ASSERT_NE(normal.txt, "-");
        ASSERT_NE(normal.xml, "-");
        const std::string error_line = "error: error parsing filein.xml\n";
        for (const char *mode : {"", "+"}) {
            int failed_loads = 0;
            for (long n = 1; n <= normal.calls; ++n) {
                const std::string plan = std::to_string(n) + mode;
                const outcome o = convert(plan);
                if (o.run.out == error_line) {
                    ++failed_loads;
                    EXPECT_EQ(o.run.status, 1) << plan;
                    EXPECT_EQ(o.txt + o.xml, "--") << "markers after a failed load, plan " << plan;
                    continue;
                }
                EXPECT_EQ(o.run.out, normal.run.out) << "neither the records nor the error line, plan " << plan;
                EXPECT_EQ(o.run.status, 0) << plan;
                EXPECT_TRUE(o.txt == normal.txt || o.txt == "-") << "text marker " << o.txt << ", plan " << plan;
                EXPECT_TRUE(o.xml == normal.xml || o.xml == "-") << "XML marker " << o.xml << ", plan " << plan;
            }
            EXPECT_GT(failed_loads, 0) << "no refusal reached the load, mode " << mode;
        }
    }
    std::string prefix_;
};

TEST_F(ConverterUnderFaults, ArtistsGiveAllRecordsOrTheErrorLine) { sweep(artists_export, "artists"); }

TEST_F(ConverterUnderFaults, LocationsGiveAllRecordsOrTheErrorLine) { sweep(locations_export, "locations"); }

TEST_F(ConverterUnderFaults, EventsGiveAllRecordsOrTheErrorLine) { sweep(events_export, "events"); }

} // namespace
