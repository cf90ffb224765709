#pragma once
// A file's records read back as database rows: each record line of a listing is one
// item of its kind, and an event's lines are the event and its scheduled dates.

#include <cstddef>

#include "veltran/database.h"
#include "veltran/record.h"

// What loading a file's records did.
struct load_tally {
    long stored = 0;     // items inserted or replaced
    long kept = 0;       // items whose row in the database is newer
    long without_id = 0; // items left out for want of an identifier
};

// Puts the records [from, to) of records, all of kind, into db, inside the file's
// transaction. Null when they are all in; otherwise why not (the database failed,
// memory ran out, or the records could not be read back), and the caller rolls back.
const char *load_records(held_records &records, std::size_t from, std::size_t to, item_kind kind,
                         database &db, load_tally &tally);
