#pragma once
// The three listings (artists, locations, scheduled events): each writes the records
// of one item of its root element, either as record lines into the file's held records
// or as named fields to a field_writer (veltran/fields.h); both come from one walk of
// the item, so the two never disagree on what a record holds.

#include <string_view>

#include "qvxml/element.h"
#include "veltran/diagnostics.h"
#include "veltran/fields.h"
#include "veltran/record.h"
#include "veltran/settings.h"

// The settings a listing reads, the newest timestamp its items raise, and where it
// notes what it had to leave out or cut.
struct listing_run {
    const settings &options;
    newest_stamp &newest;
    findings &found;
    std::int64_t item_line = 0; // where the item being written began
    const char *item_id = "";   // its identifier, for warnings
    std::size_t written = 0;    // records written
};

// One listing: the root element it converts, the name of its items, its verbose
// heading, its kind (also the prefix of its marker files), and how one item is written
// as record lines or as named fields.
struct listing {
    const char *root;
    const char *item;
    const char *required; // the child an item is left out without
    std::string_view title;
    const char *prefix;
    void (*write_lines)(listing_run &run, held_records &records, const xml_element *item);
    void (*write_fields)(listing_run &run, field_writer &writer, const xml_element *item);
};

// The listing of a root element named root; null for another name or a null root.
const listing *listing_for(const char *root);
