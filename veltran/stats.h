#pragma once
// The summary that --stats asks for: at the end of the run, on standard error, one
// line per file (its kind, records written, items left out, fields cut, bytes and
// seconds) and one with the totals and MB per second. The times differ from run to
// run, so these lines are the one part of standard error that a parallel run does not
// repeat byte for byte.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "veltran/convert.h"
#include "veltran/tracked.h"

// A monotonic clock, in seconds.
double monotonic_seconds();

class run_stats
{
  public:
    // Room for the lines of files files; without it only the totals are said.
    explicit run_stats(std::size_t files);
    // Counts one delivered file: kind is its listing's, "echo", "none" (no listing
    // for its root) or "failed" (not loaded).
    void add(const char *path, std::string_view kind, const conversion &found);
    // Prints every file's line, then the totals over the seconds the run took.
    void print(double seconds) const;

  private:
    struct file_line {
        const char *path = "";
        std::string_view kind;
        std::size_t records = 0;
        long left_out = 0, cut = 0;
        std::uint64_t bytes = 0;
        double seconds = 0;
    };
    static void print_line(std::string_view name, const file_line &l);
    tracked_array<file_line> lines_;
    std::size_t count_ = 0;
    file_line total_;
    std::size_t files_ = 0;
};
