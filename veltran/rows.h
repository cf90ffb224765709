#pragma once
// A file's records as database rows. While the file converts, on whichever thread,
// row_writer keeps each record's fields in the file's held records, so that memory
// stays flat and nothing touches the database; when the file's turn comes on the main
// thread, load_rows puts them into the database inside the file's transaction.

#include <cstddef>

#include "veltran/database.h"
#include "veltran/fields.h"
#include "veltran/record.h"

class row_writer final : public field_writer
{
  public:
    explicit row_writer(held_records &records) : records_{records} {}
    void begin(const char *path, std::string_view kind) override;
    void record(const field_record &r) override;
    void end() override {}

  private:
    held_records &records_;
    item_kind kind_ = item_kind::artists;
};

// What loading a file's rows did.
struct load_tally {
    long stored = 0;     // items inserted or replaced
    long kept = 0;       // items whose row in the database is newer
    long without_id = 0; // items left out for want of an identifier
};

// Puts the rows that row_writer kept in records [from, to), all of kind, into db.
// Null when they are all in; otherwise why not (the database failed, memory ran out,
// or the records could not be read back), and the caller rolls back.
const char *load_rows(held_records &records, std::size_t from, std::size_t to, item_kind kind,
                      database &db, load_tally &tally);
