#include "veltran/listings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include <strings.h>

namespace
{

bool has_text(const xml_element *e)
{
    return e && e->value;
}

constexpr std::string_view record_tag = "VELTRAN|"; // what every record begins with

template <std::size_t N> using found_children = std::array<const xml_element *, N>;

// True when name is spelled exactly as known. With known a constant the comparison
// unrolls to a test a byte, most names failing at the first; name is read no further
// than its terminator, as every byte tested before it matched a byte of known.
inline bool is_named(const char *name, std::string_view known)
{
    for (std::size_t i = 0; i < known.size(); ++i)
        if (name[i] != known[i]) return false;
    return name[known.size()] == '\0';
}

// Keeps c in slot unless an earlier child is there; always true.
bool keep_first(const xml_element *&slot, const xml_element *c)
{
    if (!slot) slot = c;
    return true;
}

// The first child of each name in names, found in one pass over the children of
// parent: null where no child has the name, and everywhere for a null parent.
template <const auto &names> auto index_children(const xml_element *parent)
{
    found_children<names.size()> found{};
    if (!parent) return found;
    for (const xml_element *c = parent->first; c; c = c->next) {
        if (!c->name) continue;
        // one comparison a name, each name a constant; the first that matches ends
        // the search, as the names are distinct
        const auto take_first = [&]<std::size_t... i>(std::index_sequence<i...>)
        {
            (void)((is_named(c->name, names[i]) && keep_first(found[i], c)) || ...);
        };
        take_first(std::make_index_sequence<names.size()>{});
    }
    return found;
}

template <std::size_t N>
constexpr std::size_t position(const std::array<const char *, N> &names, std::string_view name)
{
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name) return i;
    return N;
}

// A fixed run of separators standing in for a group of missing elements.
void put_run(field_sink &out, std::string_view run)
{
    for (std::size_t i = 0; i < run.size(); ++i)
        out.separator();
}

// The children of one parent as a group of fields, or the run that stands in for
// all of them when the parent is missing.
template <const auto &names>
void put_group(field_sink &out, const xml_element *parent, std::string_view missing)
{
    if (!parent) {
        put_run(out, missing);
        return;
    }
    for (const xml_element *child : index_children<names>(parent))
        put_element(out, child, "", 1);
}

const char *text_of(const xml_element *e)
{
    return has_text(e) ? e->value : "";
}

void note_cut(listing_run &run)
{
    run.found.note(warning_kind::field_cut, run.item_line, run.item_id);
}

void put_stamp(listing_run &run, field_sink &out, const xml_element *stamp)
{
    if (!put_tracked_stamp(out, run.newest, stamp)) note_cut(run);
}

// ---------------------------------------------------------------------------
// Artists and locations: flat records, one field per child in table order, from
// the id through to the last field. An item without a name gives no record.

enum class field_kind { text, stamp, styles, description, contact };

struct field_row {
    const char *name;
    field_kind kind;
};

template <std::size_t N>
constexpr std::array<const char *, N> names_of(const std::array<field_row, N> &rows)
{
    std::array<const char *, N> names{};
    for (std::size_t i = 0; i < N; ++i)
        names[i] = rows[i].name;
    return names;
}

constexpr std::size_t style_capacity = 16000;

// Joins the labels of the style run with ",". The run starts at the first child
// spelled exactly "artistStyle" and goes on through siblings of that name in any
// case. The join stops before the first label that no longer fits the store.
void put_styles(listing_run &run, field_sink &out, const xml_element *first_style)
{
    std::array<char, style_capacity> store;
    std::size_t length = 0;
    store[0] = '\0';
    for (const xml_element *s = first_style; s; s = s->next) {
        if (!s->name) continue;
        // most are spelled exactly so, which is quicker to tell than any case
        if (!is_named(s->name, "artistStyle") && strcasecmp(s->name, "artistStyle") != 0) break;
        const xml_element *label = document_element(s, "label");
        if (!has_text(label)) continue;
        const std::string_view text = label->value;
        const std::size_t comma = length == 0 ? 0 : 1;
        if (comma + text.size() > store.size() - 1 - length) {
            note_cut(run);
            break;
        }
        if (comma) store[length++] = ',';
        std::memcpy(store.data() + length, text.data(), text.size());
        length += text.size();
        store[length] = '\0';
    }
    put_field(out, store.data(), 1);
}

// The description keeps the record on one line by its own rule: line feeds and tabs
// become blanks, carriage returns and "|" are dropped. It is written straight from
// the element's text, so running out of memory can never empty it.
void put_description(field_sink &out, const xml_element *description)
{
    for (const char *p = has_text(description) ? description->value : ""; *p;) {
        const std::size_t run = std::strcspn(p, "\n\t\r|");
        out.put({p, run});
        p += run;
        if (*p == '\0') break;
        if (*p == '\n' || *p == '\t') out.put(" ");
        ++p;
    }
    out.separator();
}

constexpr std::array<const char *, 10> contact_children = {
    "email",   "addressLine1", "addressLine2", "zipCode",   "city",
    "country", "phone1",       "phone2",       "lattitude", "longitude"};
constexpr std::size_t contact_address = 6; // the first six children, written as they are
constexpr std::size_t phone1_child = position(contact_children, "phone1");
constexpr std::size_t phone2_child = position(contact_children, "phone2");
constexpr std::size_t lattitude_child = position(contact_children, "lattitude");
constexpr std::size_t longitude_child = position(contact_children, "longitude");
static_assert(longitude_child < contact_children.size());
// Without contact the address, the phones and the coordinates are all left out:
// eight empty fields stand for the six address fields and two phones, and the two
// coordinates are absent rather than "0".
constexpr std::string_view no_location_contact = "||||||||";
static_assert(no_location_contact.size() == contact_address + 2);

// Telephone and mobile: a number starting with "06" is the mobile, any other the
// telephone; phone2 replaces what phone1 put in the same slot.
void put_phones(field_sink &out, const found_children<contact_children.size()> &found)
{
    const char *telephone = "";
    const char *mobile = "";
    for (const xml_element *phone : {found[phone1_child], found[phone2_child]}) {
        if (!has_text(phone)) continue;
        if (std::strncmp(phone->value, "06", 2) == 0)
            mobile = phone->value;
        else
            telephone = phone->value;
    }
    put_field(out, telephone, 1);
    put_field(out, mobile, 1);
}

void put_contact(field_sink &out, const xml_element *contact)
{
    if (!contact) {
        put_run(out, no_location_contact);
        return;
    }
    const auto found = index_children<contact_children>(contact);
    for (std::size_t i = 0; i < contact_address; ++i)
        put_element(out, found[i], "", 1);
    put_phones(out, found);
    put_element(out, found[lattitude_child], "0", 1);
    put_element(out, found[longitude_child], "0", 1);
}

template <std::size_t N>
void write_flat_record(listing_run &run, const std::array<field_row, N> &fields,
                       const found_children<N> &found)
{
    field_sink out{run.records};
    out.put(record_tag);
    for (std::size_t i = 0; i < N; ++i) {
        switch (fields[i].kind) {
        case field_kind::text:
            put_element(out, found[i], "", 1);
            break;
        case field_kind::stamp:
            put_stamp(run, out, found[i]);
            break;
        case field_kind::styles:
            put_styles(run, out, found[i]);
            break;
        case field_kind::description:
            put_description(out, found[i]);
            break;
        case field_kind::contact:
            put_contact(out, found[i]);
            break;
        }
    }
    out.put("\n");
}

constexpr std::array<field_row, 12> artist_fields = {{
    {"id", field_kind::text},
    {"name", field_kind::text},
    {"creationDate", field_kind::stamp},
    {"modificationDate", field_kind::stamp},
    {"picture", field_kind::text},
    {"thumbnail", field_kind::text},
    {"website", field_kind::text},
    {"facebookFanPage", field_kind::text},
    {"twitterID", field_kind::text},
    {"soundCloudChannel", field_kind::text},
    {"artistStyle", field_kind::styles},
    {"description", field_kind::description},
}};

constexpr std::array<field_row, 11> location_fields = {{
    {"id", field_kind::text},
    {"name", field_kind::text},
    {"creationDate", field_kind::stamp},
    {"modificationDate", field_kind::stamp},
    {"logo", field_kind::text},
    {"logoThumbnail", field_kind::text},
    {"website", field_kind::text},
    {"facebookFanPage", field_kind::text},
    {"twitterID", field_kind::text},
    {"soundCloudChannel", field_kind::text},
    {"contact", field_kind::contact},
}};

// One artist or location: its flat record, or nothing when its name has no text.
template <const auto &fields> void write_flat_item(listing_run &run, const xml_element *item)
{
    static constexpr auto children = names_of(fields);
    static constexpr std::size_t name = position(children, "name");
    static constexpr std::size_t id = position(children, "id");
    const auto found = index_children<children>(item);
    run.item_id = text_of(found[id]);
    if (!has_text(found[name])) {
        run.found.note(warning_kind::item_left_out, run.item_line, run.item_id);
        return;
    }
    write_flat_record(run, fields, found);
}

// ---------------------------------------------------------------------------
// Scheduled events: one record per scheduled date, each the date line's own fields
// around a common text built once per event.

constexpr std::size_t event_id_capacity = 64;
// the tag and an identifier of event_id_capacity - 1 "|", each escaped, and the terminator
constexpr std::size_t tagged_id_capacity =
    record_tag.size() + (event_id_capacity - 1) * bar_escape.size() + 1;
constexpr std::size_t common_capacity = 8192;
constexpr std::size_t common_fields = 11;    // fields 3 to 13 of a date line
constexpr std::size_t counter_capacity = 16; // ":" and the digits of an unsigned number

enum description_child : std::size_t {
    id_child,
    created_child,
    modified_child,
    artist_child,
    location_child,
    event_child,
    schedule_child,
};
constexpr std::array<const char *, 7> description_children = {
    "id", "creationDate", "modificationDate", "artist", "location", "event", "eventSchedule"};
static_assert(position(description_children, "eventSchedule") == schedule_child);

constexpr std::array<const char *, 2> event_artist = {"artistId", "name"};
constexpr std::string_view no_event_artist = "||";
static_assert(no_event_artist.size() == event_artist.size());

constexpr std::array<const char *, 3> event_place = {"id", "name", "contact"};
constexpr std::size_t event_contact_child = position(event_place, "contact");
constexpr std::array<const char *, 3> event_contact = {"email", "city", "country"};
constexpr std::string_view no_event_contact = "|||";
static_assert(no_event_contact.size() == event_contact.size());
constexpr std::string_view no_event_location = "|||||";
static_assert(no_event_location.size() == event_contact_child + event_contact.size());

constexpr std::array<const char *, 3> event_proper = {"title", "picture", "eventType"};
constexpr std::size_t event_type_child = position(event_proper, "eventType");
constexpr std::string_view no_event_proper = "||";
static_assert(no_event_proper.size() == event_type_child);

constexpr std::array<const char *, 3> schedule_date = {"date", "startHour", "endHour"};

static_assert(2 + event_artist.size() + no_event_location.size() + no_event_proper.size() ==
              common_fields);

// Reads the number the way atoi does (white space, an optional sign, digits) but
// saturates far outside the range of int instead of overflowing, so an oversized
// number simply matches no type.
long long leading_int(const char *p)
{
    constexpr long long ceiling = 1LL << 40;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        n = std::min(ceiling, n * 10 + (*p - '0'));
    return negative ? -n : n;
}

bool has_type(const xml_element *event_type, int type)
{
    const xml_element *id = document_element(event_type, "id");
    return has_text(id) && leading_int(id->value) == type;
}

void put_event_location(field_sink &common, const xml_element *location)
{
    if (!location) {
        put_run(common, no_event_location);
        return;
    }
    const auto found = index_children<event_place>(location);
    for (std::size_t i = 0; i < event_contact_child; ++i)
        put_element(common, found[i], "", 1);
    put_group<event_contact>(common, found[event_contact_child], no_event_contact);
}

// ":" and the decimal digits of n, written at the end of store.
std::string_view date_number(std::array<char, counter_capacity> &store, unsigned n)
{
    char *const end = store.data() + store.size();
    char *p = end;
    do {
        *--p = char('0' + n % 10);
        n /= 10;
    } while (n != 0);
    *--p = ':';
    return {p, std::size_t(end - p)};
}

// One line per scheduled date: the tag and the identifier (numbered from the second
// date on), the common text and the date's own three fields.
void put_date_line(listing_run &run, std::string_view tagged_id, unsigned counter,
                   std::string_view common, const xml_element *when)
{
    field_sink out{run.records};
    out.put(tagged_id);
    if (counter != 0) {
        std::array<char, counter_capacity> number;
        out.put(date_number(number, counter));
    }
    out.separator();
    out.put(common);
    for (const xml_element *field : index_children<schedule_date>(when))
        put_element(out, field, "", 1);
    out.put("\n");
}

void write_event_schedule(listing_run &run, const xml_element *description)
{
    const auto found = index_children<description_children>(description);
    if (!has_text(found[id_child])) { // an id without text is passed over like a missing one
        run.found.note(warning_kind::item_left_out, run.item_line, "");
        return;
    }
    run.item_id = found[id_child]->value;
    std::array<char, event_id_capacity> id;
    if (!copy_bounded(id.data(), id.size(), run.item_id)) note_cut(run);

    std::array<char, common_capacity> store;
    field_sink common{store.data(), store.size(), common_fields};
    put_stamp(run, common, found[created_child]);
    put_stamp(run, common, found[modified_child]);
    put_group<event_artist>(common, found[artist_child], no_event_artist);
    put_event_location(common, found[location_child]);
    if (const xml_element *event = found[event_child]) {
        const auto proper = index_children<event_proper>(event);
        for (std::size_t i = 0; i < event_type_child; ++i)
            put_element(common, proper[i], "", 1);
        const int type = run.options.type;
        if (type != 0 && !has_type(proper[event_type_child], type)) return;
    } else {
        put_run(common, no_event_proper);
    }

    if (common.cut()) note_cut(run);

    // the tag and the escaped identifier begin every date line, so they are written
    // once; the store holds them whole however many "|" the identifier has
    std::array<char, tagged_id_capacity> tagged_id_store;
    field_sink tagged_id{tagged_id_store.data(), tagged_id_store.size(), 0};
    tagged_id.put(record_tag);
    put_field(tagged_id, id.data(), 0);

    const xml_element *schedule = found[schedule_child];
    unsigned counter = 0;
    for (const xml_element *when = schedule ? schedule->first : nullptr; when; when = when->next) {
        if (!when->name || !is_named(when->name, "eventScheduleDate")) continue;
        put_date_line(run, tagged_id.text(), counter++, common.text(), when);
    }
    if (counter == 0) run.found.note(warning_kind::event_without_dates, run.item_line, run.item_id);
}

constexpr std::array<listing, 3> listings = {{
    {"artists", "artist", "name", "Artists", write_flat_item<artist_fields>, "artists"},
    {"locations", "location", "name", "Locations", write_flat_item<location_fields>, "locations"},
    {"scheduledEvents", "eventDescription", "id", "Events", write_event_schedule, "events"},
}};

} // namespace

const listing *listing_for(const char *root)
{
    if (!root) return nullptr;
    for (const listing &row : listings)
        if (std::strcmp(root, row.root) == 0) return &row;
    return nullptr;
}
