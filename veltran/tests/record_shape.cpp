#include "record_shape.h"

#include <algorithm>
#include <array>

#include "qvxml/element.h"
#include "veltran/convert.h"

std::string check_record_shape(std::string_view data)
{
    constexpr std::string_view roots[] = {"artists", "locations", "scheduledEvents", "events"};
    constexpr std::string_view headings[] = {"Artists\n", "Locations\n", "Events\n"};
    const bool whole = data.starts_with('<');
    const unsigned o = whole || data.empty() ? 16 : static_cast<unsigned char>(data[0]);
    const std::string root(roots[o & 3]), body(data.substr(!whole && !data.empty()));
    const memory_file file(whole ? body : '<' + root + '>' + body + "</" + root + '>');
    const bool echo = o & 4, heading = o & 16;
    const allocation_balance balance;
    std::string d;
    {
        xml_element *tree = document_parse_file(file.path());
        // echo, streamed, prints the tree loaded whole written as indented XML by the
        // tree printer; a root of another name (kind 3) writes nothing
        const std::size_t kind = tree ? std::find(roots, roots + 3, tree->name) - roots : 3;
        const bool loaded = tree != nullptr, records = !echo && kind < 3;
        const std::string shown =
            echo && tree ? captured_stdout([&] { document_serialise_element(stdout, tree, 0); })
                         : "";
        document_drop(tree);
        conversion found;
        const std::string out = captured_stdout([&] {
            if (echo)
                show_file(file.path(), found);
            else
                convert_file(file.path(), {.type = (o & 8) ? 1 : 0, .verbose = heading}, found);
            checked_output written;
            if (found.loaded) found.records.emit(found.from, found.to, written);
        });
        std::string_view rest = out;
        if (found.loaded != loaded) d = "converted, yet no tree loads, or the reverse";
        if (echo ? out != shown : kind == 3 && !out.empty()) d = "wrong output: " + out;
        if (records && heading && !rest.starts_with(headings[kind])) d = "no heading";
        if (records && heading && d.empty()) rest.remove_prefix(headings[kind].size());
        for (std::size_t end; d.empty() && records && !rest.empty(); rest.remove_prefix(end + 1)) {
            const std::string_view line = rest.substr(0, end = rest.find('\n'));
            const auto fields = std::ranges::count(line, '|');
            // artists 13 fields, locations 21, events 16; a location without contact ends in
            // eight empty fields after field 11 (19 in all); a line without an end is no
            // record (end + 1 is then 0)
            if (end == rest.npos || !line.starts_with("VELTRAN|") || line.back() != '|' ||
                (fields != std::array{13, 21, 16}[kind] &&
                 (kind != 1 || fields != 19 || !line.ends_with("|||||||||"))))
                d = "not a record line: " + std::string(line);
        }
    }
    return d.empty() ? balance.unbalanced() : d;
}
