// The reader's contract pinned by data, not only by a second reader: data/goldens/<name>.xml
// against the trace of its parse (reader_trace, reference_reader.cpp) in <name>.relays,
// with every relay set and content handed over one piece at a time; where it is given,
// <name>.runs with content in runs, and <name>.eof with the end of input allowed while
// elements are open.
#include "test_support.h"

using Reader = TrackedTest;

TEST_F(Reader, CallsTheRelaysAsTheGoldenTracesSay)
{
    for (const fs::path &in : data_files("goldens", ".xml"))
        for (const std::string mode : {".relays", ".runs", ".eof"}) {
            const fs::path want = fs::path(in).replace_extension(mode);
            if (mode != ".relays" && !fs::exists(want)) continue; // .relays is never missing
            EXPECT_EQ(reader_trace(in.c_str(), mode == ".runs", mode == ".eof"), read_file(want))
                << want;
        }
}
