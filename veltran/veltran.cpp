// veltran: converts XML exports of an events listing (artists, locations, scheduled
// events) into flat "VELTRAN|...|" records on standard output, one record per line,
// and keeps the newest timestamp of the run in the marker files recent-<kind>.txt and
// recent-<kind>.xml in the working directory.

#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>

#include "veltran/convert.h"

namespace
{

struct option_row {
    std::string_view text;
    int settings::*setting;
    int value;
};

// Unknown options, "-" alone included, are ignored without a message.
constexpr std::array<option_row, 13> options = {{
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
}};

void apply_option(settings &s, std::string_view text)
{
    for (const option_row &row : options) {
        if (row.text == text) {
            s.*row.setting = row.value;
            return;
        }
    }
}

void print_banner()
{
    constexpr std::array<std::string_view, 18> pieces = {
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
    for (std::string_view piece : pieces)
        std::fwrite(piece.data(), 1, piece.size(), stdout);
}

void print_failure(const char *path)
{
    std::printf("error: error parsing file%s\n", path);
}

// Prints the records of a file that loaded, takes its newest timestamp when newer
// than the run's, and writes the markers of its kind with the run's newest.
bool convert_and_print(const char *path, const settings &s, newest_stamp &run)
{
    conversion found;
    convert_file(path, s, found);
    if (!found.loaded) return false;
    found.records.emit(found.from, found.to);
    merge_stamp(run, found.newest);
    if (found.prefix) write_markers(found.prefix, run);
    return true;
}

} // namespace

// Arguments are taken strictly in order, so an option affects only the files named
// after it. The exit status is 1 when some named file could not be loaded.
int main(int argc, char **argv)
{
    if (argc == 1) print_banner();
    settings s;
    newest_stamp run;
    int status = 0;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char *arg = argv[i];
        if (arg[0] == '-') {
            apply_option(s, arg);
            continue;
        }
        if (s.echo ? show_file(arg) : convert_and_print(arg, s, run)) continue;
        print_failure(arg);
        status = 1;
    }
    return status;
}
