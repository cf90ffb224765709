#pragma once
// One file named on the command line: converted as it is read with the listing its
// root element names, or echoed back as it is read.

#include <cstddef>
#include <cstdint>

#include "veltran/diagnostics.h"
#include "veltran/fields.h"
#include "veltran/listings.h"
#include "veltran/record.h"
#include "veltran/settings.h"

// What converting one file found.
struct conversion {
    bool loaded = false;           // the file loaded and all its records were held
    const listing *root = nullptr; // the root's listing; null for another root
    held_records records;          // everything written; the root's records are [from, to)
    std::size_t from = 0, to = 0;
    newest_stamp newest;     // the newest timestamp among the root's items
    load_failure failure;    // why it did not load; when it did, what ended the
                             // load after its root (cause none when nothing did)
    findings found;          // what the file that loaded lost on the way
    std::size_t written = 0; // records of the root
    std::uint64_t bytes = 0; // of the file, when the run keeps stats
    double seconds = 0;      // its conversion took, when the run keeps stats

    // Back to fresh, for the next file: the records are dropped.
    void reset();
};

// Converts the file path into found, which must be fresh. Each item is written as
// soon as it closes and is then released, so memory does not grow with the file.
// The root is the last top-level element closed: the records and timestamps of an
// earlier top-level element are set aside. When the file does not load, found says
// so and what it holds is to be dropped. With a writer, the records go to it as named
// fields instead of into found's records, and no heading is written.
void convert_file(const char *path, const settings &options, conversion &found,
                  field_writer *writer = nullptr);

// Echo mode: writes the file back as indented XML, exactly as the library shows the
// tree it loads (the root, the last top-level element closed), into found's records
// [from, to) as it is read, so memory does not grow with the file; found says whether
// it loaded, and why not, as for convert_file. Nothing is to be printed when it did
// not.
void show_file(const char *path, conversion &found);
