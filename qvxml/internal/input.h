#pragma once
// The reader's input: the parser record, opened on a file or on the caller's memory,
// and the reading of characters from it. Either source is read in windows of
// xml_input_block bytes: a file through the parser's own input array, memory in place,
// each window a stretch of the caller's bytes, so that both present the reader with
// the same windows. Carriage returns are dropped, line feeds counted, and with echo
// on every character read is copied to standard output.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "qvxml/internal/copy.h"
#include "qvxml/internal/impl.h"
#include "qvxml/internal/link.h"
#include "qvxml/internal/sink.h"

// The parser as the reader allocates it: the public record first, so that a pointer
// to one is a pointer to the other, then what the reader keeps to itself. Parsers are
// only ever made here, so the public record's layout stays as it was.
struct parser_record {
    xml_parser parser;
    int read_error;              // errno of the read that failed; 0 while none has
    int zero_byte;               // 1 once a zero byte has ended the input
    const unsigned char *window; // the bytes inpos and inend count in
    const unsigned char *memory; // memory input: the caller's bytes; null for a file
    std::size_t memory_length;   // memory input: how many
    std::size_t memory_next;     // memory input: where the next window starts
    // The library's own relays in force besides the table's; null for a plain parse.
    reader_link *link;
    // The whole counts of line feeds and of characters since the last one: a stream may
    // pass INT_MAX of either. The public record's lines and column hold them saturated.
    std::int64_t line_count;
    std::int64_t column_count;
    // Where the echo goes when the parse's settings name a writer; null: standard
    // output. The sink lives with the call that runs the parse.
    text_sink *echo_sink;
};
static_assert(std::is_standard_layout_v<parser_record>);

inline parser_record &record_of(xml_parser *p)
{
    return *reinterpret_cast<parser_record *>(p);
}

// A parser on source with the default relays in force, its application context
// carrying payload and echo; null, with the cause's errno in error, when the file
// cannot be opened or there is no memory for the parser.
xml_parser *open_parser(const parse_source &source, void *payload, int echo, int &error);
// Takes the next window of the input. False at the end of the input, which then
// stays ended.
bool refill(xml_parser *sptr);
// A zero byte ends the input for good: nothing after it is ever delivered.
void end_input(xml_parser *sptr);

inline const unsigned char *window_of(xml_parser *sptr)
{
    return record_of(sptr).window;
}

// The whole number of line feeds read so far.
inline std::int64_t line_count(const xml_parser *sptr)
{
    return reinterpret_cast<const parser_record *>(sptr)->line_count;
}

// Copies the whole counts, saturated, into the public record, where a relay may read
// them.
inline void publish_counts(xml_parser *sptr)
{
    const parser_record &r = record_of(sptr);
    sptr->lines = saturated_count(r.line_count);
    sptr->column = saturated_count(r.column_count);
}

// Sets the position: the whole counts, and their saturated copies.
inline void set_counts(xml_parser *sptr, std::int64_t lines, std::int64_t column)
{
    parser_record &r = record_of(sptr);
    r.line_count = lines;
    r.column_count = column;
    publish_counts(sptr);
}

inline void add_columns(xml_parser *sptr, std::int64_t n)
{
    parser_record &r = record_of(sptr);
    r.column_count += n;
    sptr->column = saturated_count(r.column_count);
}

inline void xml_ungetch(xml_parser *sptr, int c)
{
    sptr->ungotch = c;
}

// Moves the read position over n bytes that hold no line feed.
inline void step_in_line(xml_parser *sptr, int n)
{
    sptr->inpos += n;
    add_columns(sptr, n);
}

// Copies n bytes read to the echo: the parse's writer, or standard output.
inline void echo_bytes(xml_parser *sptr, const void *bytes, std::size_t n)
{
    if (text_sink *out = record_of(sptr).echo_sink)
        out->put(std::string_view{static_cast<const char *>(bytes), n});
    else
        std::fwrite(bytes, 1, n, stdout);
}
inline void echo_char(xml_parser *sptr, int c)
{
    if (text_sink *out = record_of(sptr).echo_sink)
        out->put(static_cast<char>(c));
    else
        putchar_unlocked(c);
}

// Delivers the byte at the read position, which is known not to be a carriage
// return or a zero byte: counts it and echoes it.
inline void consume(xml_parser *sptr, int c)
{
    ++sptr->inpos;
    if (c == '\n')
        set_counts(sptr, line_count(sptr) + 1, 0);
    else
        add_columns(sptr, 1);
    if (sptr->echo) echo_char(sptr, c);
}

// The next byte at the read position without delivering it, carriage returns
// skipped; 0 at the end of input. Only valid with nothing pushed back.
inline int peek_input(xml_parser *sptr)
{
    for (;;) {
        if (sptr->inpos == sptr->inend && !refill(sptr)) return 0;
        const int c = window_of(sptr)[sptr->inpos];
        if (c == '\r') {
            ++sptr->inpos;
            continue;
        }
        if (c == 0) end_input(sptr);
        return c;
    }
}

// The next character, 1 to 255, or 0 at the end of input.
inline int xml_getch(xml_parser *sptr)
{
    if (sptr->ungotch) {
        const int c = sptr->ungotch;
        sptr->ungotch = 0;
        return c;
    }
    const int c = peek_input(sptr);
    if (c != 0) consume(sptr, c);
    return c;
}

// The reader looks one character past a token or a run of white space. With echo on
// that character is echoed at that moment, as a character read and pushed back
// would be, so that echoed input and printed events interleave as they were read.
// A line feed looked at is counted as read whatever echo is, so a relay that stops
// the parse after a token leaves the failure hook the same line count either way.
inline int look_ahead(xml_parser *sptr, int c)
{
    if (c != 0 && (sptr->echo || c == '\n')) {
        consume(sptr, c);
        xml_ungetch(sptr, c);
    }
    return c;
}

// Whether content goes to the application in runs: it takes them and nothing is echoed.
inline bool takes_runs(xml_parser *sptr)
{
    return (record_of(sptr).link || sptr->user->content_run) && !sptr->echo;
}

// Hands a run of content over, space bytes of white space at its start.
inline void hand_run(xml_parser *sptr, const char *text, std::size_t length, std::size_t space)
{
    if (const reader_link *link = record_of(sptr).link)
        (void)link->content_run(sptr->work, text, length, space);
    else
        (void)sptr->user->content_run(sptr->work, text, static_cast<int>(length));
}
