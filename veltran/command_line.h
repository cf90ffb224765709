#pragma once
// The command line read once, from left to right, into the run it asks for: the texts
// asked for instead of a run (help, version, the banner), the options that act on the
// whole run wherever they stand, and the list of jobs in argument order: every file
// with the settings in force where it is named, and every option to be warned about in
// its place.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "veltran/settings.h"
#include "veltran/tracked.h"

constexpr int max_jobs = 256;

struct job {
    enum class what : std::uint8_t {
        file,           // convert or echo arg with options
        unknown_option, // arg is no option; warned of unless quiet
        dash,           // "-" alone, which does not read standard input
        bad_job_count,  // a job option without a job count of 1 or more
        bad_format,     // a format option that names no format
    };
    what is = what::file;
    const char *arg = "";
    settings options; // in force at arg
};

struct run_plan {
    std::string_view text; // printed instead of a run: help, version or banner; else empty
    int jobs = 1;          // files converted at once: the last valid job option, else the
                           // number of processors online
    output_format format = output_format::records; // the last valid format option
    bool stats = false; // a summary of every file and of the run at its end
    tracked_array<job> list;
    std::size_t count = 0; // jobs in list
    std::size_t files = 0; // of which files
};

// Reads argv[1..argc) into plan, which must be fresh. False when the list of jobs could
// not be held (memory ran out); plan then holds everything else.
bool read_command_line(int argc, char **argv, run_plan &plan);
