#include "veltran/database.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include <sqlite3.h>

#include "qvxml/allocate.h"
#include "veltran/decode.h"

namespace
{

// What marks a database as veltran's ("VLTR"), and the version of the schema below.
constexpr int application_id = 0x564C5452;
constexpr int schema_version = 1;
constexpr int busy_wait_ms = 5000; // as the cause of SQLITE_BUSY says
constexpr std::size_t sql_capacity = 2048;

// Every table's columns are a record's fields, in the record's order, named after the
// elements they come from; field is the name a listing gives the field. The two
// timestamps hold an integer where their text reads as one. newest, the larger leading
// number of the two, decides an upsert.
struct column {
    const char *name;
    std::string_view field;
};

struct table_shape {
    const char *name;
    const column *columns;
    std::size_t count;
    std::size_t created; // the creationDate column; modificationDate follows it
};

constexpr column artist_columns[] = {
    {"id", "id"},
    {"name", "name"},
    {"creationDate", "creationDate"},
    {"modificationDate", "modificationDate"},
    {"picture", "picture"},
    {"thumbnail", "thumbnail"},
    {"website", "website"},
    {"facebookFanPage", "facebookFanPage"},
    {"twitterID", "twitterID"},
    {"soundCloudChannel", "soundCloudChannel"},
    {"artistStyle", "styles"},
    {"description", "description"},
};
constexpr column location_columns[] = {
    {"id", "id"},
    {"name", "name"},
    {"creationDate", "creationDate"},
    {"modificationDate", "modificationDate"},
    {"logo", "logo"},
    {"logoThumbnail", "logoThumbnail"},
    {"website", "website"},
    {"facebookFanPage", "facebookFanPage"},
    {"twitterID", "twitterID"},
    {"soundCloudChannel", "soundCloudChannel"},
    {"email", "contact/email"},
    {"addressLine1", "contact/addressLine1"},
    {"addressLine2", "contact/addressLine2"},
    {"zipCode", "contact/zipCode"},
    {"city", "contact/city"},
    {"country", "contact/country"},
    {"telephone", "telephone"},
    {"mobile", "mobile"},
    {"lattitude", "contact/lattitude"},
    {"longitude", "contact/longitude"},
};
constexpr column event_columns[] = {
    {"id", "id"},
    {"creationDate", "creationDate"},
    {"modificationDate", "modificationDate"},
    {"artistId", "artist/artistId"},
    {"artistName", "artist/name"},
    {"locationId", "location/id"},
    {"locationName", "location/name"},
    {"email", "location/contact/email"},
    {"city", "location/contact/city"},
    {"country", "location/contact/country"},
    {"title", "event/title"},
    {"picture", "event/picture"},
};
// The fields of an event's date, in the columns of event_dates after its key.
constexpr std::array<std::string_view, date_columns> date_fields = {"date", "startHour", "endHour"};

constexpr std::array<table_shape, item_kinds> tables = {{
    {"artists", artist_columns, std::size(artist_columns), 2},
    {"locations", location_columns, std::size(location_columns), 2},
    {"events", event_columns, std::size(event_columns), 1},
}};
static_assert(std::size(location_columns) + date_columns <= max_columns);
static_assert(std::size(event_columns) + date_columns <= max_columns);

constexpr const char *fixed_schema =
    "CREATE TABLE event_dates(eventId TEXT NOT NULL, position INTEGER NOT NULL, date TEXT,"
    " startHour TEXT, endHour TEXT, PRIMARY KEY(eventId, position)) WITHOUT ROWID;"
    "CREATE TABLE recent(kind TEXT PRIMARY KEY NOT NULL, since INTEGER NOT NULL,"
    " marker BLOB NOT NULL) WITHOUT ROWID;";

// SQL text assembled in a bounded store; too long a text is empty, which SQLite refuses.
class sql_text
{
  public:
    sql_text &operator<<(std::string_view s)
    {
        if (s.size() >= text_.size() - length_) overflow_ = true;
        if (overflow_) return *this;
        std::memcpy(text_.data() + length_, s.data(), s.size());
        length_ += s.size();
        text_[length_] = '\0';
        return *this;
    }
    const char *c_str() const { return overflow_ ? "" : text_.data(); }

  private:
    std::array<char, sql_capacity> text_{};
    std::size_t length_ = 0;
    bool overflow_ = false;
};

sql_text create_sql(const table_shape &t)
{
    sql_text sql;
    sql << "CREATE TABLE " << t.name << "(";
    for (std::size_t i = 0; i < t.count; ++i) {
        const bool stamp = i == t.created || i == t.created + 1;
        const char *type = i == 0 ? " TEXT PRIMARY KEY NOT NULL" : stamp ? "" : " TEXT";
        sql << t.columns[i].name << type << ", ";
    }
    sql << "newest INTEGER NOT NULL)";
    return sql;
}

// Inserts a row, or replaces the row of the same identifier unless that one is newer.
sql_text upsert_sql(const table_shape &t)
{
    sql_text sql;
    sql << "INSERT INTO " << t.name << "(";
    for (std::size_t i = 0; i < t.count; ++i)
        sql << t.columns[i].name << ",";
    sql << "newest) VALUES(";
    for (std::size_t i = 0; i < t.count; ++i)
        sql << "?,";
    sql << "?) ON CONFLICT(id) DO UPDATE SET ";
    for (std::size_t i = 1; i < t.count; ++i)
        sql << t.columns[i].name << "=excluded." << t.columns[i].name << ",";
    sql << "newest=excluded.newest WHERE excluded.newest>=" << t.name << ".newest";
    return sql;
}

// The leading decimal digits of text as the markers count them (modulo 2^64), kept
// within SQLite's integers.
sqlite3_int64 stamp_number(std::string_view text)
{
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        n = n * 10 + std::uint64_t(c - '0');
    }
    return sqlite3_int64(std::min<std::uint64_t>(n, std::numeric_limits<sqlite3_int64>::max()));
}

// Whether text is a timestamp that reads as an integer: digits alone, within range.
bool is_integer(std::string_view text)
{
    constexpr std::size_t always_fits = 18;
    if (text.empty() || text.size() > always_fits + 1) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return text.size() <= always_fits || text <= "9223372036854775807";
}

sqlite3_int64 integer_of(std::string_view text)
{
    sqlite3_int64 n = 0;
    for (char c : text)
        n = n * 10 + (c - '0');
    return n;
}

// SQLite's memory from the tracked allocator: its blocks carry their size in the
// header, which gives xSize and the copy of xRealloc.
void *sqlite_malloc(int n)
{
    return allocate(n);
}
void sqlite_free(void *p)
{
    liberate(p);
}
int sqlite_size(void *p)
{
    return p ? int(static_cast<const mem_header *>(p)[-1].size) : 0;
}
void *sqlite_realloc(void *p, int n)
{
    void *grown = allocate(n);
    if (!grown) return nullptr;
    if (p) std::memcpy(grown, p, std::size_t(std::min(n, sqlite_size(p))));
    liberate(p);
    return grown;
}
int sqlite_roundup(int n)
{
    return (n + 7) & ~7;
}
int sqlite_init(void *)
{
    return SQLITE_OK;
}
void sqlite_shutdown(void *) {}

// SQLite is set up once a process, before its first use, and ends with the last
// database, so that every block it took is back when the program ends.
bool set_up_sqlite()
{
    static const sqlite3_mem_methods methods{sqlite_malloc,   sqlite_free,    sqlite_realloc,
                                             sqlite_size,     sqlite_roundup, sqlite_init,
                                             sqlite_shutdown, nullptr};
    static const int configured = sqlite3_config(SQLITE_CONFIG_MALLOC, &methods);
    return configured == SQLITE_OK && sqlite3_initialize() == SQLITE_OK;
}

struct statement_reset {
    sqlite3_stmt *s;
    ~statement_reset()
    {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

} // namespace

bool kind_of_prefix(std::string_view prefix, item_kind &kind)
{
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (prefix == tables[i].name) {
            kind = item_kind(i);
            return true;
        }
    }
    return false;
}

std::size_t column_count(item_kind kind)
{
    return tables[std::size_t(kind)].count;
}

int column_of(item_kind kind, std::string_view field)
{
    const table_shape &t = tables[std::size_t(kind)];
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.columns[i].field == field) return int(i);
    if (kind == item_kind::events)
        for (std::size_t i = 0; i < date_fields.size(); ++i)
            if (date_fields[i] == field) return int(t.count + i);
    return -1;
}

database::~database()
{
    if (db_) {
        rollback_file();
        for (sqlite3_stmt *s : upsert_)
            sqlite3_finalize(s);
        for (sqlite3_stmt *s : {drop_dates_, insert_date_, raise_newest_, read_newest_})
            sqlite3_finalize(s);
        sqlite3_close(db_);
    }
    if (set_up_) sqlite3_shutdown();
    liberate(scratch_);
}

bool database::fail()
{
    cause_ = !db_ ? "out of memory"
             : sqlite3_errcode(db_) == SQLITE_BUSY
                 ? "the database is locked by another writer (waited 5 seconds)"
                 : sqlite3_errmsg(db_);
    return false;
}

bool database::run(const char *sql)
{
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail();
}

bool database::open(const char *path)
{
    set_up_ = set_up_sqlite();
    if (!set_up_) {
        cause_ = "SQLite could not be set up";
        return false;
    }
    if (sqlite3_open_v2(path, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return fail();
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busy_wait_ms);
    return check_or_create() && run("PRAGMA journal_mode=WAL") && prepare_statements();
}

// The marks are read first; a database is only made under the write lock, where they
// are read again, so that two runs starting on one new file cannot both make it.
bool database::check_or_create()
{
    if (sqlite3_db_readonly(db_, "main") == 1) {
        cause_ = "the database is read-only";
        return false;
    }
    database_marks marks;
    if (!read_marks(marks)) return false;
    if (marks.is_new()) {
        if (!run("BEGIN IMMEDIATE")) return false;
        if (read_marks(marks) && (!marks.is_new() || create_schema()) && run("COMMIT")) {
            if (!marks.is_new()) return check_marks(marks);
            return true;
        }
        rollback_file();
        return false;
    }
    return check_marks(marks);
}

bool database::read_marks(database_marks &marks)
{
    const char *queries[] = {"PRAGMA application_id", "PRAGMA user_version",
                             "SELECT count(*) FROM sqlite_master"};
    int *into[] = {&marks.id, &marks.version, &marks.objects};
    for (std::size_t i = 0; i < std::size(queries); ++i) {
        sqlite3_stmt *s = nullptr;
        const bool read = sqlite3_prepare_v2(db_, queries[i], -1, &s, nullptr) == SQLITE_OK &&
                          sqlite3_step(s) == SQLITE_ROW;
        if (read) *into[i] = sqlite3_column_int(s, 0);
        sqlite3_finalize(s);
        if (!read) return fail();
    }
    return true;
}

bool database::create_schema()
{
    bool made = run(fixed_schema);
    for (const table_shape &t : tables)
        made = made && run(create_sql(t).c_str());
    std::array<char, 96> pragmas;
    std::snprintf(pragmas.data(), pragmas.size(), "PRAGMA application_id=%d;PRAGMA user_version=%d",
                  application_id, schema_version);
    return made && run(pragmas.data());
}

bool database::check_marks(const database_marks &marks)
{
    if (marks.id != application_id)
        cause_ = "not a database of veltran's: it has other tables, or no mark of veltran";
    else if (marks.version != schema_version)
        cause_ = "made by another version of veltran: its schema is not the one this veltran "
                 "writes";
    else
        return true;
    return false;
}

bool database::prepare_statements()
{
    for (std::size_t i = 0; i < tables.size(); ++i)
        if (sqlite3_prepare_v2(db_, upsert_sql(tables[i]).c_str(), -1, &upsert_[i], nullptr) !=
            SQLITE_OK)
            return fail();
    const struct {
        sqlite3_stmt **statement;
        const char *sql;
    } fixed[] = {
        {&drop_dates_, "DELETE FROM event_dates WHERE eventId=?"},
        {&insert_date_, "INSERT INTO event_dates VALUES(?,?,?,?,?)"},
        {&raise_newest_,
         "INSERT INTO recent VALUES(?,?,?) ON CONFLICT(kind) DO UPDATE SET "
         "since=excluded.since, marker=excluded.marker WHERE excluded.since>recent.since"},
        {&read_newest_, "SELECT since, marker FROM recent WHERE kind=?"},
    };
    for (const auto &f : fixed)
        if (sqlite3_prepare_v2(db_, f.sql, -1, f.statement, nullptr) != SQLITE_OK) return fail();
    return true;
}

bool database::begin_file()
{
    event_stored_ = false;
    return run("BEGIN IMMEDIATE");
}

// Room for bytes more decoded text behind what is kept (the event identifier); the
// texts already bound stay where they are, as a statement's room is taken before its
// first field.
char *database::scratch(std::size_t bytes)
{
    if (scratch_used_ + bytes <= scratch_size_) return scratch_ + scratch_used_;
    const std::size_t size = std::max(scratch_used_ + bytes, 2 * scratch_size_);
    if (size > std::size_t(std::numeric_limits<int>::max())) return nullptr;
    char *grown = static_cast<char *>(allocate(int(size)));
    if (!grown) return nullptr;
    if (scratch_) std::memcpy(grown, scratch_, scratch_used_);
    liberate(scratch_);
    scratch_ = grown;
    scratch_size_ = size;
    return scratch_ + scratch_used_;
}

// An empty field is NULL; a timestamp that reads as an integer is one; any other
// field is its text decoded to UTF-8.
bool database::bind_field(sqlite3_stmt *s, int column, std::string_view field, bool stamp)
{
    if (field.empty()) return sqlite3_bind_null(s, column) == SQLITE_OK || fail();
    if (stamp && is_integer(field))
        return sqlite3_bind_int64(s, column, integer_of(field)) == SQLITE_OK || fail();
    char *text = scratch_ + scratch_used_;
    const std::size_t n = decode_field(field, text);
    scratch_used_ += n;
    return sqlite3_bind_text(s, column, text, int(n), SQLITE_STATIC) == SQLITE_OK || fail();
}

put_result database::put_item(item_kind kind, const std::string_view *fields, std::size_t count)
{
    const table_shape &t = tables[std::size_t(kind)];
    count = std::min(count, t.count);
    if (kind == item_kind::events) event_stored_ = false;
    if (count == 0 || fields[0].empty()) return put_result::without_id;
    std::size_t room = 0;
    for (std::size_t i = 0; i < count; ++i)
        room += decoded_capacity(fields[i].size());
    scratch_used_ = 0;
    if (!scratch(room)) {
        cause_ = "out of memory";
        return put_result::failed;
    }
    sqlite3_stmt *s = upsert_[std::size_t(kind)];
    const statement_reset reset{s};
    for (std::size_t i = 0; i < count; ++i)
        if (!bind_field(s, int(i + 1), fields[i], i == t.created || i == t.created + 1))
            return put_result::failed;
    const sqlite3_int64 newest =
        std::max(count > t.created ? stamp_number(fields[t.created]) : 0,
                 count > t.created + 1 ? stamp_number(fields[t.created + 1]) : 0);
    if (sqlite3_bind_int64(s, int(t.count + 1), newest) != SQLITE_OK ||
        sqlite3_step(s) != SQLITE_DONE) {
        fail();
        return put_result::failed;
    }
    if (sqlite3_changes(db_) == 0) return put_result::kept;
    if (kind != item_kind::events) return put_result::stored;
    // the event's identifier, decoded again at the scratch's start, stays for its dates
    scratch_used_ = decode_field(fields[0], scratch_);
    const statement_reset reset_drop{drop_dates_};
    if (sqlite3_bind_text(drop_dates_, 1, scratch_, int(scratch_used_), SQLITE_STATIC) !=
            SQLITE_OK ||
        sqlite3_step(drop_dates_) != SQLITE_DONE) {
        fail();
        return put_result::failed;
    }
    event_stored_ = true;
    return put_result::stored;
}

bool database::put_date(unsigned position, const std::string_view *fields)
{
    if (!event_stored_) return true;
    const std::size_t id_length = scratch_used_;
    std::size_t room = 0;
    for (std::size_t i = 0; i < date_columns; ++i)
        room += decoded_capacity(fields[i].size());
    if (!scratch(room)) {
        cause_ = "out of memory";
        return false;
    }
    sqlite3_stmt *s = insert_date_;
    const statement_reset reset{s};
    bool bound = sqlite3_bind_text(s, 1, scratch_, int(id_length), SQLITE_STATIC) == SQLITE_OK &&
                 sqlite3_bind_int64(s, 2, position) == SQLITE_OK;
    for (std::size_t i = 0; bound && i < date_columns; ++i)
        bound = bind_field(s, int(i + 3), fields[i], false);
    const bool stepped = bound && sqlite3_step(s) == SQLITE_DONE;
    scratch_used_ = id_length;
    return stepped || fail();
}

bool database::commit_file(item_kind kind, const newest_stamp &newest)
{
    if (newest.since > 0) {
        sqlite3_stmt *s = raise_newest_;
        const statement_reset reset{s};
        const sqlite3_int64 since = sqlite3_int64(
            std::min<std::uint64_t>(newest.since, std::numeric_limits<sqlite3_int64>::max()));
        if (sqlite3_bind_text(s, 1, tables[std::size_t(kind)].name, -1, SQLITE_STATIC) !=
                SQLITE_OK ||
            sqlite3_bind_int64(s, 2, since) != SQLITE_OK ||
            sqlite3_bind_blob(s, 3, newest.recent.data(), int(std::strlen(newest.recent.data())),
                              SQLITE_STATIC) != SQLITE_OK ||
            sqlite3_step(s) != SQLITE_DONE)
            return fail();
    }
    return run("COMMIT");
}

void database::rollback_file()
{
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    event_stored_ = false;
}

bool database::newest(item_kind kind, newest_stamp &stamp)
{
    sqlite3_stmt *s = read_newest_;
    const statement_reset reset{s};
    stamp = {};
    if (sqlite3_bind_text(s, 1, tables[std::size_t(kind)].name, -1, SQLITE_STATIC) != SQLITE_OK)
        return fail();
    const int step = sqlite3_step(s);
    if (step == SQLITE_DONE) return true;
    if (step != SQLITE_ROW) return fail();
    stamp.since = std::uint64_t(sqlite3_column_int64(s, 0));
    // the marker text as the files hold it, bytes that need not be UTF-8
    const auto *marker = static_cast<const char *>(sqlite3_column_blob(s, 1));
    const std::size_t length =
        std::min<std::size_t>(std::size_t(sqlite3_column_bytes(s, 1)), stamp.recent.size() - 1);
    if (marker) std::memcpy(stamp.recent.data(), marker, length);
    stamp.recent[length] = '\0';
    return true;
}
