#pragma once
// The three listings (artists, locations, scheduled events): each writes the records
// of one item of its root element.

#include <string_view>

#include "qvxml/element.h"
#include "veltran/diagnostics.h"
#include "veltran/record.h"

// What the command line has set so far; an option affects the files named after it.
struct settings {
    int type = 0;    // event-type filter; 0 lets every event through
    int echo = 0;    // 1: print each loaded tree back as XML instead of converting it
    int verbose = 0; // 1: each listing prints its heading line first
    int quiet = 0;   // 1: no warnings about the files named from here on
};

// Where a listing writes its records and the newest timestamp its items raise, and
// where it notes what it had to leave out or cut.
struct listing_run {
    const settings &options;
    held_records &records;
    newest_stamp &newest;
    findings &found;
    std::int64_t item_line = 0; // where the item being written began
    const char *item_id = "";   // its identifier, for warnings
};

// One listing: the root element it converts, the name of its items, its verbose
// heading, how one item is written, and the prefix of its marker files.
struct listing {
    const char *root;
    const char *item;
    const char *required; // the child an item is left out without
    std::string_view title;
    void (*write_item)(listing_run &run, const xml_element *item);
    const char *prefix;
};

// The listing of a root element named root; null for another name or a null root.
const listing *listing_for(const char *root);
