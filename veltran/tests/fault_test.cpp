// The converter when memory runs out: veltran_faulty refuses the N-th malloc call (or
// every call from the N-th on). For each export under sweep/ (<kind>.xml: small, and
// reaching every field writer, join, group and marker of its kind) and every N up to
// the calls of a full run, the output must be exactly the normal records or exactly the
// error line, the markers the normal ones or absent, no temporary file left, and every
// tracked block released.

#include "test_support.h"

namespace
{

class ConverterUnderFaults : public InTempDir
{
};

TEST_F(ConverterUnderFaults, EachExportGivesAllRecordsOrTheErrorLine)
{
    for (const auto &input : data_files(VELTRAN_SWEEP, ".xml")) {
        const std::string kind = input.stem(), txt = "recent-" + kind + ".txt",
                          xml = "recent-" + kind + ".xml";
        write_file("in.xml", read_file(input));
        // the run's output, exit status and markers ("-" when absent); its malloc calls
        auto convert = [&](const std::string &plan, long *calls = nullptr) {
            std::filesystem::remove(txt);
            std::filesystem::remove(xml);
            const program_run r = run_program(VELTRAN_FAULTY_EXE, {"--concert", "in.xml"},
                                              {"VELTRAN_FAIL_MALLOC_AT=" + plan});
            const long n = expect_all_released(r, kind + ", plan " + plan);
            if (calls) *calls = n;
            for (const auto &entry : std::filesystem::directory_iterator("."))
                EXPECT_TRUE(entry.path().filename() == "in.xml" ||
                            entry.path().filename().string().starts_with("recent-"))
                    << entry.path() << ", plan " << plan;
            auto marker = [](const std::string &f) {
                return std::filesystem::exists(f) ? read_file(f) : "-";
            };
            return std::vector<std::string>{r.out, std::to_string(r.status), marker(txt),
                                            marker(xml)};
        };
        long calls = 0;
        const std::vector<std::string> normal = convert("0", &calls);
        ASSERT_EQ(normal[1], "0") << kind;
        ASSERT_TRUE(normal[0] != "" && normal[2] != "-" && normal[3] != "-") << kind;
        const std::vector<std::string> failed = {"error: error parsing filein.xml\n", "1", "-",
                                                 "-"};
        fault_sweep(calls - 1, [&](long, bool, const std::string &plan) {
            std::vector<std::string> o = convert(plan);
            if (o == failed) return true;
            for (int marker : {2, 3})
                if (o[marker] == "-") o[marker] = normal[marker]; // a marker may be skipped
            EXPECT_EQ(o, normal) << "neither all records nor the error line, " << kind << ", plan "
                                 << plan;
            return false;
        });
    }
}

} // namespace
