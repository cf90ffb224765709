// A peer converter on pugixml: loads the whole document, then walks it as veltran's
// listings do. With --parse-only it loads the document and does nothing else, the
// floor for any converter that builds a tree first. It loads with pugixml's default
// options less the decoding of references, which veltran leaves as they stand.
//
//     peer_pugixml [--concert|--theatre|...|--parse-only] file.xml...
#include "peer_record.h"

#include <algorithm>
#include <deque>
#include <strings.h>

#include <pugixml.hpp>

namespace
{

constexpr unsigned parse_options = pugi::parse_default & ~pugi::parse_escapes;

// The texts made for the current item: an element's text and CDATA children in a row.
std::deque<std::string> joined;

// An element's text as veltran takes it: the text and CDATA children in order, the
// sections escaped. The common leaf, one run of text, is the node's own value.
std::string_view text_of(pugi::xml_node element)
{
    pugi::xml_node first = element.first_child();
    if (!first) return {};
    if (first.type() == pugi::node_pcdata && !first.next_sibling()) return first.value();
    std::string &text = joined.emplace_back();
    for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_pcdata)
            text += child.value();
        else if (child.type() == pugi::node_cdata)
            peer::append_escaped(text, child.value());
    }
    return text;
}

// An item of the document; a path is followed through first children of each name.
struct node_item {
    pugi::xml_node node;
    peer::text get(std::string_view path) const
    {
        pugi::xml_node found = node;
        while (found && !path.empty()) {
            size_t end = std::min(path.find('/'), path.size());
            char name[64] = {};
            path.copy(name, std::min(end, sizeof name - 1));
            found = found.child(name);
            path.remove_prefix(std::min(end + 1, path.size()));
        }
        if (!found) return std::nullopt;
        return text_of(found);
    }
};

// The labels of the style run: the first artistStyle and the style elements after it,
// compared without regard to case, up to the first other element.
std::vector<std::string_view> style_labels(pugi::xml_node artist)
{
    std::vector<std::string_view> labels;
    for (pugi::xml_node style = artist.child("artistStyle"); style; style = style.next_sibling()) {
        if (strcasecmp(style.name(), "artistStyle") != 0) break;
        if (pugi::xml_node label = style.child("label")) labels.push_back(text_of(label));
    }
    return labels;
}

std::vector<peer::schedule_date> schedule(pugi::xml_node event)
{
    std::vector<peer::schedule_date> dates;
    for (pugi::xml_node date = event.child("eventSchedule").child("eventScheduleDate"); date;
         date = date.next_sibling("eventScheduleDate"))
        dates.push_back({text_of(date.child("date")), text_of(date.child("startHour")),
                         text_of(date.child("endHour"))});
    return dates;
}

// Writes the listing that the root's name selects; the first child of another name ends it.
void convert(pugi::xml_node root, int type, std::string &out)
{
    std::string_view kind = root.name();
    const char *item_name = kind == "artists"           ? "artist"
                            : kind == "locations"       ? "location"
                            : kind == "scheduledEvents" ? "eventDescription"
                                                        : nullptr;
    if (!item_name) return;
    for (pugi::xml_node item = root.first_child(); item; item = item.next_sibling()) {
        if (item.type() != pugi::node_element) continue;
        if (std::string_view(item.name()) != item_name) break;
        joined.clear();
        if (kind == "artists")
            peer::write_artist(out, node_item{item}, style_labels(item));
        else if (kind == "locations")
            peer::write_location(out, node_item{item});
        else
            peer::write_event(out, node_item{item}, type, schedule(item));
        peer::flush(out);
    }
}

} // namespace

int main(int argc, char **argv)
{
    int type = 0;
    bool parse_only = false;
    std::string out;
    for (int i = 1; i < argc; i++) {
        std::string_view arg = argv[i];
        if (arg == "--parse-only") parse_only = true;
        if (arg.starts_with("-")) {
            peer::read_type_option(arg, type);
            continue;
        }
        pugi::xml_document doc;
        if (!doc.load_file(argv[i], parse_options)) {
            std::printf("error: error parsing file%s\n", argv[i]);
            continue;
        }
        if (!parse_only) convert(doc.document_element(), type, out);
    }
    peer::flush(out, true);
    return 0;
}
