#include "veltran/listings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <climits>
#include <cstring>
#include <span>
#include <utility>

#include <strings.h>

#include "qvxml/allocate.h"
#include "veltran/field_scan.h"

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

// The first child of parent spelled exactly as known; null when there is none. The
// children are tested with is_named, so a constant name costs a byte test a child.
inline const xml_element *child_named(const xml_element *parent, std::string_view known)
{
    for (const xml_element *c = parent->first; c; c = c->next)
        if (c->name && is_named(c->name, known)) return c;
    return nullptr;
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

constexpr std::size_t style_capacity = 16000;
constexpr std::size_t max_fields = 20; // of a record, the tag not counted: a location's

// ---------------------------------------------------------------------------
// Where the fields of a record go. A listing writes every field through one of two
// targets with the same calls: line_target puts it straight into a record line,
// field_list keeps it by name for a field_writer. Each call names the field as
// veltran(1) does; the record line has no use for the name, which costs it nothing.

class line_target
{
  public:
    explicit line_target(field_sink &out) : out_{out} {}
    void text(std::string_view, const xml_element *e, const char *fallback = "")
    {
        put_element(out_, e, fallback, 1);
    }
    void value(std::string_view, const char *text) { put_field(out_, text, 1); }
    // The styles joined in a store of the caller's.
    void joined(std::string_view, const char *text) { put_field(out_, text, 1); }
    // False when the text the newest rule took over was cut.
    bool stamp(std::string_view, newest_stamp &newest, const xml_element *e)
    {
        return put_tracked_stamp(out_, newest, e);
    }
    // A missing group: one empty field a name.
    void missing(std::span<const std::string_view> names)
    {
        for (std::size_t i = 0; i < names.size(); ++i)
            out_.separator();
    }
    void description(const xml_element *description);

  private:
    field_sink &out_;
};

// The description keeps the record on one line by its own rule: line feeds and tabs
// become blanks, carriage returns and "|" are dropped. It is written straight from
// the element's text, so running out of memory can never empty it.
void line_target::description(const xml_element *description)
{
    for (const char *p = has_text(description) ? description->value : ""; *p;) {
        const std::size_t run = std::strcspn(p, "\n\t\r|");
        out_.put({p, run});
        p += run;
        if (*p == '\0') break;
        if (*p == '\n' || *p == '\t') out_.put(" ");
        ++p;
    }
    out_.separator();
}

// The fields of one record by name, their texts as the record line holds them. A text
// that the line writes as it stands is kept where it is, in the item's tree; one that
// the line escapes or cleans is written, so escaped, into a scratch store of the
// record's, and found there by its place when the record is handed on.
class field_list
{
  public:
    field_list() = default;
    field_list(const field_list &) = delete;
    field_list &operator=(const field_list &) = delete;
    ~field_list() { liberate(scratch_); }

    void text(std::string_view name, const xml_element *e, const char *fallback = "")
    {
        value(name, has_text(e) ? e->value : fallback);
    }
    // Escaped as put_field escapes it.
    void value(std::string_view name, const char *text)
    {
        const std::size_t run = field_stop(text);
        if (text[run] == '\0') return add({name, text, 0, run, false});
        const std::size_t from = used_;
        put_escaped(text);
        add(held(name, from));
    }
    // The joined text lives in the caller's store, so it is always copied.
    void joined(std::string_view name, const char *text)
    {
        const std::size_t from = used_;
        put_escaped(text);
        add(held(name, from));
    }
    bool stamp(std::string_view name, newest_stamp &newest, const xml_element *e)
    {
        const char *text = has_text(e) ? e->value : "";
        value(name, text);
        bool whole = true;
        item_newest_ = std::max(item_newest_, track_stamp(newest, text, whole));
        return whole;
    }
    void missing(std::span<const std::string_view> names)
    {
        for (std::string_view name : names)
            add({name, "", 0, 0, false});
    }
    // The description's own rule: line feeds and tabs become blanks, carriage returns
    // and "|" are dropped.
    void description(const xml_element *description)
    {
        const char *text = has_text(description) ? description->value : "";
        const std::size_t run = std::strcspn(text, "\n\t\r|");
        if (text[run] == '\0') return add({"description", text, 0, run, false});
        const std::size_t from = used_;
        for (const char *p = text; *p; ++p) {
            if (*p == '\r' || *p == '|') continue;
            put_scratch(*p == '\n' || *p == '\t' ? " " : std::string_view{p, 1});
        }
        add(held("description", from));
    }
    // Field index (already added) as the event identifier of one date line: the
    // identifier escaped, then number.
    void set_date_id(std::size_t index, const char *id, std::string_view number)
    {
        const std::size_t from = used_;
        put_escaped(id);
        put_scratch(number);
        entries_[index] = held("id", from);
    }

    // How far the fields and the scratch store have come, to go back to.
    struct place {
        std::size_t count, used;
    };
    place mark() const { return {count_, used_}; }
    void rewind(place p)
    {
        count_ = p.count;
        used_ = p.used;
    }
    // The record, valid until the next change.
    field_record record(std::string_view item_id, unsigned date)
    {
        for (std::size_t i = 0; i < count_; ++i) {
            const entry &e = entries_[i];
            fields_[i] = {e.name, {e.held ? scratch_ + e.offset : e.text, e.length}};
        }
        return {{fields_.data(), count_}, item_id, item_newest_, date};
    }
    // True once the scratch store could not grow, and some field was cut.
    bool cut() const { return cut_; }

  private:
    struct entry {
        std::string_view name;
        const char *text;   // when not held
        std::size_t offset; // in the scratch store, when held
        std::size_t length;
        bool held;
    };
    entry held(std::string_view name, std::size_t from) const
    {
        return {name, nullptr, from, used_ - from, true};
    }
    void add(const entry &e)
    {
        if (count_ < entries_.size()) entries_[count_++] = e;
    }
    void put_escaped(const char *text)
    {
        for (const char *p = text; *p;) {
            const std::size_t run = field_stop(p);
            put_scratch({p, run});
            p += run;
            if (*p == '\0') break;
            put_scratch(*p == '|' ? bar_escape : " ");
            ++p;
        }
    }
    void put_scratch(std::string_view s)
    {
        if (s.empty() || !room(s.size())) return;
        std::memcpy(scratch_ + used_, s.data(), s.size());
        used_ += s.size();
    }
    // Room for n more bytes; false, and the field cut, when memory ran out.
    bool room(std::size_t n)
    {
        if (n <= capacity_ - used_) return true;
        const std::size_t wanted = std::max({2 * capacity_, used_ + n, scratch_start});
        void *grown = wanted <= std::size_t(INT_MAX) ? allocate(int(wanted)) : nullptr;
        if (!grown) {
            cut_ = true;
            return false;
        }
        if (used_ > 0) std::memcpy(grown, scratch_, used_);
        liberate(scratch_);
        scratch_ = static_cast<char *>(grown);
        capacity_ = wanted;
        return true;
    }
    static constexpr std::size_t scratch_start = 4096;
    std::array<entry, max_fields> entries_;
    std::array<named_field, max_fields> fields_;
    std::size_t count_ = 0;
    std::uint64_t item_newest_ = 0;
    char *scratch_ = nullptr;
    std::size_t capacity_ = 0, used_ = 0;
    bool cut_ = false;
};

// The children of one parent as a group of fields (named by the group's field names),
// or the empty fields that stand in for all of them when the parent is missing.
template <const auto &children, typename Target>
void put_group(Target &out, const xml_element *parent, std::span<const std::string_view> names)
{
    static_assert(children.size() <= max_fields);
    if (!parent) {
        out.missing(names);
        return;
    }
    const auto found = index_children<children>(parent);
    for (std::size_t i = 0; i < found.size(); ++i)
        out.text(names[i], found[i]);
}

const char *text_of(const xml_element *e)
{
    return has_text(e) ? e->value : "";
}

void note_cut(listing_run &run)
{
    run.found.note(warning_kind::field_cut, run.item_line, run.item_id);
}

template <typename Target>
void put_stamp(listing_run &run, Target &out, std::string_view name, const xml_element *stamp)
{
    if (!out.stamp(name, run.newest, stamp)) note_cut(run);
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

// Joins the labels of the style run with ",". The run starts at the first child
// spelled exactly "artistStyle" and goes on through siblings of that name in any
// case. The join stops before the first label that no longer fits the store.
template <typename Target>
void put_styles(listing_run &run, Target &out, const xml_element *first_style)
{
    std::array<char, style_capacity> store;
    std::size_t length = 0;
    store[0] = '\0';
    for (const xml_element *s = first_style; s; s = s->next) {
        if (!s->name) continue;
        // most are spelled exactly so, which is quicker to tell than any case
        if (!is_named(s->name, "artistStyle") && strcasecmp(s->name, "artistStyle") != 0) break;
        // s is named artistStyle in some case, so it is not the label itself
        const xml_element *label = child_named(s, "label");
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
    out.joined("styles", store.data());
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
// The contact's fields; without contact the address and the phones are left empty and
// the two coordinates are absent rather than "0".
constexpr std::array<std::string_view, 10> contact_fields = {"contact/email",
                                                             "contact/addressLine1",
                                                             "contact/addressLine2",
                                                             "contact/zipCode",
                                                             "contact/city",
                                                             "contact/country",
                                                             "telephone",
                                                             "mobile",
                                                             "contact/lattitude",
                                                             "contact/longitude"};
constexpr std::span<const std::string_view> no_location_contact{contact_fields.data(),
                                                                contact_address + 2};

// Telephone and mobile: a number starting with "06" is the mobile, any other the
// telephone; phone2 replaces what phone1 put in the same slot.
template <typename Target>
void put_phones(Target &out, const found_children<contact_children.size()> &found)
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
    out.value(contact_fields[contact_address], telephone);
    out.value(contact_fields[contact_address + 1], mobile);
}

template <typename Target> void put_contact(Target &out, const xml_element *contact)
{
    if (!contact) {
        out.missing(no_location_contact);
        return;
    }
    const auto found = index_children<contact_children>(contact);
    for (std::size_t i = 0; i < contact_address; ++i)
        out.text(contact_fields[i], found[i]);
    put_phones(out, found);
    out.text(contact_fields[lattitude_child], found[lattitude_child], "0");
    out.text(contact_fields[longitude_child], found[longitude_child], "0");
}

// Each field by its kind, told when the code is compiled: the table is a constant.
template <const auto &fields, std::size_t i, typename Target>
void put_flat_field(listing_run &run, Target &out, const xml_element *found)
{
    constexpr field_row row = fields[i];
    if constexpr (row.kind == field_kind::text)
        out.text(row.name, found);
    else if constexpr (row.kind == field_kind::stamp)
        put_stamp(run, out, row.name, found);
    else if constexpr (row.kind == field_kind::styles)
        put_styles(run, out, found);
    else if constexpr (row.kind == field_kind::description)
        out.description(found);
    else
        put_contact(out, found);
}

template <const auto &fields, typename Target>
void put_flat_fields(listing_run &run, Target &out, const found_children<fields.size()> &found)
{
    [&]<std::size_t... i>(std::index_sequence<i...>)
    {
        (put_flat_field<fields, i>(run, out, found[i]), ...);
    }
    (std::make_index_sequence<fields.size()>{});
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
static_assert(location_fields.size() - 1 + contact_fields.size() == max_fields);
static_assert(artist_fields.size() <= max_fields);

// The children of an artist or location, found in one pass; null when its name has no
// text, and the item is left out.
template <const auto &fields>
const found_children<fields.size()> *take_flat_item(listing_run &run, const xml_element *item,
                                                    found_children<fields.size()> &found)
{
    static constexpr auto children = names_of(fields);
    static constexpr std::size_t name = position(children, "name");
    static constexpr std::size_t id = position(children, "id");
    found = index_children<children>(item);
    run.item_id = text_of(found[id]);
    if (has_text(found[name])) return &found;
    run.found.note(warning_kind::item_left_out, run.item_line, run.item_id);
    return nullptr;
}

// One artist or location: its record line, or nothing when its name has no text.
template <const auto &fields>
void write_flat_lines(listing_run &run, held_records &records, const xml_element *item)
{
    found_children<fields.size()> found;
    if (!take_flat_item<fields>(run, item, found)) return;
    field_sink sink{records};
    line_target out{sink};
    sink.put(record_tag);
    put_flat_fields<fields>(run, out, found);
    sink.put("\n");
    ++run.written;
}

template <const auto &fields>
void write_flat_fields(listing_run &run, field_writer &writer, const xml_element *item)
{
    found_children<fields.size()> found;
    if (!take_flat_item<fields>(run, item, found)) return;
    field_list out;
    put_flat_fields<fields>(run, out, found);
    if (out.cut()) note_cut(run);
    writer.record(out.record(run.item_id, 0));
    ++run.written;
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
using event_children = found_children<description_children.size()>;

constexpr std::array<const char *, 2> event_artist = {"artistId", "name"};
constexpr std::array<std::string_view, 2> event_artist_fields = {"artist/artistId", "artist/name"};

constexpr std::array<const char *, 3> event_place = {"id", "name", "contact"};
constexpr std::size_t event_contact_child = position(event_place, "contact");
constexpr std::array<const char *, 3> event_contact = {"email", "city", "country"};
constexpr std::array<std::string_view, 5> event_place_fields = {
    "location/id", "location/name", "location/contact/email", "location/contact/city",
    "location/contact/country"};
constexpr std::span<const std::string_view> event_contact_fields{
    event_place_fields.data() + event_contact_child, event_contact.size()};

constexpr std::array<const char *, 3> event_proper = {"title", "picture", "eventType"};
constexpr std::size_t event_type_child = position(event_proper, "eventType");
constexpr std::array<std::string_view, 2> event_proper_fields = {"event/title", "event/picture"};
static_assert(event_proper_fields.size() == event_type_child);

constexpr std::array<const char *, 3> schedule_date = {"date", "startHour", "endHour"};
constexpr std::array<std::string_view, 3> schedule_date_fields = {"date", "startHour", "endHour"};

static_assert(2 + event_artist_fields.size() + event_place_fields.size() +
                  event_proper_fields.size() ==
              common_fields);
static_assert(2 + common_fields + schedule_date_fields.size() <= max_fields);

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
    // the type is named eventType, so it is not the id itself
    const xml_element *id = event_type ? child_named(event_type, "id") : nullptr;
    return has_text(id) && leading_int(id->value) == type;
}

template <typename Target> void put_event_location(Target &common, const xml_element *location)
{
    if (!location) {
        common.missing(event_place_fields);
        return;
    }
    const auto found = index_children<event_place>(location);
    for (std::size_t i = 0; i < event_contact_child; ++i)
        common.text(event_place_fields[i], found[i]);
    put_group<event_contact>(common, found[event_contact_child], event_contact_fields);
}

// The event's children, found in one pass, and its identifier copied to id; false
// when it has no identifier and is left out.
bool take_event(listing_run &run, const xml_element *description, event_children &found,
                std::array<char, event_id_capacity> &id)
{
    found = index_children<description_children>(description);
    if (!has_text(found[id_child])) { // an id without text is passed over like a missing one
        run.found.note(warning_kind::item_left_out, run.item_line, "");
        return false;
    }
    run.item_id = found[id_child]->value;
    if (!copy_bounded(id.data(), id.size(), run.item_id)) note_cut(run);
    return true;
}

// Fields 3 to 13, shared by all lines of the event; false when the type filter drops
// the event.
template <typename Target>
bool put_event_common(listing_run &run, Target &common, const event_children &found)
{
    put_stamp(run, common, "creationDate", found[created_child]);
    put_stamp(run, common, "modificationDate", found[modified_child]);
    put_group<event_artist>(common, found[artist_child], event_artist_fields);
    put_event_location(common, found[location_child]);
    if (const xml_element *event = found[event_child]) {
        const auto proper = index_children<event_proper>(event);
        for (std::size_t i = 0; i < event_type_child; ++i)
            common.text(event_proper_fields[i], proper[i]);
        const int type = run.options.type;
        if (type != 0 && !has_type(proper[event_type_child], type)) return false;
    } else {
        common.missing(event_proper_fields);
    }
    return true;
}

// Each scheduled date of the event in order: the eventScheduleDate children of its
// schedule, others passed over. Returns how many there were.
template <typename Line> unsigned for_each_date(const event_children &found, Line line)
{
    const xml_element *schedule = found[schedule_child];
    unsigned counter = 0;
    for (const xml_element *when = schedule ? schedule->first : nullptr; when; when = when->next) {
        if (!when->name || !is_named(when->name, "eventScheduleDate")) continue;
        line(counter++, when);
    }
    return counter;
}

void note_dates(listing_run &run, unsigned dates)
{
    run.written += dates;
    if (dates == 0) run.found.note(warning_kind::event_without_dates, run.item_line, run.item_id);
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
void put_date_line(held_records &records, std::string_view tagged_id, unsigned counter,
                   std::string_view common, const xml_element *when)
{
    field_sink out{records};
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

void write_event_lines(listing_run &run, held_records &records, const xml_element *description)
{
    event_children found;
    std::array<char, event_id_capacity> id;
    if (!take_event(run, description, found, id)) return;

    std::array<char, common_capacity> store;
    field_sink sink{store.data(), store.size(), common_fields};
    line_target common{sink};
    if (!put_event_common(run, common, found)) return;
    if (sink.cut()) note_cut(run);

    // the tag and the escaped identifier begin every date line, so they are written
    // once; the store holds them whole however many "|" the identifier has
    std::array<char, tagged_id_capacity> tagged_id_store;
    field_sink tagged_id{tagged_id_store.data(), tagged_id_store.size(), 0};
    tagged_id.put(record_tag);
    put_field(tagged_id, id.data(), 0);

    note_dates(run, for_each_date(found, [&](unsigned counter, const xml_element *when) {
                   put_date_line(records, tagged_id.text(), counter, sink.text(), when);
               }));
}

void write_event_fields(listing_run &run, field_writer &writer, const xml_element *description)
{
    event_children found;
    std::array<char, event_id_capacity> id;
    if (!take_event(run, description, found, id)) return;

    field_list fields;
    fields.missing(std::array<std::string_view, 1>{"id"}); // set for each date
    if (!put_event_common(run, fields, found)) return;
    const field_list::place common = fields.mark();

    note_dates(run, for_each_date(found, [&](unsigned counter, const xml_element *when) {
                   std::array<char, counter_capacity> number;
                   fields.rewind(common);
                   fields.set_date_id(0, id.data(), counter ? date_number(number, counter) : "");
                   put_group<schedule_date>(fields, when, schedule_date_fields);
                   writer.record(fields.record(id.data(), counter));
               }));
    if (fields.cut()) note_cut(run);
}

constexpr std::array<listing, 3> listings = {{
    {"artists", "artist", "name", "Artists", "artists", write_flat_lines<artist_fields>,
     write_flat_fields<artist_fields>},
    {"locations", "location", "name", "Locations", "locations", write_flat_lines<location_fields>,
     write_flat_fields<location_fields>},
    {"scheduledEvents", "eventDescription", "id", "Events", "events", write_event_lines,
     write_event_fields},
}};

} // namespace

const listing *listing_for(const char *root)
{
    if (!root) return nullptr;
    for (const listing &row : listings)
        if (std::strcmp(root, row.root) == 0) return &row;
    return nullptr;
}
