// The converter end to end on a fuzzed body wrapped in one of the three roots, in
// record mode and in echo mode, with and without the event filter and headings.
// The first byte picks the root and the options; the rest is the body.
//
// Properties, checked against the tree the library itself loads from the same bytes:
// - no tree: the output is exactly the error line, the exit status is 1, and the
//   newest timestamp of the run is left as it was;
// - echo: the output is exactly the tree written as indented XML, and no marker file;
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
#include <vector>

#include "fuzz_support.h"
#include "qvxml/element.h"

// The converter, compiled into this target with its main renamed, and its settings.
int veltran_main(int argc, char **argv);
extern int type;
extern int echo;
extern int verbose;
extern std::uint64_t since;
extern char recent[256];

namespace {

constexpr std::string_view roots[] = {"artists", "locations", "scheduledEvents", "events"};
constexpr const char *marker_names[] = {"recent-artists.txt",   "recent-artists.xml", "recent-locations.txt",
                                        "recent-locations.xml", "recent-events.txt",  "recent-events.xml"};

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

// Runs the converter on argv with standard output caught in a memory file.
std::string run_converter(std::vector<std::string> args, int &status)
{
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const int out = memfd_create("converter-output", 0);
    const int saved = dup(1);
    const int back = open(".", O_RDONLY | O_DIRECTORY);
    FUZZ_CHECK(out >= 0 && saved >= 0 && back >= 0);
    std::fflush(stdout);
    dup2(out, 1);
    FUZZ_CHECK(chdir(work_dir().c_str()) == 0);
    status = veltran_main(static_cast<int>(args.size()), argv.data());
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
void check_markers(std::string_view root, bool converted)
{
    const std::string dir = work_dir() + "/";
    const std::string prefix = root == "scheduledEvents" ? "events" : std::string(root);
    const bool expected = converted && since > 0 && std::find(roots, roots + 3, root) != roots + 3;
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
            for (const char *p = recent; *p; ++p) quoted += *p == '"' ? std::string("&quot;") : std::string(1, *p);
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

        type = 0;
        echo = 0;
        verbose = 0;
        since = 0;
        recent[0] = '\0';
        std::vector<std::string> args = {"veltran"};
        if (with_heading) args.push_back("-v");
        if (echo_mode) args.push_back("--echo");
        if (concert) args.push_back("--concert");
        args.push_back(file.path());
        int status = -1;
        const std::string out = run_converter(args, status);

        if (!tree) {
            FUZZ_CHECK(out == "error: error parsing file" + std::string(file.path()) + "\n");
            FUZZ_CHECK(status == 1);
            FUZZ_CHECK(since == 0 && recent[0] == '\0'); // a file that fails counts for nothing
        } else {
            FUZZ_CHECK(status == 0);
            if (echo_mode)
                FUZZ_CHECK(out == expected_echo);
            else
                check_records(out, loaded_root, with_heading);
        }
        check_markers(loaded_root, tree && !echo_mode);
    }
    balance.check();
    return 0;
}
