#pragma once
// The SQLite database that --db loads into: one table per listing and one for the
// scheduled dates, rows upserted by identifier so that an older export never replaces
// a newer row, and the newest timestamp of each kind kept beside the rows, committed
// with them. One transaction per file. SQLite's memory comes from the tracked
// allocator, like every other heap block of the program.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "veltran/record.h"

struct sqlite3;
struct sqlite3_stmt;

// The kinds of item a table holds, in the order of the listings' marker prefixes.
enum class item_kind : std::uint8_t { artists, locations, events };
constexpr std::size_t item_kinds = 3;
constexpr std::size_t max_columns = 24; // of a table, and the date's after an event's
constexpr std::size_t date_columns = 3; // an event's date, start hour and end hour

// The kind of the marker prefix ("artists", "locations", "events"); false for another.
bool kind_of_prefix(std::string_view prefix, item_kind &kind);
// The number of columns of the kind's table, identifier first.
std::size_t column_count(item_kind kind);
// The column of the kind's table that a listing's field (named as in fields.h) goes
// to; for an event's date fields, column_count(events) and on, in the order date,
// start hour, end hour; -1 for a field that no column holds.
int column_of(item_kind kind, std::string_view field);

// What became of an item put into the database.
enum class put_result : std::uint8_t {
    stored,     // inserted, or replaced a row that was not newer
    kept,       // the row in the database is newer: nothing changed
    without_id, // it has no identifier, so it goes to no table
    failed,     // the database failed; cause() says why
};

class database
{
  public:
    database() = default;
    database(const database &) = delete;
    database &operator=(const database &) = delete;
    // Rolls back a file left open, closes the database and hands SQLite's memory back.
    ~database();

    // Opens path, creating the schema when the database is new (a missing or empty
    // file), or checking that veltran made it with the schema this version writes.
    // False, with the cause and nothing changed, for anything else.
    bool open(const char *path);
    // Starts the transaction of one file, waiting up to 5 s for another writer.
    bool begin_file();
    // One item: fields are the texts of its table's columns in order, identifier
    // first, as the export holds them (XML escapes as written); columns past count are
    // NULL. An event's dates follow it with put_date.
    put_result put_item(item_kind kind, const std::string_view *fields, std::size_t count);
    // A scheduled date of the event put last (date_columns fields: its date, start and
    // end hour), stored when that event was; position counts its dates from 0.
    bool put_date(unsigned position, const std::string_view *fields);
    // Raises the kind's newest timestamp to the file's when that is newer, then
    // commits the file's rows and timestamp together.
    bool commit_file(item_kind kind, const newest_stamp &newest);
    // Undoes everything since begin_file.
    void rollback_file();
    // The newest timestamp of kind in the database; since 0 when none.
    bool newest(item_kind kind, newest_stamp &stamp);
    // Why the last call failed.
    const char *cause() const { return cause_; }

  private:
    struct database_marks {
        int id = 0, version = 0, objects = 0; // application_id, user_version, schema objects
        bool is_new() const { return id == 0 && version == 0 && objects == 0; }
    };
    bool check_or_create();
    bool read_marks(database_marks &marks);
    bool create_schema();
    bool check_marks(const database_marks &marks);
    bool prepare_statements();
    bool fail();
    bool run(const char *sql);
    bool bind_field(sqlite3_stmt *statement, int column, std::string_view field, bool stamp);
    char *scratch(std::size_t bytes);

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *upsert_[item_kinds] = {};
    sqlite3_stmt *drop_dates_ = nullptr, *insert_date_ = nullptr;
    sqlite3_stmt *raise_newest_ = nullptr, *read_newest_ = nullptr;
    const char *cause_ = "";
    bool set_up_ = false;       // SQLite is set up, and is to be shut down
    bool event_stored_ = false; // whether the dates that follow go in
    char *scratch_ = nullptr;   // decoded fields until their statement has run
    std::size_t scratch_size_ = 0, scratch_used_ = 0;
};
