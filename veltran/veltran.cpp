// veltran: converts XML exports of an events listing (artists, locations, scheduled
// events) into flat "VELTRAN|...|" records on standard output, one record per line,
// and keeps the newest timestamp of the run in the marker files recent-<kind>.txt and
// recent-<kind>.xml in the working directory. What goes wrong is said on standard
// error: why a file could not be loaded, and what a file lost on the way.

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "veltran/command_line.h"
#include "veltran/convert.h"
#include "veltran/diagnostics.h"
#include "veltran/markers.h"
#include "veltran/output.h"
#include "veltran/pool.h"
#include "veltran/stats.h"

namespace
{

// Exit statuses: every file loaded and written; some file could not be loaded;
// standard output could not be written, whatever else happened.
constexpr int exit_loaded = 0;
constexpr int exit_unloaded = 1;
constexpr int exit_unwritten = 2;

// Says that standard output failed and gives the status that ends the run.
int unwritten(const checked_output &out)
{
    print_diagnostic("write error: %s", std::strerror(out.error()));
    return exit_unwritten;
}

// Delivers one file: its records (or its error line) to standard output, flushed, its
// diagnostics to standard error, then its markers, which are only written once its
// records are out. False when standard output failed; the run must end then.
bool deliver(const char *path, const settings &s, output_format format, conversion &found,
             newest_stamp &run, checked_output &out, int &status)
{
    if (!found.loaded) {
        // JSON Lines stay JSON: their reader learns of the file from the exit status
        // and standard error alone
        if (format == output_format::records) {
            out.write("error: error parsing file");
            out.write(path);
            out.write("\n");
        }
    } else if (!found.records.emit(found.from, found.to, out) && !out.failed()) {
        // the held records could not be read back: part of them may be out already
        print_diagnostic("%s: cannot read back the records: %s: %s", path, spill_folder(),
                         std::strerror(found.records.error()));
        status = exit_unwritten;
        return false;
    }
    if (!out.flush()) return false;
    if (!found.loaded) {
        print_failure(path, found.failure, spill_folder());
        status = exit_unloaded;
        return true;
    }
    if (!s.quiet) {
        static constexpr listing_names no_listing{"", ""};
        const listing_names names =
            found.root ? listing_names{found.root->item, found.root->required} : no_listing;
        print_warnings(path, found.found, names, found.failure);
    }
    if (s.echo) return true;
    merge_stamp(run, found.newest);
    if (found.root) write_markers(found.root->prefix, run, s.quiet != 0);
    return true;
}

// What a delivered file was, for the summary.
std::string_view kind_of(const job &file, const conversion &found)
{
    if (!found.loaded) return "failed";
    if (file.options.echo) return "echo";
    return found.root ? found.root->prefix : "none";
}

// An option that does nothing, said in its place unless quiet where it stands.
void warn_of(const job &option)
{
    const std::string_view arg = option.arg;
    if (option.is == job::what::dash)
        print_diagnostic("'-' ignored: to read standard input, name /dev/stdin");
    else if (option.is == job::what::bad_format)
        print_diagnostic("invalid format '%.*s' ignored: give --format=records or --format=jsonl",
                         int(arg.size()), arg.data());
    else if (option.is == job::what::bad_job_count)
        print_diagnostic("invalid job count '%.*s' ignored: give --jobs=N or -jN, N from 1",
                         int(arg.size()), arg.data());
    else
        print_diagnostic("unknown option '%.*s' ignored", int(arg.size()), arg.data());
}

// Without memory for the list of jobs nothing can be converted: every file is said to
// have failed for want of memory, as one that ran out while it loaded.
int report_unheld(int argc, char **argv, checked_output &out)
{
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (argv[i][0] == '-') continue;
        out.write("error: error parsing file");
        out.write(argv[i]);
        out.write("\n");
        if (!out.flush()) return unwritten(out);
        print_failure(argv[i], {.cause = failure_cause::no_memory}, spill_folder());
    }
    return exit_unloaded;
}

} // namespace

int main(int argc, char **argv)
{
    const double start = monotonic_seconds();
    checked_output out;
    run_plan plan;
    if (!read_command_line(argc, argv, plan)) return report_unheld(argc, argv, out);
    if (!plan.text.empty()) {
        out.write(plan.text);
        return out.flush() ? exit_loaded : unwritten(out);
    }
    // The files are converted by the pool and delivered here in argument order, the
    // options warned of in their places.
    file_pool pool{plan};
    pool.start();
    run_stats stats{plan.stats ? plan.files : 0};
    newest_stamp run;
    int status = exit_loaded;
    for (const job &next : plan.list.items().first(plan.count)) {
        if (next.is != job::what::file) {
            warn_of(next);
            continue;
        }
        conversion &found = pool.take(next);
        const bool delivered =
            deliver(next.arg, next.options, plan.format, found, run, out, status);
        if (plan.stats) stats.add(next.arg, kind_of(next, found), found);
        pool.done();
        if (!delivered) {
            if (out.failed()) status = unwritten(out);
            break;
        }
    }
    if (!out.failed() && !out.flush()) status = unwritten(out);
    if (plan.stats) stats.print(monotonic_seconds() - start);
    return status;
}
