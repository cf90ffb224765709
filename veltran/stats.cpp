#include "veltran/stats.h"

#include <cinttypes>
#include <ctime>

#include "veltran/diagnostics.h"

double monotonic_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

run_stats::run_stats(std::size_t files)
{
    lines_.hold(files);
}

void run_stats::add(const char *path, std::string_view kind, const conversion &found)
{
    file_line l{path,
                kind,
                found.loaded ? found.written : 0,
                found.loaded ? found.found[warning_kind::item_left_out].count : 0,
                found.loaded ? found.found[warning_kind::field_cut].count : 0,
                found.bytes,
                found.seconds};
    if (count_ < lines_.size()) lines_[count_++] = l;
    ++files_;
    total_.records += l.records;
    total_.left_out += l.left_out;
    total_.cut += l.cut;
    total_.bytes += l.bytes;
}

void run_stats::print_line(std::string_view name, const file_line &l)
{
    print_diagnostic("stats: %.*s: %.*s, %zu records, %ld left out, %ld cut, %" PRIu64
                     " bytes, %.3f s",
                     int(name.size()), name.data(), int(l.kind.size()), l.kind.data(), l.records,
                     l.left_out, l.cut, l.bytes, l.seconds);
}

void run_stats::print(double seconds) const
{
    for (const file_line &l : lines_.items().first(count_))
        print_line(l.path, l);
    const double megabytes = double(total_.bytes) / 1e6;
    print_diagnostic("stats: total: %zu files, %zu records, %ld left out, %ld cut, %" PRIu64
                     " bytes, %.3f s, %.2f MB/s",
                     files_, total_.records, total_.left_out, total_.cut, total_.bytes, seconds,
                     seconds > 0 ? megabytes / seconds : 0.0);
}
