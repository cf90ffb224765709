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

#include "veltran/convert.h"
#include "veltran/diagnostics.h"
#include "veltran/output.h"
#include "veltran/pool.h"
#if VELTRAN_HAVE_SQLITE
#include "veltran/rows.h"
#endif

#include <unistd.h>

#ifndef VELTRAN_VERSION
#define VELTRAN_VERSION "unknown"
#endif

namespace
{

// Exit statuses: every file loaded and written; some file could not be loaded;
// standard output or the database could not be written (or the database was refused),
// whatever else happened.
constexpr int exit_loaded = 0;
constexpr int exit_unloaded = 1;
constexpr int exit_unwritten = 2;

struct option_row {
    std::string_view text;
    int settings::*setting;
    int value;
};

constexpr std::array<option_row, 15> options = {{
    {"-v", &settings::verbose, 1},
    {"--verbose", &settings::verbose, 1},
    {"-e", &settings::echo, 1},
    {"--echo", &settings::echo, 1},
    {"--concert", &settings::type, 1},
    {"--theatre", &settings::type, 7},
    {"--dance", &settings::type, 4},
    {"--clubbing", &settings::type, 2},
    {"--meeting", &settings::type, 3},
    {"--young", &settings::type, 5},
    {"--cinema", &settings::type, 6},
    {"--any", &settings::type, 0},
    {"--all", &settings::type, 0},
    {"-q", &settings::quiet, 1},
    {"--quiet", &settings::quiet, 1},
}};

// The job count of "--jobs=N" or "-jN": 1 to max_jobs (more is taken as max_jobs);
// 0 when the argument is not a job count.
int job_count(std::string_view arg)
{
    for (std::string_view form : {"--jobs=", "-j"}) {
        if (!arg.starts_with(form)) continue;
        arg.remove_prefix(form.size());
        long n = 0;
        for (char c : arg) {
            if (c < '0' || c > '9') return 0;
            n = std::min<long>(n * 10 + (c - '0'), max_jobs);
        }
        return arg.empty() ? 0 : int(n);
    }
    return 0;
}

bool is_job_option(std::string_view arg)
{
    return arg.starts_with("--jobs") || arg.starts_with("-j");
}

constexpr std::string_view db_option = "--db=";

bool is_db_option(std::string_view arg)
{
    return arg.starts_with("--db");
}

// The database file of "--db=FILE": the last one wherever it stands; null without
// one, and "" when one names no file.
const char *run_database(int argc, char **argv)
{
    const char *path = nullptr;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string_view arg = argv[i];
        if (is_db_option(arg)) path = arg.starts_with(db_option) ? argv[i] + db_option.size() : "";
    }
    return path;
}

// The run's job count: the last valid job option wherever it stands, else the number
// of processors online.
int run_jobs(int argc, char **argv)
{
    int jobs = 0;
    for (int i = 1; i < argc && argv[i]; ++i)
        if (const int n = job_count(argv[i]); n > 0) jobs = n;
    if (jobs > 0) return jobs;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(std::min<long>(online, max_jobs)) : 1;
}

// Unknown options, "-" alone included, are ignored as they always were, with a
// warning that says so when warn is set. Job options act on the whole run before it
// starts; here they are only checked.
void apply_option(settings &s, std::string_view text, bool warn)
{
    for (const option_row &row : options) {
        if (row.text == text) {
            s.*row.setting = row.value;
            return;
        }
    }
    if (!warn || s.quiet || (is_job_option(text) && job_count(text) > 0) || is_db_option(text))
        return;
    if (text == "-")
        print_diagnostic("'-' ignored: to read standard input, name /dev/stdin");
    else if (is_job_option(text))
        print_diagnostic("invalid job count '%.*s' ignored: give --jobs=N or -jN, N from 1",
                         int(text.size()), text.data());
    else
        print_diagnostic("unknown option '%.*s' ignored", int(text.size()), text.data());
}

constexpr std::array<std::string_view, 18> banner = {
    "\n   Veltran Integeration Tool : Version 1.0g",
    "\n   Beta Version : 06/10/2016",
    "\n   Copyright (c) the veltran developers. All rights reserved. \n",
    "\n   Usage   : ",
    "\n           veltran [options] filename.xml",
    "\n   Filters : ",
    "\n           --concert ",
    "\n           --theatre ",
    "\n           --dance   ",
    "\n           --clubbing",
    "\n           --meeting ",
    "\n           --young   ",
    "\n           --cinema  ",
    "\n           --any     ",
    "\n           --all     ",
    "\n   Options : ",
    "\n           --echo    ",
    "\n           --verbose\n\n",
};

constexpr std::string_view help =
    "Usage: veltran [options] file.xml ...\n"
    "Converts XML exports of artists, locations or scheduled events into VELTRAN records\n"
    "on standard output, and keeps the newest timestamp of the run in recent-<kind>.txt\n"
    "and recent-<kind>.xml in the working directory. Arguments are taken in order: an\n"
    "option applies to the files named after it. To read standard input, name /dev/stdin.\n"
    "\n"
    "  -v, --verbose      print a heading line before each listing's records\n"
    "  -e, --echo         print each file back as indented XML instead of converting it\n"
    "  -q, --quiet        print no warnings about the files named after it\n"
    "      --concert      write only events of type 1\n"
    "      --clubbing     write only events of type 2\n"
    "      --meeting      write only events of type 3\n"
    "      --dance        write only events of type 4\n"
    "      --young        write only events of type 5\n"
    "      --cinema       write only events of type 6\n"
    "      --theatre      write only events of type 7\n"
    "      --any, --all   write events of every type again\n"
    "  -jN, --jobs=N      convert up to N files at once (default: one per processor);\n"
    "                     each file in flight holds its own records and spill file.\n"
    "                     Output, diagnostics and markers stay in argument order\n"
    "      --db=FILE      load the records into the SQLite database FILE instead of\n"
    "                     writing them, one transaction per file; the markers follow\n"
    "                     the newest timestamps the database holds\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Errors and warnings go to standard error. Exit status: 0 when every file was\n"
    "converted, 1 when some file could not be loaded, 2 when standard output could not\n"
    "be written or the database failed.\n";

constexpr std::string_view version = "veltran " VELTRAN_VERSION "\n";

// Says that standard output failed and gives the status that ends the run.
int unwritten(const checked_output &out)
{
    print_diagnostic("write error: %s", std::strerror(out.error()));
    return exit_unwritten;
}

// Help and version are acted on before any file is read, wherever they stand; the
// first of them met decides. Null when neither is asked for.
const std::string_view *asked_text(int argc, char **argv)
{
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") return &help;
        if (arg == "--version") return &version;
    }
    return nullptr;
}

#if VELTRAN_HAVE_SQLITE
// The database of a run with --db, and its file name for diagnostics.
struct run_store {
    database db;
    const char *path;
};

// Loads a converted file's records into the database in one transaction and, once it
// is committed, writes the kind's markers from the newest timestamps the database
// holds, so an older export never moves them back. False when the database failed:
// the file is rolled back and the cause said.
bool store_file(run_store &store, const char *path, const settings &s, conversion &found)
{
    item_kind kind{};
    kind_of_prefix(found.root->prefix, kind);
    load_tally tally;
    const char *cause = nullptr;
    newest_stamp newest;
    if (!store.db.begin_file() ||
        (cause = load_records(found.records, found.from, found.to, kind, store.db, tally)) ||
        !store.db.commit_file(kind, found.newest) || !store.db.newest(kind, newest)) {
        print_diagnostic("%s: %s: %s", path, store.path, cause ? cause : store.db.cause());
        store.db.rollback_file();
        return false;
    }
    if (!s.quiet && tally.without_id > 0)
        print_diagnostic("%s: warning: %ld '%s' %s without an id not stored", path,
                         tally.without_id, found.root->item,
                         tally.without_id == 1 ? "element" : "elements");
    write_markers(found.root->prefix, newest, s.quiet != 0);
    return true;
}
#else
struct run_store;
#endif

// Delivers one file: its records (or its error line) to standard output, flushed, its
// diagnostics to standard error, then its markers, which are only written once its
// records are out. With a store, the records of a listing go into the database
// instead, and standard output carries only the error lines of files that could not
// be loaded, and echoes. False when standard output or the database failed; the run
// must end then.
bool deliver(const char *path, const settings &s, conversion &found, newest_stamp &run,
             checked_output &out, int &status, run_store *store)
{
    const bool stored = store && found.loaded && found.root && !s.echo;
    if (!found.loaded) {
        out.write("error: error parsing file");
        out.write(path);
        out.write("\n");
    } else if (!stored && !found.records.emit(found.from, found.to, out) && !out.failed()) {
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
#if VELTRAN_HAVE_SQLITE
    if (stored && !store_file(*store, path, s, found)) {
        status = exit_unwritten;
        return false;
    }
    if (store) return true;
#endif
    merge_stamp(run, found.newest);
    if (found.root) write_markers(found.root->prefix, run, s.quiet != 0);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    checked_output out;
    if (const std::string_view *text = asked_text(argc, argv)) {
        out.write(*text);
        return out.flush() ? exit_loaded : unwritten(out);
    }
    if (argc == 1) {
        for (std::string_view piece : banner)
            out.write(piece);
        return out.flush() ? exit_loaded : unwritten(out);
    }
    // The database is opened, or created, before any file is read: one that is refused
    // ends the run with nothing changed.
    run_store *store = nullptr;
    const char *db_path = run_database(argc, argv);
    if (db_path && *db_path == '\0') {
        print_diagnostic("--db needs a database file: give --db=FILE");
        return exit_unwritten;
    }
#if VELTRAN_HAVE_SQLITE
    run_store opened{{}, db_path};
    if (db_path) {
        if (!opened.db.open(db_path)) {
            print_diagnostic("%s: %s", db_path, opened.db.cause());
            return exit_unwritten;
        }
        store = &opened;
    }
#else
    if (db_path) {
        print_diagnostic("--db is not available: this veltran was built without SQLite");
        return exit_unwritten;
    }
#endif
    // The files are queued with the settings in force where each is named, converted
    // by the pool, and delivered here in the same order, options warned of in place.
    int files = 0;
    for (int i = 1; i < argc && argv[i]; ++i)
        files += argv[i][0] != '-';
    file_pool pool{run_jobs(argc, argv), files};
    settings s;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (argv[i][0] == '-')
            apply_option(s, argv[i], false);
        else
            pool.add(argv[i], s);
    }
    pool.start();
    s = settings{};
    newest_stamp run;
    int status = exit_loaded;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char *arg = argv[i];
        if (arg[0] == '-') {
            apply_option(s, arg, true);
            continue;
        }
        conversion &found = pool.take(arg, s);
        const bool delivered = deliver(arg, s, found, run, out, status, store);
        pool.done();
        if (!delivered) return out.failed() ? unwritten(out) : status;
    }
    return out.flush() ? status : unwritten(out);
}
