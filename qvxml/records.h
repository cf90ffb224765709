#pragma once
// The library's records, status codes and limits, without any operation: a program
// (or an interface over the library) that includes this header alone has no function
// declared at global scope. The headers that declare the operations include it.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "qvxml/status.h"
#include "qvxml/tree.h"

struct xml_parser;

// ---------------------------------------------------------------------------
// The tracked allocator (allocate.h)

// The header in front of every block's data; the data keeps the alignment of
// the system allocator's blocks because the header is a whole max_align_t unit.
struct alignas(std::max_align_t) mem_header {
    int secure;       // 1 for a secure block, 0 for an ordinary one
    std::size_t size; // data bytes the caller asked for
};

// ---------------------------------------------------------------------------
// Entity conversion (html.h)

// One row of the entity table: a code page 437 byte and its entity name.
struct macro_conversions {
    int code;          // the character, 0 to 255
    const char *macro; // its name, from the ampersand through the semicolon
};

constexpr int html_macro_rows = 22; // the accented letters (the HTML extent)
constexpr int xml_macro_rows = 26;  // plus < > & " (the XML extent)

// ---------------------------------------------------------------------------
// The streaming reader (xmlparse.h)

constexpr int xml_max_token = 8191;   // longest token the reader accepts
constexpr int xml_buffer_step = 8192; // growth step of the application's text buffer
constexpr int xml_heap_slots = 64;
constexpr int xml_payload_slots = 64;
constexpr int xml_input_block = 65536; // bytes the reader takes from its stream at a time

// Per-parse application context, handed to every relay. Lives in secure memory and
// belongs to the parser; it exists only during one xml_parse call.
struct xml_application {
    int nested;                       // cleared by xml_reset; free for the application
    int heap[xml_heap_slots];         // free for the application
    char *buffer;                     // collected text (secure block), NUL-terminated at offset
    int buflen;                       // capacity of buffer: a multiple of 8192
    int echo;                         // non-zero: the default relays print each event
    int offset;                       // text bytes held in buffer
    int strict;                       // first byte of $XMLSTRICT at the last reset, or 0
    void *payload[xml_payload_slots]; // application state; slot 0 is given to xml_parse
    xml_element *root;                // set by the application's relays; copied to result
    xml_parser *parent;               // the parser running this context
};

// Relays: each receives the application context. Text arguments point into the
// parser's token buffer and are valid only during the call; copy what you keep.
// A non-zero result of open_tag, atb_name, atb_value or close_tag ends the parse
// with that status (status_no_element (48) ends it as a success); the results of white_space, token
// and punctuation are not looked at. A null entry leaves the default relay in force.
// Declare a table zero-initialised (xml_relay r{}) and set the members wanted: a
// member the caller does not know of, such as one added later, then stays null.
// Members added after result carry a null default of their own, so an initializer
// that names only the members before them stays complete and leaves them null.
struct xml_relay {
    int (*open_tag)(xml_application *xptr, const char *token);  // start tag name read
    int (*atb_name)(xml_application *xptr, const char *token);  // attribute name read
    int (*atb_value)(xml_application *xptr, const char *token); // value, quotes included
    int (*white_space)(xml_application *xptr, int c);           // white space in content
    int (*token)(xml_application *xptr, const char *token);     // word in content
    int (*punctuation)(xml_application *xptr, int c);           // other character in content
    int (*close_tag)(xml_application *xptr);                    // innermost element ends
    // Called when a parse stops on a failure other than status_unclosed (3) and
    // status_cannot_open (4), after the parser is closed, with the file name, the
    // status and the number of line feeds read; its result becomes the result of
    // xml_parse. Without it, xml_parse returns the status.
    int (*failure)(const char *filename, int status, int lines);
    xml_element *result; // written by xml_parse: the context's root when the parse ends
    // Optional, no default. When set (and echo is off), element content is handed over
    // in runs instead of through white_space, token and punctuation: length bytes, not
    // terminated, exactly the characters those relays would have received in the same
    // order (carriage returns dropped, so a run never holds one). The content between
    // two tags may come in several runs, cut at the reader's input blocks, at dropped
    // carriage returns, and anywhere in a CDATA section. A word of content longer
    // than xml_max_token still ends the parse with status_token_too_long (5). The result is not
    // looked at.
    int (*content_run)(xml_application *xptr, const char *text, int length) = nullptr;
};

// The reader's state for one parse of one file. Lives in secure memory.
struct xml_parser {
    xml_relay *user;       // relays in force (ordinary memory, owned)
    xml_application *work; // application context (secure memory, owned)
    FILE *handle;          // the input, opened in mode "r"; null when reading memory
    char *name;            // copy of the file name (of the name given with memory input)
    int lines;             // line feeds read so far
    int column;            // characters read since the last line feed
    int ungotch;           // pushed-back character, 0 when none
    char token[xml_max_token + 2];
    int punctuation; // the punctuation character being handled
    int length;      // characters in token
    int state;       // syntax state, 0 to 12
    int nesting;     // elements open
    int echo;        // non-zero: every character read is copied to standard output
    int ended;       // non-zero once a zero byte or the end of input was met
    int inpos;       // next unread byte of input
    int inend;       // end of the bytes held in input
    unsigned char input[xml_input_block]; // bytes read from handle; unused for memory input
};

// How a parse ended, in more detail than its status: for messages that say what went
// wrong and where. The calls that take one fill it whatever the outcome; a null
// outcome is allowed and ignored. (Since 1.1.)
struct xml_outcome {
    int status;        // the parse's status as xml_parse returns it without a failure hook
    int line;          // the line being read when the parse ended, counted from 1; 0 when
                       // the input could not be opened
    int open_elements; // elements still open when the parse ended
    int error_number;  // errno of a failed open or read of the input (a read error ends
                       // the input as its end does), ENOMEM when there was no memory for
                       // the parser; 0 otherwise
    int zero_byte;     // 1 when a zero byte ended the input, before whatever followed it
    int element_line;  // streamed loads only: during a callback, the line on which the
                       // element it is handed began (the child, or the top-level element)
};

// ---------------------------------------------------------------------------
// Loads and writers of the document tree (document.h)

// Callbacks of a streamed load; any of them may be null. A non-zero result stops the
// load. The elements passed are valid only during the call.
struct document_stream {
    void *context; // handed to every callback
    // A top-level element has been opened; its name is known, nothing inside it yet.
    int (*open_top)(void *context, const xml_element *top);
    // A child of a top-level element has closed, complete with its subtree. It is
    // released after the call, so the top-level element never holds more than one.
    int (*child)(void *context, const xml_element *top, const xml_element *child);
    // A top-level element has closed (its children already handed over).
    int (*close_top)(void *context, const xml_element *top);
};

// Where the writers below put their text: write is called with each piece in turn (n
// bytes at bytes, n above 0) and context, and returns 0 to go on, or a status of its
// own that ends the writing. (Since 1.1.)
struct document_writer {
    void *context; // handed to write
    int (*write)(void *context, const char *bytes, std::size_t n);
};

// ---------------------------------------------------------------------------
// Settings per parse, and how a parse with them ended (xmlparse.h, document.h)

// Settings of one parse, handed with the call instead of read from the process-wide
// switches, so that parses on several threads may each have their own. The caller
// sets size to sizeof(xml_settings) as it was compiled: the library reads only the
// fields that size covers, so a later release can append fields and a program built
// against this one still runs. Zero-initialise it and set size and the fields wanted
// (xml_settings s{}; s.size = sizeof s;): a zero field means off, standard output, no
// callback. A null settings pointer stands for the process-wide switches (set_xml_eof,
// set_xml_echo) as the plain calls read them. (Since 1.2.)
struct xml_settings {
    std::size_t size;   // sizeof(xml_settings); a size below 1.2's record is refused
    int allow_unclosed; // non-zero: input that ends with elements open is not a failure
    int echo;           // non-zero: every character read and every default relay event
                        // is copied to echo_writer
    // Where the echo goes: its write gets the echoed text in pieces, in order, on the
    // parsing thread and during the call only. Null: standard output. A non-zero result of its
    // write ends the parse with that status, as a relay's stopping status would.
    const document_writer *echo_writer;
    // When set, replaces the relay table's failure hook for this call: called with
    // failure_context, the input's name, the status and the whole number of line feeds
    // read, on the failures the hook is called on, after the parser is closed; its
    // result becomes the call's result (the report keeps the parse's own status).
    int (*failure)(void *context, const char *name, int status, std::int64_t lines);
    void *failure_context; // handed to failure
    // The document loads (document_parse_*_with, document_stream_*_with): non-zero
    // keeps no attribute, so every element's firstatb and lastatb stay null and no
    // attribute is copied or allocated. The input is read and checked as ever: the
    // statuses, line counts and echo are those of a load that keeps them. The reader
    // calls (xml_parse_with, xml_parse_buffer_with) do not look at it. (Since 1.3.)
    int skip_atributes;
};
// How a parse or load with settings ended: xml_outcome's facts, with whole (64-bit)
// line counts and the root handed back. The caller sets size to sizeof(xml_report);
// the library fills the fields that size covers and no byte past it, so later fields
// can be appended. A null report is allowed and ignored. (Since 1.2.)
struct xml_report {
    std::size_t size;          // sizeof(xml_report), set by the caller; never written
    int status;                // the parse's own status (before any failure callback)
    int open_elements;         // elements still open when the parse ended
    int error_number;          // errno of a failed open or read, ENOMEM, EINVAL; else 0
    int zero_byte;             // 1 when a zero byte ended the input
    std::int64_t line;         // the line being read at the end, from 1; 0 when the input
                               // could not be opened
    std::int64_t element_line; // streamed loads: during a callback, where the element
                               // handed over began
    xml_element *root;         // the context's root when the parse ended (the reader);
                               // the tree returned (a whole load); null otherwise
};
