// A streaming peer converter on expat: keeps the texts of one item at a time, keyed by
// their path below the item, and writes the item's lines when it closes, so memory
// stays flat whatever the size of the file. Text is kept as it stands in the file, as
// veltran keeps it: a run that expat decoded (a reference, a CRLF line end) is taken
// again from the file through the default handler, which also receives the references
// to entities the document type declares, left unexpanded once that handler is set.
//
//     peer_expat [--concert|--theatre|...] file.xml...
#include "peer_record.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <strings.h>

#include <expat.h>

namespace
{

enum class kind { artists, locations, events };

struct reader {
    XML_Parser parser = nullptr;
    bool stopped = false;
    kind listing = kind::artists;
    std::string_view item_name;
    std::span<const std::string_view> paths; // what the listing reads below an item
    int type = 0;
    int depth = 0; // the root is at depth 1, the items at 2
    std::string out;

    // The item being read: path below it, text of the open element, and for each
    // element: the field it fills (-1: none, -2: a style label, -3...-5: a date field).
    std::string path;
    std::vector<size_t> path_lengths;
    std::vector<int> fills;
    std::string text;
    bool in_cdata = false, want_raw = false;
    std::array<std::string, 21> values;
    std::array<bool, 21> present{};

    enum class run { before, in, after } style_run = run::before;
    bool label_taken = false;
    std::vector<std::string> labels;
    bool schedule_seen = false, in_schedule = false;
    std::vector<std::array<std::string, 3>> dates;
    std::array<bool, 3> date_set{};

    // The item as the record writers see it.
    peer::text get(std::string_view wanted) const
    {
        auto at = std::find(paths.begin(), paths.end(), wanted);
        if (at == paths.end() || !present[size_t(at - paths.begin())]) return std::nullopt;
        return std::string_view(values[size_t(at - paths.begin())]);
    }

    bool start_root(std::string_view name)
    {
        if (name == "artists")
            listing = kind::artists, item_name = "artist", paths = peer::artist_paths;
        else if (name == "locations")
            listing = kind::locations, item_name = "location", paths = peer::location_paths;
        else if (name == "scheduledEvents")
            listing = kind::events, item_name = "eventDescription", paths = peer::event_paths;
        else
            return false;
        return true;
    }

    void start_item()
    {
        present.fill(false);
        style_run = run::before;
        labels.clear();
        schedule_seen = in_schedule = false;
        dates.clear();
        path.clear();
    }

    // Which field an element below the item fills, if any.
    int field_of(std::string_view name)
    {
        int item_depth = depth - 2;
        if (item_depth == 1 && listing == kind::artists) {
            if (style_run == run::before && name == "artistStyle")
                style_run = run::in;
            else if (style_run == run::in && strcasecmp(std::string(name).c_str(), "artistStyle"))
                style_run = run::after;
            label_taken = false;
        }
        if (item_depth == 1 && listing == kind::events && name == "eventSchedule")
            in_schedule = !schedule_seen, schedule_seen = true;
        if (item_depth == 2 && style_run == run::in && name == "label" && !label_taken) {
            label_taken = true;
            return -2;
        }
        if (item_depth == 2 && in_schedule && name == "eventScheduleDate") {
            dates.emplace_back();
            date_set.fill(false);
        }
        if (item_depth == 3 && in_schedule &&
            path.starts_with("eventSchedule/eventScheduleDate/")) {
            constexpr std::array<std::string_view, 3> date_fields = {"date", "startHour",
                                                                     "endHour"};
            auto at = std::find(date_fields.begin(), date_fields.end(), name);
            if (at != date_fields.end() && !date_set[size_t(at - date_fields.begin())]) {
                date_set[size_t(at - date_fields.begin())] = true;
                return -3 - int(at - date_fields.begin());
            }
        }
        auto at = std::find(paths.begin(), paths.end(), std::string_view(path));
        if (at == paths.end() || present[size_t(at - paths.begin())]) return -1;
        present[size_t(at - paths.begin())] = true;
        values[size_t(at - paths.begin())].clear();
        return int(at - paths.begin());
    }

    void end_element()
    {
        int field = fills.back();
        if (field >= 0)
            values[size_t(field)] = text;
        else if (field == -2)
            labels.push_back(text);
        else if (field <= -3)
            dates.back()[size_t(-3 - field)] = text;
        if (depth == 3 && path == "eventSchedule") in_schedule = false;
        path.resize(path_lengths.back());
        path_lengths.pop_back();
        fills.pop_back();
    }

    void write_item()
    {
        if (listing == kind::artists) {
            peer::write_artist(out, *this, {labels.begin(), labels.end()});
        } else if (listing == kind::locations) {
            peer::write_location(out, *this);
        } else {
            std::vector<peer::schedule_date> views;
            for (const auto &date : dates)
                views.push_back({date[0], date[1], date[2]});
            peer::write_event(out, *this, type, views);
        }
        peer::flush(out);
    }
};

void XMLCALL on_start(void *data, const XML_Char *name, const XML_Char **)
{
    auto &r = *static_cast<reader *>(data);
    if (r.stopped) return;
    r.depth++;
    r.text.clear();
    bool go_on = true;
    if (r.depth == 1)
        go_on = r.start_root(name);
    else if (r.depth == 2 && (go_on = name == r.item_name))
        r.start_item();
    if (!go_on) { // an unknown root, or a child that ends the listing
        r.stopped = true;
        XML_StopParser(r.parser, XML_FALSE);
        return;
    }
    if (r.depth < 3) return;
    r.path_lengths.push_back(r.path.size());
    if (r.depth > 3) r.path += '/';
    r.path += name;
    r.fills.push_back(r.field_of(name));
}

void XMLCALL on_end(void *data, const XML_Char *)
{
    auto &r = *static_cast<reader *>(data);
    if (r.stopped) return;
    if (r.depth >= 3)
        r.end_element();
    else if (r.depth == 2)
        r.write_item();
    r.depth--;
}

void XMLCALL on_text(void *data, const XML_Char *s, int len)
{
    auto &r = *static_cast<reader *>(data);
    if (r.in_cdata) {
        peer::append_escaped(r.text, {s, size_t(len)});
    } else if (XML_GetCurrentByteCount(r.parser) == len) {
        r.text.append(s, size_t(len));
    } else { // decoded: the file's own bytes instead
        r.want_raw = true;
        XML_DefaultCurrent(r.parser);
        r.want_raw = false;
    }
}

// The raw text of a decoded run, or a reference to a declared entity in an element.
void XMLCALL on_default(void *data, const XML_Char *s, int len)
{
    auto &r = *static_cast<reader *>(data);
    if (r.want_raw || (r.depth >= 2 && len > 0 && s[0] == '&'))
        peer::append_raw(r.text, {s, size_t(len)});
}

void XMLCALL on_cdata_start(void *data)
{
    static_cast<reader *>(data)->in_cdata = true;
}

void XMLCALL on_cdata_end(void *data)
{
    static_cast<reader *>(data)->in_cdata = false;
}

void XMLCALL on_comment(void *, const XML_Char *) {}

} // namespace

// Feeds the file to expat in blocks; false when it is not well-formed XML.
bool convert(const char *name, int type, std::string &out)
{
    std::FILE *file = std::fopen(name, "rb");
    if (!file) return false;
    reader r;
    r.type = type;
    r.out.swap(out);
    r.parser = XML_ParserCreate(nullptr);
    XML_SetUserData(r.parser, &r);
    XML_SetElementHandler(r.parser, on_start, on_end);
    XML_SetCharacterDataHandler(r.parser, on_text);
    XML_SetCdataSectionHandler(r.parser, on_cdata_start, on_cdata_end);
    XML_SetCommentHandler(r.parser, on_comment);
    XML_SetDefaultHandler(r.parser, on_default);
    bool ok = true, end = false;
    while (ok && !end && !r.stopped) {
        constexpr int block = 1 << 16;
        void *buffer = XML_GetBuffer(r.parser, block);
        size_t got = buffer ? std::fread(buffer, 1, block, file) : 0;
        end = got < size_t(block);
        ok = buffer && XML_ParseBuffer(r.parser, int(got), end) != XML_STATUS_ERROR;
    }
    ok = ok || r.stopped;
    XML_ParserFree(r.parser);
    std::fclose(file);
    out.swap(r.out);
    return ok;
}

int main(int argc, char **argv)
{
    int type = 0;
    std::string out;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-')
            peer::read_type_option(argv[i], type);
        else if (!convert(argv[i], type, out))
            out += std::string("error: error parsing file") + argv[i] + "\n";
    }
    peer::flush(out, true);
    return 0;
}
