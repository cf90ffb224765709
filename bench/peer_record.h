// The record lines that veltran writes, for the peer converters that bench/compare.sh
// times against it. A peer finds an item's elements with its own XML library and hands
// them to the writers below through an accessor: get("contact/city") gives the text of
// the first element down that path (empty when it has none), or nothing when the path
// is missing. The text is the one veltran takes: references as they stand in the file,
// a CDATA section's text with &, < and > escaped, carriage returns dropped. The peers
// are only meant to be right on exports from gen_export.py, of every shape: no markers,
// no echo, no limit on field sizes.
#pragma once
#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peer
{

using text = std::optional<std::string_view>;

// The paths each kind reads below an item, in the order of its fields.
constexpr std::array<std::string_view, 11> artist_paths = {
    "id",         "name",    "creationDate",    "modificationDate", "picture",
    "thumbnail",  "website", "facebookFanPage", "twitterID",        "soundCloudChannel",
    "description"};
constexpr std::array<std::string_view, 21> location_paths = {"id",
                                                             "name",
                                                             "creationDate",
                                                             "modificationDate",
                                                             "logo",
                                                             "logoThumbnail",
                                                             "website",
                                                             "facebookFanPage",
                                                             "twitterID",
                                                             "soundCloudChannel",
                                                             "contact",
                                                             "contact/email",
                                                             "contact/addressLine1",
                                                             "contact/addressLine2",
                                                             "contact/zipCode",
                                                             "contact/city",
                                                             "contact/country",
                                                             "contact/phone1",
                                                             "contact/phone2",
                                                             "contact/lattitude",
                                                             "contact/longitude"};
constexpr std::array<std::string_view, 17> event_paths = {"id",
                                                          "creationDate",
                                                          "modificationDate",
                                                          "artist",
                                                          "artist/artistId",
                                                          "artist/name",
                                                          "location",
                                                          "location/id",
                                                          "location/name",
                                                          "location/contact",
                                                          "location/contact/email",
                                                          "location/contact/city",
                                                          "location/contact/country",
                                                          "event",
                                                          "event/title",
                                                          "event/picture",
                                                          "event/eventType/id"};

// One eventScheduleDate: its date, startHour and endHour texts.
using schedule_date = std::array<std::string_view, 3>;

// The event-type filter options; 0 lets every event through. False for anything else.
inline bool read_type_option(std::string_view arg, int &type)
{
    constexpr std::array<std::string_view, 9> names = {"--any",     "--concert", "--clubbing",
                                                       "--meeting", "--dance",   "--young",
                                                       "--cinema",  "--theatre", "--all"};
    for (size_t i = 0; i < names.size(); i++)
        if (arg == names[i]) {
            type = i == 8 ? 0 : int(i);
            return true;
        }
    return false;
}

// veltran skips the white space that opens an element's text.
inline std::string_view trimmed(std::string_view v)
{
    size_t first = v.find_first_not_of(" \t\r\n");
    return first == std::string_view::npos ? std::string_view() : v.substr(first);
}

inline void put_raw(std::string &out, std::string_view v)
{
    for (char c : trimmed(v))
        out += c == '\n' ? ' ' : c;
}

// A CDATA section's text as veltran gives it: as escaped text in its place would be.
inline void append_escaped(std::string &out, std::string_view v)
{
    for (char c : v) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c != '\r')
            out += c;
    }
}

// Text as it stands in the file, less its carriage returns.
inline void append_raw(std::string &out, std::string_view v)
{
    for (size_t cr; (cr = v.find('\r')) != std::string_view::npos; v.remove_prefix(cr + 1))
        out.append(v.substr(0, cr));
    out.append(v);
}

// A field: | written as &brvbar;, a line feed as a blank, then the separator.
inline void put_field(std::string &out, text v)
{
    for (char c : trimmed(v.value_or(""))) {
        if (c == '|')
            out += "&brvbar;";
        else
            out += c == '\n' ? ' ' : c;
    }
    out += '|';
}

inline bool has_text(text v)
{
    return v && !trimmed(*v).empty();
}

// The description stays on the line: line feeds and tabs become blanks, | and CR go.
inline void put_description(std::string &out, text v)
{
    for (char c : trimmed(v.value_or(""))) {
        if (c == '\n' || c == '\t')
            out += ' ';
        else if (c != '|' && c != '\r')
            out += c;
    }
    out += "|\n";
}

template <class Item>
void write_artist(std::string &out, const Item &item, const std::vector<std::string_view> &labels)
{
    if (!has_text(item.get("name"))) return;
    out += "VELTRAN|";
    for (size_t i = 0; i + 1 < artist_paths.size(); i++)
        put_field(out, item.get(artist_paths[i]));
    std::string styles;
    for (std::string_view label : labels) {
        if (trimmed(label).empty()) continue;
        if (!styles.empty()) styles += ',';
        styles += trimmed(label);
    }
    put_field(out, styles);
    put_description(out, item.get("description"));
}

template <class Item> void write_location(std::string &out, const Item &item)
{
    if (!has_text(item.get("name"))) return;
    out += "VELTRAN|";
    for (size_t i = 0; i < 10; i++)
        put_field(out, item.get(location_paths[i]));
    if (!item.get("contact")) {
        out += "||||||||\n";
        return;
    }
    for (size_t i = 11; i < 17; i++)
        put_field(out, item.get(location_paths[i]));
    text phone, mobile; // phone2 replaces phone1 in the same slot
    for (std::string_view path : {"contact/phone1", "contact/phone2"})
        if (text number = item.get(path); has_text(number))
            (trimmed(*number).starts_with("06") ? mobile : phone) = number;
    put_field(out, phone);
    put_field(out, mobile);
    for (std::string_view path : {"contact/lattitude", "contact/longitude"}) {
        text v = item.get(path);
        put_field(out, has_text(v) ? v : "0");
    }
    out += '\n';
}

// The common fields of an event's lines, or nothing when the type filter drops it.
template <class Item> std::optional<std::string> event_common(const Item &item, int type)
{
    std::string common;
    put_field(common, item.get("creationDate"));
    put_field(common, item.get("modificationDate"));
    if (item.get("artist")) {
        put_field(common, item.get("artist/artistId"));
        put_field(common, item.get("artist/name"));
    } else {
        common += "||";
    }
    if (item.get("location")) {
        put_field(common, item.get("location/id"));
        put_field(common, item.get("location/name"));
        if (item.get("location/contact")) {
            for (std::string_view path :
                 {"location/contact/email", "location/contact/city", "location/contact/country"})
                put_field(common, item.get(path));
        } else {
            common += "|||";
        }
    } else {
        common += "|||||";
    }
    if (!item.get("event")) {
        common += "||";
        return common;
    }
    put_field(common, item.get("event/title"));
    put_field(common, item.get("event/picture"));
    if (type != 0) {
        text id = item.get("event/eventType/id");
        if (!has_text(id) || std::atoi(std::string(*id).c_str()) != type) return std::nullopt;
    }
    return common;
}

// One line per date of the event's eventSchedule.
template <class Item>
void write_event(std::string &out, const Item &item, int type,
                 const std::vector<schedule_date> &dates)
{
    text id = item.get("id");
    if (!id) return;
    std::optional<std::string> common = event_common(item, type);
    if (!common) return;
    for (size_t n = 0; n < dates.size(); n++) {
        out += "VELTRAN|";
        put_raw(out, *id);
        if (n > 0) out += ':' + std::to_string(n);
        out += '|';
        out += *common;
        for (std::string_view field : dates[n])
            put_field(out, field);
        out += '\n';
    }
}

// Writes what has gathered once it is large, or at the end.
inline void flush(std::string &out, bool at_end = false)
{
    if (out.size() >= (1u << 16) || at_end) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
}

} // namespace peer
