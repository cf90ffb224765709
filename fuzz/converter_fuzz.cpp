// The converter's parts on a fuzzed body wrapped in one of the roots, in record mode
// and in echo mode, with and without the event filter and headings. The first byte
// picks the root and the options; the rest is the body. Checked against the tree the
// library itself loads from the same bytes: the file loads exactly when a tree loads;
// echo prints exactly the tree written as indented XML; every record line has its
// kind's field count (artists 13, locations 19 or 21, events 16) and ends in "|",
// after the heading when verbose; a root of another name writes nothing; every
// tracked block is released. Marker files are left to the converter's stored cases.
#include <algorithm>
#include <cstdlib>

#include "fuzz_support.h"
#include "qvxml/element.h"
#include "veltran/convert.h"

namespace
{

constexpr std::string_view roots[] = {"artists", "locations", "scheduledEvents", "events"};
constexpr std::string_view headings[] = {"Artists\n", "Locations\n", "Events\n"};

bool is_record(std::string_view line, std::size_t root)
{
    if (!line.starts_with("VELTRAN|") || line.size() < 9 || line.back() != '|') return false;
    const auto fields = std::count(line.begin(), line.end(), '|');
    // a location without contact ends in eight empty fields after field 11
    return root == 0   ? fields == 13
           : root == 2 ? fields == 16
                       : fields == 21 || (fields == 19 && line.ends_with("|||||||||"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t root = data[0] & 3;
    const bool echo = data[0] & 4, concert = data[0] & 8, heading = data[0] & 16;
    const std::string xml = "<" + std::string(roots[root]) + ">" +
                            std::string(reinterpret_cast<const char *>(data) + 1, size - 1) + "</" +
                            std::string(roots[root]) + ">";
    const allocation_balance balance;
    {
        const memory_file file(xml);
        xml_element *tree = document_parse_file(file.path());
        const std::string expected =
            tree && echo ? captured_stdout([&] { document_serialise_element(stdout, tree, 0); }) : "";
        const std::size_t kind = tree ? std::find(roots, roots + 3, tree->name) - roots : 3;
        document_drop(tree);
        const settings options{.type = concert ? 1 : 0, .echo = echo, .verbose = heading};
        conversion found;
        const std::string out = captured_stdout([&] {
            if (echo) {
                found.loaded = show_file(file.path());
            } else {
                convert_file(file.path(), options, found);
                if (found.loaded) found.records.emit(found.from, found.to);
            }
        });
        FUZZ_CHECK(found.loaded == (tree != nullptr));
        if (echo || kind == 3) FUZZ_CHECK(out == expected);
        std::string_view rest = out;
        if (!echo && kind < 3 && heading) {
            FUZZ_CHECK(rest.starts_with(headings[kind]));
            rest.remove_prefix(headings[kind].size());
        }
        for (std::size_t end; !echo && kind < 3 && !rest.empty(); rest.remove_prefix(end + 1)) {
            end = rest.find('\n');
            FUZZ_CHECK(end != rest.npos && is_record(rest.substr(0, end), kind));
        }
    }
    balance.check();
    return 0;
}
