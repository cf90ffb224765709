#include "veltran/command_line.h"

#include <algorithm>
#include <array>

#include <unistd.h>

#ifndef VELTRAN_VERSION
#define VELTRAN_VERSION "unknown"
#endif

namespace
{

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

constexpr std::array<std::string_view, 18> banner_lines = {
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

// The banner's lines as one text, joined when the program is compiled.
constexpr std::size_t banner_length = [] {
    std::size_t n = 0;
    for (std::string_view line : banner_lines)
        n += line.size();
    return n;
}();
constexpr std::array<char, banner_length> banner_text = [] {
    std::array<char, banner_length> text{};
    std::size_t at = 0;
    for (std::string_view line : banner_lines)
        for (char c : line)
            text[at++] = c;
    return text;
}();

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
    "      --format=F     write F on standard output, for the whole run: records (the\n"
    "                     default) or jsonl, one JSON object per record, UTF-8\n"
    "      --stats        at the end, say on standard error for every file its kind,\n"
    "                     records written, items left out, fields cut, bytes and\n"
    "                     seconds, then the totals and MB per second\n"
    "  -jN, --jobs=N      convert up to N files at once (default: one per processor);\n"
    "                     each file in flight holds its own records and spill file.\n"
    "                     Output, diagnostics and markers stay in argument order\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Errors and warnings go to standard error. Exit status: 0 when every file was\n"
    "converted, 1 when some file could not be loaded, 2 when standard output could not\n"
    "be written.\n";

constexpr std::string_view version = "veltran " VELTRAN_VERSION "\n";

bool is_job_option(std::string_view arg)
{
    return arg.starts_with("--jobs") || arg.starts_with("-j");
}

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

// Help and version are acted on before any file is read, wherever they stand; the
// first of them met decides.
std::string_view asked_text(std::string_view arg)
{
    if (arg == "-h" || arg == "--help") return help;
    if (arg == "--version") return version;
    return {};
}

struct format_row {
    std::string_view text;
    output_format format;
};
constexpr std::array<format_row, 2> formats = {{
    {"--format=records", output_format::records},
    {"--format=jsonl", output_format::jsonl},
}};

// An option that acts on the whole run: true when arg is one, valid or not.
bool take_run_option(std::string_view arg, run_plan &plan, job::what &warning)
{
    warning = job::what::file;
    if (arg == "--stats") {
        plan.stats = true;
        return true;
    }
    if (!arg.starts_with("--format")) return false;
    const auto row = std::find_if(formats.begin(), formats.end(),
                                  [&](const format_row &r) { return r.text == arg; });
    if (row == formats.end())
        warning = job::what::bad_format;
    else
        plan.format = row->format;
    return true;
}

// An option: a setting for the files named after it, a job count for the whole run,
// or what to warn of (unknown options, "-" alone included, are ignored as they always
// were); file otherwise.
job::what take_option(std::string_view arg, settings &s, int &jobs)
{
    for (const option_row &row : options) {
        if (row.text == arg) {
            s.*row.setting = row.value;
            return job::what::file;
        }
    }
    if (const int n = job_count(arg); n > 0) {
        jobs = n;
        return job::what::file;
    }
    if (arg == "-") return job::what::dash;
    return is_job_option(arg) ? job::what::bad_job_count : job::what::unknown_option;
}

} // namespace

bool read_command_line(int argc, char **argv, run_plan &plan)
{
    if (argc <= 1) {
        plan.text = {banner_text.data(), banner_text.size()};
        return true;
    }
    for (int i = 1; i < argc && argv[i] && plan.text.empty(); ++i)
        plan.text = asked_text(argv[i]);
    if (!plan.text.empty()) return true;

    if (!plan.list.hold(std::size_t(argc - 1))) return false;
    settings s;
    int jobs = 0;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string_view arg = argv[i];
        job::what is = job::what::file;
        if (arg.starts_with('-')) {
            if (!take_run_option(arg, plan, is)) is = take_option(arg, s, jobs);
            if (is == job::what::file || s.quiet) continue;
        }
        plan.list[plan.count++] = job{is, argv[i], s};
        plan.files += is == job::what::file;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    plan.jobs = jobs > 0 ? jobs : online > 0 ? int(std::min<long>(online, max_jobs)) : 1;
    return true;
}
