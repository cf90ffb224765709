#pragma once
// What the command line sets for the files it names: an option takes effect where it
// stands and holds for the files named after it.

#include <cstdint>

// What standard output carries for the files of the run.
enum class output_format : std::uint8_t {
    records, // VELTRAN lines, and an error line for a file that cannot be loaded
    jsonl,   // one JSON object per record, nothing for a file that cannot be loaded
};

// The settings in force for one file.
struct settings {
    int type = 0;    // event-type filter; 0 lets every event through
    int echo = 0;    // 1: print each loaded tree back as XML instead of converting it
    int verbose = 0; // 1: each listing prints its heading line first
    int quiet = 0;   // 1: no warnings about the files named from here on
};
