// veltran: converts XML exports of an events listing (artists, locations, scheduled
// events) into flat "VELTRAN|...|" records on standard output, one record per line,
// and keeps the newest timestamp of the run in the marker files recent-<kind>.txt and
// recent-<kind>.xml in the working directory.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

// ---------------------------------------------------------------------------
// Settings of the run: set by the options as they are met, never reset between files.

constexpr std::size_t recent_capacity = 256;
constexpr std::size_t marker_name_capacity = 64;
constexpr std::size_t temporary_name_capacity = 128; // a marker name, the process id and a counter

int type = 0;    // event-type filter; 0 lets every event through
int echo = 0;    // 1: print each loaded tree back as XML instead of converting it
int verbose = 0; // 1: each listing prints its heading line first
std::uint64_t since = 0;             // the largest timestamp number met so far
char recent[recent_capacity] = {};   // the text of the timestamp that last raised since

std::uint64_t parse_artists(const xml_element *eptr);
std::uint64_t parse_locations(const xml_element *eptr);
std::uint64_t parse_events(const xml_element *eptr);
void set_recent(std::uint64_t value, const char *prefix);
int failure(const char *m, const char *n);

namespace {

// ---------------------------------------------------------------------------
// Held output: the records of a file are kept back until the file is known to load,
// since a file that fails prints only its error line. The first bytes are kept in
// memory; past that they go to an unlinked temporary file, so memory stays flat
// however large the file. Without a temporary file the memory simply grows.

constexpr std::size_t hold_memory_limit = std::size_t(4) << 20;

class held_output {
public:
    // Appends bytes; false when they could not be kept (no memory and no file).
    bool put(std::string_view s)
    {
        if (!spill_ && !spill_failed_ && length_ + s.size() > hold_memory_limit)
            spill_failed_ = !(spill_ = std::tmpfile());
        if (!spill_) {
            if (!reserve(length_ + s.size())) return false;
            std::memcpy(memory_ + length_, s.data(), s.size());
            length_ += s.size();
            return true;
        }
        if (length_ < hold_memory_limit) { // fill the memory part first
            const std::size_t n = std::min(s.size(), hold_memory_limit - length_);
            if (!reserve(hold_memory_limit)) return false;
            std::memcpy(memory_ + length_, s.data(), n);
            length_ += n;
            s.remove_prefix(n);
        }
        if (std::fwrite(s.data(), 1, s.size(), spill_) != s.size()) return false;
        length_ += s.size();
        return true;
    }
    std::size_t size() const { return length_; }
    // Copies the bytes [from, to) to standard output.
    void emit(std::size_t from, std::size_t to)
    {
        const std::size_t in_memory = spill_ ? std::min(length_, hold_memory_limit) : length_;
        if (from < in_memory) {
            const std::size_t end = std::min(to, in_memory);
            std::fwrite(memory_ + from, 1, end - from, stdout);
            from = end;
        }
        if (from >= to) return;
        std::fflush(spill_);
        if (std::fseek(spill_, long(from - in_memory), SEEK_SET) != 0) return;
        char block[1 << 16];
        for (std::size_t left = to - from; left > 0;) {
            const std::size_t n = std::fread(block, 1, std::min(left, sizeof block), spill_);
            if (n == 0) break;
            std::fwrite(block, 1, n, stdout);
            left -= n;
        }
        std::fseek(spill_, 0, SEEK_END);
    }
    // Forgets everything held; the temporary file is closed, which removes it.
    void clear()
    {
        memory_ = static_cast<char *>(liberate(memory_));
        capacity_ = length_ = 0;
        if (spill_) std::fclose(spill_);
        spill_ = nullptr;
        spill_failed_ = false;
    }

private:
    bool reserve(std::size_t needed)
    {
        if (needed <= capacity_) return true;
        std::size_t grown = std::max({needed, capacity_ * 2, std::size_t(1) << 16});
        if (grown > std::size_t(INT32_MAX)) grown = needed;
        if (grown > std::size_t(INT32_MAX)) return false;
        auto *bigger = static_cast<char *>(allocate(int(grown)));
        if (!bigger) return false;
        if (length_) std::memcpy(bigger, memory_, std::min(length_, capacity_));
        liberate(memory_);
        memory_ = bigger;
        capacity_ = grown;
        return true;
    }
    char *memory_ = nullptr;
    std::size_t capacity_ = 0, length_ = 0;
    FILE *spill_ = nullptr;
    bool spill_failed_ = false;
};

// ---------------------------------------------------------------------------
// Output: every byte of the records goes through one large buffer that is handed to
// stdio (or to the held output) in big blocks, so a long conversion does not pay
// for a lock per byte.

class output_buffer {
public:
    void put(std::string_view s)
    {
        if (s.size() > data_.size() - length_) {
            flush();
            if (s.size() >= data_.size()) {
                std::fwrite(s.data(), 1, s.size(), stdout);
                return;
            }
        }
        std::memcpy(data_.data() + length_, s.data(), s.size());
        length_ += s.size();
    }
    void put(char c)
    {
        if (length_ == data_.size()) flush();
        data_[length_++] = c;
    }
    // Hands what is buffered to stdio, or to the held output while one is set.
    // Called before anything else writes to stdout (the library's tree printer) so
    // that the two stay in order.
    void flush()
    {
        if (length_ != 0) {
            if (!hold_)
                std::fwrite(data_.data(), 1, length_, stdout);
            else if (!hold_->put({data_.data(), length_}))
                lost_ = true;
        }
        length_ = 0;
    }
    // Sends what follows to held (or, with null, to standard output again).
    void hold(held_output *held)
    {
        flush();
        hold_ = held;
        lost_ = false;
    }
    // True when held output could not be kept since the last hold().
    bool lost() const { return lost_; }

private:
    std::array<char, 1 << 17> data_;
    std::size_t length_ = 0;
    held_output *hold_ = nullptr;
    bool lost_ = false;
};

output_buffer output;

// Where a field goes: standard output (the default), or the end of a caller's text
// store whose capacity the sink knows. A store may reserve room for the separators
// still to come, so that cutting a long field never costs the record a field.
class field_sink {
public:
    field_sink() = default;
    // Starts an empty text in text[0..capacity), keeping separators_due bytes back.
    field_sink(char *text, std::size_t capacity, std::size_t separators_due)
        : text_{text}, capacity_{capacity}, due_{separators_due}
    {
        text_[0] = '\0';
    }
    // Appends content. In a store, a piece is cut to the room left; an indivisible
    // piece (an escape) goes in whole or not at all. False once something was cut.
    bool put(std::string_view s, bool indivisible = false)
    {
        if (!text_) {
            output.put(s);
            return true;
        }
        std::size_t room = capacity_ - 1 - length_ - due_;
        std::size_t n = std::min(s.size(), room);
        if (indivisible && n < s.size()) n = 0;
        append(s.substr(0, n));
        return n == s.size();
    }
    // Appends one "|"; in a store it uses up one reserved byte when there is one.
    void separator()
    {
        if (!text_) {
            output.put('|');
            return;
        }
        if (due_ > 0)
            --due_;
        else if (length_ + 1 >= capacity_)
            return;
        append("|");
    }
    std::string_view text() const { return {text_, length_}; }

private:
    void append(std::string_view s)
    {
        std::memcpy(text_ + length_, s.data(), s.size());
        length_ += s.size();
        text_[length_] = '\0';
    }
    char *text_ = nullptr;
    std::size_t capacity_ = 0, length_ = 0, due_ = 0;
};

// The one escaper of field contents, whatever the destination: "|" becomes
// "&brvbar;" and a line feed one blank, so that a record never spans two lines.
// A field cut at the end of a store stops there; its separator is still written.
void put_field(field_sink &out, const char *text, int terminate)
{
    for (const char *p = text; *p;) {
        std::size_t run = std::strcspn(p, "|\n");
        if (!out.put({p, run})) break;
        p += run;
        if (*p == '\0') break;
        bool fits = *p == '|' ? out.put("&brvbar;", true) : out.put(" ");
        if (!fits) break;
        ++p;
    }
    if (terminate) out.separator();
}

void put_element(field_sink &out, const xml_element *vptr, const char *fallback, int terminate)
{
    put_field(out, vptr && vptr->value ? vptr->value : fallback, terminate);
}

// A fixed run of separators standing in for a group of missing elements.
void put_run(field_sink &out, std::string_view run)
{
    for (std::size_t i = 0; i < run.size(); ++i) out.separator();
}

// Copies text into store, keeping at most capacity - 1 bytes and the terminator.
void copy_bounded(char *store, std::size_t capacity, const char *text)
{
    std::size_t n = std::min(std::strlen(text), capacity - 1);
    std::memcpy(store, text, n);
    store[n] = '\0';
}

} // namespace

// ---------------------------------------------------------------------------
// Field writers: unbuffered ones write to standard output, buffered ones append to
// a store whose capacity their sink carries. Each writes with terminate 1 in every
// listing; terminate 0 leaves the separator out.

void string_field(const char *sptr, int terminate)
{
    field_sink out;
    put_field(out, sptr, terminate);
}

void default_element(const xml_element *vptr, const char *sptr, int terminate)
{
    string_field(vptr && vptr->value ? vptr->value : sptr, terminate);
}

void string_element(const xml_element *vptr, int terminate)
{
    default_element(vptr, "", terminate);
}

void bstring_field(field_sink &buffer, const char *sptr, int terminate)
{
    put_field(buffer, sptr, terminate);
}

void bdefault_element(field_sink &buffer, const xml_element *vptr, const char *sptr, int terminate)
{
    bstring_field(buffer, vptr && vptr->value ? vptr->value : sptr, terminate);
}

void bstring_element(field_sink &buffer, const xml_element *vptr, int terminate)
{
    bdefault_element(buffer, vptr, "", terminate);
}

// The leading decimal digits of the element's text: no blank skipped, no sign read,
// arithmetic modulo 2^64. 0 for a missing element or text.
std::uint64_t integer_element(const xml_element *vptr)
{
    std::uint64_t n = 0;
    if (!vptr || !vptr->value) return 0;
    for (const char *p = vptr->value; *p >= '0' && *p <= '9'; ++p) n = n * 10 + std::uint64_t(*p - '0');
    return n;
}

// A tracked copy of sptr (null for null or when memory is exhausted); the caller
// releases it with liberate.
char *macro_string(const char *sptr)
{
    return allocate_string(sptr);
}

char *clean_string(const char *sptr)
{
    return macro_string(sptr);
}

// ---------------------------------------------------------------------------
// Shared pieces of the three listings.

namespace {

// The tracking rule: a strictly larger leading number takes over since and recent,
// so among equal maxima the first text met stays. recent keeps the first 255 bytes.
void track_timestamp(const xml_element *stamp)
{
    std::uint64_t n = integer_element(stamp);
    if (n <= since) return;
    since = n;
    copy_bounded(recent, sizeof recent, stamp->value);
}

void put_timestamp(field_sink &out, const xml_element *item, const char *name)
{
    const xml_element *stamp = document_element(item, name);
    put_element(out, stamp, "", 1);
    track_timestamp(stamp);
}

template <std::size_t N>
void put_children(field_sink &out, const xml_element *parent, const std::array<const char *, N> &names)
{
    for (const char *name : names) put_element(out, document_element(parent, name), "", 1);
}

// The children of one parent as a group of fields, or the run that stands in for
// all of them when the parent is missing.
template <std::size_t N>
void put_group(field_sink &out, const xml_element *parent, const std::array<const char *, N> &names,
               std::string_view missing)
{
    if (parent)
        put_children(out, parent, names);
    else
        put_run(out, missing);
}

void heading(std::string_view title)
{
    if (!verbose) return;
    output.put(title);
    output.put('\n');
}

bool has_text(const xml_element *e) { return e && e->value; }

// ---------------------------------------------------------------------------
// Artists

constexpr std::size_t style_capacity = 16000;

constexpr std::array<const char *, 6> artist_links = {"picture",         "thumbnail", "website",
                                                      "facebookFanPage", "twitterID", "soundCloudChannel"};

// Joins the labels of the style run with ",". The run starts at the first child
// spelled exactly "artistStyle" and goes on through siblings of that name in any
// case. The join stops before the first label that no longer fits the store.
std::string_view join_styles(const xml_element *artist, std::array<char, style_capacity> &store)
{
    std::size_t length = 0;
    store[0] = '\0';
    for (const xml_element *s = document_element(artist, "artistStyle"); s; s = s->next) {
        if (!s->name) continue;
        if (strcasecmp(s->name, "artistStyle") != 0) break;
        const xml_element *label = document_element(s, "label");
        if (!has_text(label)) continue;
        std::string_view text = label->value;
        std::size_t comma = length == 0 ? 0 : 1;
        if (comma + text.size() > store.size() - 1 - length) break;
        if (comma) store[length++] = ',';
        std::memcpy(store.data() + length, text.data(), text.size());
        length += text.size();
        store[length] = '\0';
    }
    return {store.data(), length};
}

// The description keeps the record on one line by its own rule: line feeds and tabs
// become blanks, carriage returns and "|" are dropped. It is written straight from
// the element's text, so running out of memory can never empty it.
void put_description(field_sink &out, const xml_element *artist)
{
    const xml_element *description = document_element(artist, "description");
    for (const char *p = has_text(description) ? description->value : ""; *p;) {
        std::size_t run = std::strcspn(p, "\n\t\r|");
        out.put({p, run});
        p += run;
        if (*p == '\0') break;
        if (*p == '\n' || *p == '\t') out.put(" ");
        ++p;
    }
    out.separator();
    out.put("\n");
}

std::array<char, style_capacity> style_store;

void put_artist(const xml_element *artist)
{
    const xml_element *name = document_element(artist, "name");
    if (!has_text(name)) return;
    field_sink out;
    out.put("VELTRAN|");
    string_element(document_element(artist, "id"), 1);
    string_element(name, 1);
    put_timestamp(out, artist, "creationDate");
    put_timestamp(out, artist, "modificationDate");
    put_children(out, artist, artist_links);
    string_field(join_styles(artist, style_store).data(), 1);
    put_description(out, artist);
}

// ---------------------------------------------------------------------------
// Locations

constexpr std::array<const char *, 6> location_links = {"logo",            "logoThumbnail", "website",
                                                        "facebookFanPage", "twitterID",     "soundCloudChannel"};
constexpr std::array<const char *, 6> location_address = {"email",   "addressLine1", "addressLine2",
                                                          "zipCode", "city",         "country"};
// Without contact the address, the phones and the coordinates are all left out:
// eight empty fields stand for the six address fields and two phones, and the two
// coordinates are absent rather than "0".
constexpr std::string_view no_location_contact = "||||||||";
static_assert(no_location_contact.size() == location_address.size() + 2);

// Telephone and mobile: a number starting with "06" is the mobile, any other the
// telephone; phone2 replaces what phone1 put in the same slot.
void put_phones(const xml_element *contact)
{
    const char *telephone = "";
    const char *mobile = "";
    for (const char *slot : {"phone1", "phone2"}) {
        const xml_element *phone = document_element(contact, slot);
        if (!has_text(phone)) continue;
        if (std::strncmp(phone->value, "06", 2) == 0)
            mobile = phone->value;
        else
            telephone = phone->value;
    }
    string_field(telephone, 1);
    string_field(mobile, 1);
}

void put_location(const xml_element *location)
{
    const xml_element *name = document_element(location, "name");
    if (!has_text(name)) return;
    field_sink out;
    out.put("VELTRAN|");
    string_element(document_element(location, "id"), 1);
    string_element(name, 1);
    put_timestamp(out, location, "creationDate");
    put_timestamp(out, location, "modificationDate");
    put_children(out, location, location_links);
    if (const xml_element *contact = document_element(location, "contact")) {
        put_children(out, contact, location_address);
        put_phones(contact);
        default_element(document_element(contact, "lattitude"), "0", 1);
        default_element(document_element(contact, "longitude"), "0", 1);
    } else {
        put_run(out, no_location_contact);
    }
    out.put("\n");
}

// ---------------------------------------------------------------------------
// Scheduled events

constexpr std::size_t event_id_capacity = 64;
constexpr std::size_t common_capacity = 8192;
constexpr std::size_t common_fields = 11; // fields 3 to 13 of a date line

constexpr std::array<const char *, 2> event_artist = {"artistId", "name"};
constexpr std::string_view no_event_artist = "||";
static_assert(no_event_artist.size() == event_artist.size());

constexpr std::array<const char *, 2> event_place = {"id", "name"};
constexpr std::array<const char *, 3> event_contact = {"email", "city", "country"};
constexpr std::string_view no_event_contact = "|||";
static_assert(no_event_contact.size() == event_contact.size());
constexpr std::string_view no_event_location = "|||||";
static_assert(no_event_location.size() == event_place.size() + event_contact.size());

constexpr std::array<const char *, 2> event_proper = {"title", "picture"};
constexpr std::string_view no_event_proper = "||";
static_assert(no_event_proper.size() == event_proper.size());

constexpr std::array<const char *, 3> schedule_date = {"date", "startHour", "endHour"};

static_assert(2 + event_artist.size() + event_place.size() + event_contact.size() + event_proper.size() ==
              common_fields);

// Reads the number the way atoi does (white space, an optional sign, digits) but
// saturates far outside the range of int instead of overflowing, so an oversized
// number simply matches no type.
long long leading_int(const char *p)
{
    constexpr long long ceiling = 1LL << 40;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) n = std::min(ceiling, n * 10 + (*p - '0'));
    return negative ? -n : n;
}

bool passes_type_filter(const xml_element *event)
{
    const xml_element *id = document_element(document_element(event, "eventType"), "id");
    return has_text(id) && leading_int(id->value) == type;
}

void put_location_fields(field_sink &common, const xml_element *location)
{
    if (!location) {
        put_run(common, no_event_location);
        return;
    }
    put_children(common, location, event_place);
    put_group(common, document_element(location, "contact"), event_contact, no_event_contact);
}

// One line per scheduled date: the tag, the identifier (numbered from the second
// date on), the common text and the date's own three fields.
void put_date_line(const char *id, unsigned counter, std::string_view common, const xml_element *when)
{
    field_sink out;
    out.put("VELTRAN|");
    put_field(out, id, 0);
    if (counter != 0) {
        char number[16];
        int n = std::snprintf(number, sizeof number, ":%u", counter);
        out.put({number, std::size_t(n)});
    }
    out.separator();
    out.put(common);
    for (const char *name : schedule_date) string_element(document_element(when, name), 1);
    out.put("\n");
}

void put_event(const xml_element *description)
{
    const xml_element *id_element = document_element(description, "id");
    if (!has_text(id_element)) return; // an id without text is passed over like a missing one
    std::array<char, event_id_capacity> id;
    copy_bounded(id.data(), id.size(), id_element->value);

    std::array<char, common_capacity> store;
    field_sink common{store.data(), store.size(), common_fields};
    put_timestamp(common, description, "creationDate");
    put_timestamp(common, description, "modificationDate");
    put_group(common, document_element(description, "artist"), event_artist, no_event_artist);
    put_location_fields(common, document_element(description, "location"));
    if (const xml_element *event = document_element(description, "event")) {
        bstring_element(common, document_element(event, event_proper[0]), 1);
        bstring_element(common, document_element(event, event_proper[1]), 1);
        if (type != 0 && !passes_type_filter(event)) return;
    } else {
        put_run(common, no_event_proper);
    }

    const xml_element *schedule = document_element(description, "eventSchedule");
    unsigned counter = 0;
    for (const xml_element *when = document_element(schedule, "eventScheduleDate"); when; when = when->next) {
        if (!when->name || std::strcmp(when->name, "eventScheduleDate") != 0) continue;
        put_date_line(id.data(), counter++, common.text(), when);
    }
}

// ---------------------------------------------------------------------------
// Command line, dispatch and marker files

struct option_row {
    std::string_view text;
    int *setting;
    int value;
};

constexpr std::array<option_row, 13> options = {{
    {"-v", &verbose, 1},
    {"--verbose", &verbose, 1},
    {"-e", &echo, 1},
    {"--echo", &echo, 1},
    {"--concert", &type, 1},
    {"--theatre", &type, 7},
    {"--dance", &type, 4},
    {"--clubbing", &type, 2},
    {"--meeting", &type, 3},
    {"--young", &type, 5},
    {"--cinema", &type, 6},
    {"--any", &type, 0},
    {"--all", &type, 0},
}};

// One listing: the root element it converts, the name of its items, its verbose
// heading, how one item is written, and the prefix of its marker files.
struct listing_row {
    const char *root;
    std::string_view item;
    std::string_view title;
    void (*put_item)(const xml_element *);
    const char *prefix;
};

constexpr std::array<listing_row, 3> listings = {{
    {"artists", "artist", "Artists", put_artist, "artists"},
    {"locations", "location", "Locations", put_location, "locations"},
    {"scheduledEvents", "eventDescription", "Events", put_event, "events"},
}};

const listing_row *listing_for(const char *root)
{
    for (const listing_row &row : listings)
        if (root && std::strcmp(root, row.root) == 0) return &row;
    return nullptr;
}

// The walk all listings share, over a loaded tree or over children handed in as they
// are read: the heading comes first, nameless children are passed over, and the
// first child of another name ends the listing.
class item_walk {
public:
    explicit item_walk(const listing_row &row) : row_{&row} { heading(row.title); }
    // Writes the item; false once the listing has ended.
    bool visit(const xml_element *child)
    {
        if (stopped_) return false;
        if (!child->name) return true;
        if (row_->item != child->name) return !(stopped_ = true);
        row_->put_item(child);
        return true;
    }

private:
    const listing_row *row_;
    bool stopped_ = false;
};

std::uint64_t run_listing(const listing_row &row, const xml_element *root)
{
    item_walk walk{row};
    for (const xml_element *e = root->first; e && walk.visit(e); e = e->next) {
    }
    return since;
}

struct tree_owner {
    void operator()(xml_element *e) const noexcept { document_drop(e); }
};
using owned_tree = std::unique_ptr<xml_element, tree_owner>;

struct file_closer {
    void operator()(FILE *h) const noexcept { std::fclose(h); }
};

// Opens a new file beside name under a name of its own: created exclusively, so an
// existing file or link of that name is never followed or reused.
FILE *create_temporary(const char (&name)[marker_name_capacity], char (&temporary)[temporary_name_capacity])
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(temporary, sizeof temporary, ".%s.%ld.%d", name, long(getpid()), attempt);
        int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        if (FILE *h = fdopen(fd, "w")) return h;
        close(fd);
        unlink(temporary);
        return nullptr;
    }
    return nullptr;
}

// Writes one marker into a temporary file and renames it into place, so no reader
// ever sees half of it and a link named like the marker is replaced, not followed.
// Any failure (an unwritable directory, say) leaves the old marker and says nothing.
void write_marker(const char *prefix, const char *ending)
{
    char name[marker_name_capacity];
    char temporary[temporary_name_capacity];
    std::snprintf(name, sizeof name, "recent-%s.%s", prefix, ending);
    std::unique_ptr<FILE, file_closer> h{create_temporary(name, temporary)};
    if (!h) return;
    if (std::strcmp(ending, "xml") == 0) {
        char format[64];
        std::snprintf(format, sizeof format, "<%s recent=\"%%s\"/>\n", prefix);
        fprintf_xml_string_attribute(h.get(), format, recent);
    } else {
        std::fprintf(h.get(), "%s\n", recent);
    }
    // a marker line is never empty: nothing written means the writer gave up (the
    // attribute writer says nothing when it cannot grow its buffer), and the old
    // marker must then stay
    bool written = !std::ferror(h.get()) && std::ftell(h.get()) > 0;
    written = std::fclose(h.release()) == 0 && written;
    if (!written || std::rename(temporary, name) != 0) unlink(temporary);
}

// ---------------------------------------------------------------------------
// Converting a file as it is read. Each item is written as soon as it closes and is
// then released, so memory does not grow with the file. The records are held back
// until the load is known to succeed, and the root is the last top-level element
// closed: when a later top-level element closes, what an earlier one wrote and the
// timestamps it raised are set aside; when the load fails, all of it is.

held_output held;

struct run_state { // the run's newest timestamp, as the listings leave it
    std::uint64_t number;
    std::array<char, recent_capacity> text;
    static run_state now()
    {
        run_state r{since, {}};
        std::memcpy(r.text.data(), recent, recent_capacity);
        return r;
    }
    void restore() const
    {
        since = number;
        std::memcpy(recent, text.data(), recent_capacity);
    }
};

struct file_conversion {
    run_state before = run_state::now(); // as the file began
    const listing_row *row = nullptr;    // listing of the top-level element being read
    item_walk *walk = nullptr;
    alignas(item_walk) unsigned char walk_store[sizeof(item_walk)];
    std::size_t segment_start = 0;       // where that element's records begin in held
    // the last top-level element closed, which is the root if the load ends here
    bool have_root = false;
    const listing_row *root_row = nullptr;
    std::size_t root_from = 0, root_to = 0;
    run_state root_state{};
};

int open_top(void *context, const xml_element *top)
{
    auto &c = *static_cast<file_conversion *>(context);
    c.before.restore(); // an earlier top-level element's timestamps are not this one's
    output.flush();
    c.segment_start = held.size();
    c.row = listing_for(top->name);
    c.walk = c.row ? new (c.walk_store) item_walk{*c.row} : nullptr;
    return 0;
}

int take_child(void *context, const xml_element *, const xml_element *child)
{
    auto &c = *static_cast<file_conversion *>(context);
    if (c.walk) c.walk->visit(child);
    return 0;
}

int close_top(void *context, const xml_element *)
{
    auto &c = *static_cast<file_conversion *>(context);
    output.flush();
    c.have_root = true;
    c.root_row = c.row;
    c.root_from = c.segment_start;
    c.root_to = held.size();
    c.root_state = run_state::now();
    return 0;
}

int convert_file(const char *sptr)
{
    file_conversion c;
    const document_stream stream{.context = &c, .open_top = open_top, .child = take_child, .close_top = close_top};
    output.hold(&held);
    const int closed = document_stream_file(sptr, &stream);
    output.flush();
    const bool lost = output.lost();
    output.hold(nullptr);
    if (closed == 0 || !c.have_root || lost) {
        held.clear();
        c.before.restore();
        return failure("error parsing file", sptr);
    }
    held.emit(c.root_from, c.root_to);
    held.clear();
    c.root_state.restore();
    if (c.root_row) set_recent(since, c.root_row->prefix);
    return 0;
}

// Echo mode prints the whole tree back, so it loads the tree first.
int show_file(const char *sptr)
{
    owned_tree root{document_parse_file(sptr)};
    if (!root) return failure("error parsing file", sptr);
    output.flush();
    document_show_element(root.get(), 0);
    return 0;
}

} // namespace

std::uint64_t parse_artists(const xml_element *eptr) { return run_listing(listings[0], eptr); }

std::uint64_t parse_locations(const xml_element *eptr) { return run_listing(listings[1], eptr); }

std::uint64_t parse_events(const xml_element *eptr) { return run_listing(listings[2], eptr); }

// Writes both marker files of a kind, unless no timestamp above 0 was seen yet.
void set_recent(std::uint64_t value, const char *prefix)
{
    if (value == 0) return;
    write_marker(prefix, "txt");
    write_marker(prefix, "xml");
}

int failure(const char *m, const char *n)
{
    if (m) {
        output.put("error: ");
        output.put(m);
    }
    if (n) output.put(n);
    output.put('\n');
    return 30;
}

int banner()
{
    constexpr std::array<std::string_view, 18> pieces = {
        "\n   Veltran Integeration Tool : Version 1.0g",
        "\n   Beta Version : 06/10/2016",
        "\n   Copyright (c) the veltran developers. All rights reserved. \n",
        "\n   Usage   : ",
        "\n           veltran [options] filename.xml",
        "\n   Filters : ",
        "\n           --concert ",
        "\n           --theatre ",
        "\n           --dance   ",
        "\n           --clubbing",
        "\n           --meeting ",
        "\n           --young   ",
        "\n           --cinema  ",
        "\n           --any     ",
        "\n           --all     ",
        "\n   Options : ",
        "\n           --echo    ",
        "\n           --verbose\n\n",
    };
    for (std::string_view piece : pieces) output.put(piece);
    return 0;
}

// Unknown options, "-" alone included, are ignored without a message.
int parse_option(const char *sptr)
{
    for (const option_row &row : options) {
        if (row.text == sptr) {
            *row.setting = row.value;
            break;
        }
    }
    return 0;
}

int parse_file(const char *sptr)
{
    if (echo) return show_file(sptr);
    return convert_file(sptr);
}

// Arguments are taken strictly in order, so an option affects only the files named
// after it. The exit status is 1 when some named file could not be loaded.
int main(int argc, char **argv)
{
    int status = 0;
    if (argc == 1) banner();
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (argv[i][0] == '-')
            parse_option(argv[i]);
        else if (parse_file(argv[i]) != 0)
            status = 1;
    }
    output.flush();
    return status;
}
