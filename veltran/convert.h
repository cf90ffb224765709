#pragma once
// One file named on the command line: converted as it is read with the listing its
// root element names, or echoed back as it is read; and the marker files of a kind.

#include <cstddef>

#include "veltran/diagnostics.h"
#include "veltran/listings.h"
#include "veltran/record.h"

// What converting one file found.
struct conversion {
    bool loaded = false;           // the file loaded and all its records were held
    const listing *root = nullptr; // the root's listing; null for another root
    held_records records;          // everything written; the root's records are [from, to)
    std::size_t from = 0, to = 0;
    newest_stamp newest;  // the newest timestamp among the root's items
    load_failure failure; // why it did not load; when it did, what ended the
                          // load after its root (cause none when nothing did)
    findings found;       // what the file that loaded lost on the way
};

// Converts the file path into found, which must be fresh. Each item is written as
// soon as it closes and is then released, so memory does not grow with the file.
// The root is the last top-level element closed: the records and timestamps of an
// earlier top-level element are set aside. When the file does not load, found says
// so and what it holds is to be dropped.
void convert_file(const char *path, const settings &options, conversion &found);

// Echo mode: writes the file back as indented XML, exactly as the library shows the
// tree it loads (the root, the last top-level element closed), into found's records
// [from, to) as it is read, so memory does not grow with the file; found says whether
// it loaded, and why not, as for convert_file. Nothing is to be printed when it did
// not.
void show_file(const char *path, conversion &found);
// Writes both marker files of a kind (prefix "artists", "locations" or "events") in
// the working directory with the newest timestamp, unless its number is 0. Each is
// written beside its place and renamed into it; a marker that cannot be written is
// skipped, with a warning unless quiet.
void write_markers(const char *prefix, const newest_stamp &newest, bool quiet);
