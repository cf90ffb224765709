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

#include "qvxml/internal/impl.h"
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
    // While a content run is handed over: how many white-space bytes begin it, as the
    // reader found them, so that the builder need not look at them again. Set before
    // every hand-over of a run.
    int run_space;
    // Set by the document builder while the innermost open element has no text yet:
    // it drops white space there, so a run of nothing but white space need not be
    // handed over at all. Zero, every run handed over, for any other application.
    int blank_runs_dropped;
    // Where the echo goes when the parse's settings name a writer; null: standard
    // output. The sink lives with the call that runs the parse.
    text_sink *echo_sink;
};
static_assert(std::is_standard_layout_v<parser_record>);

// Short names are copied as one fixed block of this size, which costs less than a
// call, when both sides have room for it.
constexpr std::size_t short_copy = 32;

// Copies n bytes of from to to and terminates them. roomy: from can be read, and to
// written, short_copy bytes from their starts.
inline void copy_terminated(char *to, const void *from, std::size_t n, bool roomy)
{
    if (roomy && n < short_copy)
        std::memcpy(to, from, short_copy);
    else
        std::memcpy(to, from, n);
    to[n] = '\0';
}

// Copies n bytes of from to to, which do not overlap. Up to 32 bytes are moved inline
// as two overlapping pieces of a power of two, reading and writing only the n bytes:
// most runs of an export's text are that short, and a call to memcpy costs more than
// the copy.
inline void copy_bytes(char *to, const char *from, std::size_t n)
{
    const auto pair = [&](auto piece) {
        std::memcpy(&piece, from, sizeof piece);
        decltype(piece) tail;
        std::memcpy(&tail, from + n - sizeof piece, sizeof piece);
        std::memcpy(to, &piece, sizeof piece);
        std::memcpy(to + n - sizeof piece, &tail, sizeof piece);
    };
    struct sixteen {
        std::uint64_t half[2];
    };
    if (n > 32)
        std::memcpy(to, from, n);
    else if (n >= 16)
        pair(sixteen{});
    else if (n >= 8)
        pair(std::uint64_t{});
    else if (n >= 4)
        pair(std::uint32_t{});
    else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

inline parser_record &record_of(xml_parser *p)
{
    return *reinterpret_cast<parser_record *>(p);
}

// What a parse reads: the file path, or length bytes at data (path null). name is
// what the failure hook is given.
struct parse_source {
    const char *path;
    const char *data;
    std::size_t length;
    const char *name;
};

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

inline void xml_ungetch(xml_parser *sptr, int c)
{
    sptr->ungotch = c;
}

// Moves the read position over n bytes that hold no line feed.
inline void step_in_line(xml_parser *sptr, int n)
{
    sptr->inpos += n;
    sptr->column += n;
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
    if (c == '\n') {
        ++sptr->lines;
        sptr->column = 0;
    } else {
        ++sptr->column;
    }
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
