// event_titles.cpp: the title of each event of an export as the event closes, with the
// line it began on; then the export loaded whole, and the type of its first dated event
// written out.
#include <algorithm>
#include <cstdio>
#include <string>

#include "qvxml/qvxml.hpp"

namespace
{

int fail(const qvxml::result &r, const char *path)
{
    std::string message;
    r.message(message, path);
    std::fprintf(stderr, "event_titles: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    // Streamed: one event in memory at a time, released after the call.
    qvxml::result r =
        qvxml::stream_file(argv[1], [](qvxml::element, qvxml::element event, long line) {
            const std::string_view id = event.child("id").text();
            std::string title; // entity names such as &amp; decoded
            event.descendant("title").decoded_text(title);
            std::printf("line %ld: %.*s %s\n", line, int(id.size()), id.data(), title.c_str());
        });
    if (!r) return fail(r, argv[1]);

    // Whole: the tree, owned by doc, its children a range.
    qvxml::document doc;
    if (r = doc.load_file(argv[1]); !r) return fail(r, argv[1]);
    const auto children = doc.root().children();
    const auto dated = std::ranges::find_if(
        children, [](qvxml::element e) { return bool(e.descendant("eventScheduleDate")); });
    std::string xml;
    if (dated != children.end() &&
        qvxml::write((*dated).descendant("eventType"), xml) == qvxml::status_ok)
        std::fputs(xml.c_str(), stdout);
    std::printf("%d events\n", int(std::ranges::distance(children)));
    return 0;
}
