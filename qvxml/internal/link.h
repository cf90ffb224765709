#pragma once
// The reader's interface to the library's own relay tables (the document builder's):
// what their quick paths need of a parse, passed as arguments, and what they tell the
// reader back, so that neither side reads the other's records. A parse given a link
// calls its relays in place of the table's open_tag and content_run. The reader's
// side is in xmlparse.cpp.

#include <climits>
#include <cstddef>
#include <cstdint>

#include "qvxml/records.h"

// A count as the public int fields, hook arguments and outcomes give it: saturated at
// INT_MAX.
constexpr int saturated_count(std::int64_t n)
{
    return n < INT_MAX ? static_cast<int>(n) : INT_MAX;
}

struct reader_link {
    // A start tag's name: length bytes, terminated, that can be read short_copy
    // (copy.h) bytes from their start; line is the one it was read on, from 1, counted
    // whole. A non-zero result stops the parse, as open_tag's does.
    int (*open_tag)(xml_application *xptr, const char *name, std::size_t length, std::int64_t line);
    // Element content in runs, as content_run takes it (required: while echo is off a
    // linked parse hands all content over this way); space is how many bytes at the
    // start of the run the reader found to be white space. The result is not looked at.
    int (*content_run)(xml_application *xptr, const char *text, std::size_t length,
                       std::size_t space);
    // Set by the application while it would drop a run of nothing but white space (its
    // innermost open element has no text yet): the reader need not hand one over then.
    bool blank_runs_dropped;
    // Set for the whole parse when the application keeps no attribute and its atb_name
    // and atb_value relays do nothing: the reader may step over an attribute without
    // copying it or calling them. It still reads and checks every one.
    bool atributes_dropped;
};

// What a parse reads: the file path, or length bytes at data (path null). name is
// what the failure hook is given.
struct parse_source {
    const char *path;
    const char *data;
    std::size_t length;
    const char *name;
};

// A parse of source as xml_parse_outcome (a path) or xml_parse_buffer (data) makes it,
// with link's relays (when link is not null) in force over fptr's.
int parse_linked(const parse_source &source, xml_relay *fptr, reader_link *link, void *aptr,
                 xml_outcome *outcome);
// The same with the caller's settings, as xml_parse_with (a path) or
// xml_parse_buffer_with (data) makes it: ended is filled whole, the root included.
int parse_linked_with(const parse_source &source, const xml_relay *fptr, reader_link *link,
                      void *aptr, const xml_settings *settings, xml_report &ended);
