// The converter's parts on a fuzzed body wrapped in one of the three roots, in record
// mode and in echo mode, with and without the event filter and headings. The first
// byte picks the root and the options; the rest is the body.
//
// Properties, checked against the tree the library itself loads from the same bytes:
// - the file loads (converted or echoed) exactly when a tree loads;
// - echo: the output is exactly the tree written as indented XML;
// - records: every line is a record with its kind's field count (artists 13,
//   locations 19 or 21, events 16) ending in "|", after the heading when verbose;
//   a root of another name writes nothing;
// - marker files hold the newest timestamp text exactly when one above 0 was seen;
// - every tracked block is released.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "qvxml/element.h"
#include "veltran/convert.h"

namespace
{

constexpr std::string_view roots[] = {"artists", "locations", "scheduledEvents", "events"};
constexpr const char *marker_names[] = {"recent-artists.txt",   "recent-artists.xml",
                                        "recent-locations.txt", "recent-locations.xml",
                                        "recent-events.txt",    "recent-events.xml"};

// A private working directory for the marker files, entered only around each run
// so that libFuzzer's own files land where it was started.
// A plain array, so that it outlives the exit handler that removes the directory.
char work_dir_name[] = "/tmp/converter-fuzz-XXXXXX";

std::string work_dir()
{
    static const bool made = [] {
        if (!mkdtemp(work_dir_name)) std::abort();
        std::atexit([] { std::filesystem::remove_all(work_dir_name); });
        return true;
    }();
    (void)made;
    return work_dir_name;
}

std::string read_whole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Converts (or echoes) path with options as the program does for one file, with
// standard output caught in a memory file; what the conversion found goes to found.
std::string run_converter(const char *path, const settings &options, conversion &found)
{
    const int out = memfd_create("converter-output", 0);
    const int saved = dup(1);
    const int back = open(".", O_RDONLY | O_DIRECTORY);
    FUZZ_CHECK(out >= 0 && saved >= 0 && back >= 0);
    std::fflush(stdout);
    dup2(out, 1);
    FUZZ_CHECK(chdir(work_dir().c_str()) == 0);
    if (options.echo) {
        found.loaded = show_file(path);
    } else {
        convert_file(path, options, found);
        if (found.loaded) found.records.emit(found.from, found.to);
        if (found.loaded && found.prefix) write_markers(found.prefix, found.newest);
    }
    std::fflush(stdout);
    FUZZ_CHECK(fchdir(back) == 0);
    dup2(saved, 1);
    close(saved);
    close(back);

    std::string text;
    char chunk[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(out, chunk, sizeof chunk, at);
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
        at += n;
    }
    close(out);
    return text;
}

// The tree written the way echo mode prints it.
std::string indented(const xml_element *root)
{
    char *text = nullptr;
    std::size_t size = 0;
    FILE *h = open_memstream(&text, &size);
    FUZZ_CHECK(h);
    document_serialise_element(h, root, 0);
    std::fclose(h);
    std::string s(text, size);
    std::free(text);
    return s;
}

bool is_record(std::string_view line, std::string_view root)
{
    if (line.size() < 9 || line.substr(0, 8) != "VELTRAN|" || line.back() != '|') return false;
    const auto fields = std::count(line.begin(), line.end(), '|');
    if (root == "artists") return fields == 13;
    if (root == "scheduledEvents") return fields == 16;
    // a location without contact ends in eight empty fields after field 11
    return fields == 21 || (fields == 19 && line.substr(line.size() - 9) == "|||||||||");
}

void check_records(const std::string &out, std::string_view root, bool with_heading)
{
    constexpr std::string_view headings[] = {"Artists", "Locations", "Events"};
    const auto known = std::find(roots, roots + 3, root) - roots;
    if (known == 3) {
        FUZZ_CHECK(out.empty());
        return;
    }
    FUZZ_CHECK(out.empty() || out.back() == '\n');
    std::size_t at = 0;
    if (with_heading) {
        const std::string first = std::string(headings[known]) + "\n";
        FUZZ_CHECK(out.compare(0, first.size(), first) == 0);
        at = first.size();
    }
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        FUZZ_CHECK(is_record(std::string_view(out).substr(at, end - at), root));
        at = end + 1;
    }
}

// Markers exist exactly when a timestamp above 0 was seen, and hold its text.
void check_markers(std::string_view root, bool converted, const newest_stamp &newest)
{
    const char *recent = newest.recent.data();
    const std::string dir = work_dir() + "/";
    const std::string prefix = root == "scheduledEvents" ? "events" : std::string(root);
    const bool expected =
        converted && newest.since > 0 && std::find(roots, roots + 3, root) != roots + 3;
    for (const char *name : marker_names) {
        const std::string path = dir + name;
        const bool ours = std::string_view(name).substr(7, prefix.size() + 1) == prefix + ".";
        if (!expected || !ours) {
            FUZZ_CHECK(!std::filesystem::exists(std::filesystem::symlink_status(path)));
            continue;
        }
        const std::string text = read_whole(path);
        if (std::string_view(name).ends_with(".txt")) {
            FUZZ_CHECK(text == std::string(recent) + "\n");
        } else {
            std::string quoted;
            for (const char *p = recent; *p; ++p)
                quoted += *p == '"' ? std::string("&quot;") : std::string(1, *p);
            FUZZ_CHECK(text == "<" + prefix + " recent=\"" + quoted + "\"/>\n");
        }
        std::filesystem::remove(path);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    const std::string_view root = roots[mode & 3];
    const bool echo_mode = mode & 4, concert = mode & 8, with_heading = mode & 16;
    std::string xml = "<" + std::string(root) + ">";
    xml.append(reinterpret_cast<const char *>(data) + 1, size - 1);
    xml += "</" + std::string(root) + ">";

    allocation_balance balance;
    {
        memory_file file(reinterpret_cast<const std::uint8_t *>(xml.data()), xml.size());
        xml_element *tree = document_parse_file(file.path());
        const std::string loaded_root = tree ? tree->name : "";
        const std::string expected_echo = tree && echo_mode ? indented(tree) : "";
        document_drop(tree);

        const settings options{.type = concert ? 1 : 0, .echo = echo_mode, .verbose = with_heading};
        conversion found;
        const std::string out = run_converter(file.path(), options, found);

        FUZZ_CHECK(found.loaded == (tree != nullptr));
        if (tree && echo_mode)
            FUZZ_CHECK(out == expected_echo);
        else if (tree)
            check_records(out, loaded_root, with_heading);
        else
            FUZZ_CHECK(out.empty());
        check_markers(loaded_root, tree && !echo_mode, found.newest);
    }
    balance.check();
    return 0;
}
