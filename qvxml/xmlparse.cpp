#include "qvxml/internal/impl.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "qvxml/internal/chars.h"
#include "qvxml/internal/content_scan.h"
#include "qvxml/internal/input.h"
#include "qvxml/internal/markup.h"
#include "qvxml/internal/report.h"

using namespace qvxml::impl;

namespace
{

// ---------------------------------------------------------------------------
// Process-wide switches (plain, unsynchronised: set them before parsing)

int xml_allow_eof = 0;
int xml_echo_state = 0;

// ---------------------------------------------------------------------------
// Syntax states, stored as their numbers in xml_parser::state

enum class reader_state : int {
    outside = 0,
    tag_open = 1,
    tag_close_wait = 2,
    content = 3,
    start_tag = 5,
    atb_name_read = 6,
    atb_value_wait = 7,
    end_tag_name = 8,
    instruction = 9,
    instruction_end = 10,
    declaration = 12,
};

reader_state state_of(const xml_parser *p)
{
    return static_cast<reader_state>(p->state);
}
void enter(xml_parser *p, reader_state s)
{
    p->state = static_cast<int>(s);
}
// Leaving a tag, instruction or declaration: back into content while elements are open.
void go_back(xml_parser *p)
{
    enter(p, p->nesting ? reader_state::content : reader_state::outside);
}

// ---------------------------------------------------------------------------
// White space and tokens

// Skips white space (handing it to the white_space relay inside element content) and
// returns the next other character, left unread; 0 at the end of input.
int xml_remove_space(xml_parser *sptr)
{
    if (sptr->ungotch) {
        const int c = xml_getch(sptr);
        if (!is_space(c)) {
            xml_ungetch(sptr, c);
            return c;
        }
        if (state_of(sptr) == reader_state::content) (void)sptr->user->white_space(sptr->work, c);
    }
    const bool relay = state_of(sptr) == reader_state::content;
    if (sptr->echo) { // one character at a time, each echoed as it is read
        for (;;) {
            const int c = peek_input(sptr);
            if (c == 0 || !is_space(c)) return look_ahead(sptr, c);
            consume(sptr, c);
            if (relay) (void)sptr->user->white_space(sptr->work, c);
        }
    }
    for (;;) {
        const unsigned char *p = window_of(sptr) + sptr->inpos;
        const unsigned char *end = window_of(sptr) + sptr->inend;
        std::int64_t lines = line_count(sptr);
        std::int64_t column = record_of(sptr).column_count;
        for (; p < end; ++p) {
            const int c = *p;
            if (c == ' ' || c == '\t') {
                ++column;
            } else if (c == '\n') {
                ++lines;
                column = 0;
            } else if (c == '\r') {
                continue;
            } else {
                break;
            }
            if (relay) { // the relay sees a consistent parser
                sptr->inpos = static_cast<int>(p + 1 - window_of(sptr));
                set_counts(sptr, lines, column);
                (void)sptr->user->white_space(sptr->work, c);
            }
        }
        set_counts(sptr, lines, column);
        sptr->inpos = static_cast<int>(p - window_of(sptr));
        if (p < end) return peek_input(sptr);
        if (!refill(sptr)) return 0;
    }
}

// Appends the run of token characters at the read position to the token, across
// input blocks. Returns false when the run would pass the length limit; the
// character that does not fit is consumed, as the limit demands.
bool take_token_run(xml_parser *sptr, const byte_table &is_token)
{
    for (;;) {
        const unsigned char *start = window_of(sptr) + sptr->inpos;
        const int room = xml_max_token - sptr->length;
        // copy while scanning, stopping at the end of the block or of the room
        const unsigned char *end = start + std::min(sptr->inend - sptr->inpos, room);
        const unsigned char *q = start;
        char *out = sptr->token + sptr->length;
        while (q < end && is_token[*q])
            *out++ = static_cast<char>(*q++);
        const auto run = static_cast<int>(q - start);
        if (sptr->echo) echo_bytes(sptr, start, static_cast<std::size_t>(run));
        sptr->length += run;
        step_in_line(sptr, run);
        if (q < end) return true;        // stopped at a character that is not part of the run
        if (sptr->inpos < sptr->inend) { // out of room with the run going on
            if (!is_token[window_of(sptr)[sptr->inpos]]) return true;
            (void)xml_getch(sptr);
            return false;
        }
        if (!refill(sptr)) return true;
    }
}

// The rest of a quoted token, after its opening mark: everything up to and including
// the same mark, or to the end of the input. False when it passes the length limit.
bool take_quoted(xml_parser *sptr, int quote)
{
    if (sptr->echo || sptr->ungotch) { // one character at a time, each echoed as it is read
        for (;;) {
            const int c = xml_getch(sptr);
            if (c == 0) return true;
            if (sptr->length >= xml_max_token) return false;
            sptr->token[sptr->length++] = static_cast<char>(c);
            if (c == quote) return true;
        }
    }
    for (;;) {
        if (sptr->inpos == sptr->inend && !refill(sptr)) return true;
        // copy up to the closing mark, a carriage return or a zero byte, as room allows
        const unsigned char *start = window_of(sptr) + sptr->inpos;
        const unsigned char *end = window_of(sptr) + sptr->inend;
        const unsigned char *stop =
            start + std::min<std::ptrdiff_t>(end - start, xml_max_token - sptr->length);
        const unsigned char *q = start;
        const unsigned char *line = nullptr; // just past the last line feed copied
        std::int64_t lines = 0;
        char *out = sptr->token + sptr->length;
        for (; q < stop && *q != quote && *q != '\r' && *q != 0; *out++ = static_cast<char>(*q++)) {
            if (*q == '\n') {
                ++lines;
                line = q + 1;
            }
        }
        sptr->length += static_cast<int>(q - start);
        sptr->inpos += static_cast<int>(q - start);
        set_counts(sptr, line_count(sptr) + lines,
                   lines ? q - line : record_of(sptr).column_count + (q - start));
        if (q == stop && q < end) return xml_getch(sptr) == 0; // no room for what follows
        if (q == end) continue;
        if (*q == '\r') {
            ++sptr->inpos;
            continue;
        }
        if (*q == 0) {
            end_input(sptr);
            return true;
        }
        consume(sptr, quote);
        sptr->token[sptr->length++] = static_cast<char>(quote);
        return true;
    }
}

// Reads the rest of a token whose first sptr->length characters are held, from the
// read position on, and terminates it. False when it would exceed the limit.
bool take_token_rest(xml_parser *sptr, const byte_table &is_token)
{
    for (;;) {
        if (!take_token_run(sptr, is_token)) return false;
        const int c = peek_input(sptr);
        if (is_token[static_cast<unsigned char>(c)])
            continue; // a dropped carriage return split the run
        if (char_classes[static_cast<unsigned char>(c)] != char_class::quote) {
            look_ahead(sptr, c);
            break;
        }
        // a quotation mark that is not ordinary here
        if (sptr->length >= xml_max_token) {
            consume(sptr, c);
            return false;
        }
        consume(sptr, c);
        sptr->token[sptr->length++] = static_cast<char>(c);
        if (sptr->length == 1) { // it opens a quoted token
            if (!take_quoted(sptr, c)) return false;
            break;
        }
    }
    sptr->token[sptr->length] = '\0';
    return true;
}

// Reads a token into sptr->token: its length, 0 when the next character starts none,
// -1 when it would exceed the limit. Inside element content quotation marks are
// ordinary characters, so an apostrophe in text never swallows the tags after it.
int xml_get_token(xml_parser *sptr)
{
    sptr->length = 0;
    const bool quoting = state_of(sptr) != reader_state::content;
    const auto &is_token = quoting ? plain_token : content_token;
    if (sptr->ungotch) { // a pushed-back character comes first
        const int c = sptr->ungotch;
        const char_class k = char_classes[static_cast<unsigned char>(c)];
        if (k != char_class::token && k != char_class::quote) return sptr->token[0] = '\0', 0;
        sptr->ungotch = 0;
        sptr->token[sptr->length++] = static_cast<char>(c);
        if (k == char_class::quote && quoting) {
            if (!take_quoted(sptr, c)) return -1;
            sptr->token[sptr->length] = '\0';
            return sptr->length;
        }
    }
    return take_token_rest(sptr, is_token) ? sptr->length : -1;
}

// Length of the word (run of content token characters) that ends at end, looking
// back no further than begin.
std::size_t trailing_word(const unsigned char *begin, const unsigned char *end)
{
    const unsigned char *p = end;
    while (p > begin && content_token[p[-1]])
        --p;
    return static_cast<std::size_t>(end - p);
}

// The first character of [begin, end) that makes a word longer than the limit, the
// word before begin being word characters long; null when there is none. word is
// left at the length of the word [begin, end) ends in.
const unsigned char *overlong_word(const unsigned char *begin, const unsigned char *end,
                                   std::size_t &word)
{
    for (const unsigned char *p = begin; p < end; ++p) {
        if (!content_token[*p]) {
            word = 0;
        } else if (++word > static_cast<std::size_t>(xml_max_token)) {
            return p;
        }
    }
    return nullptr;
}

// Counts the line feeds of a scanned stretch of n bytes as read.
void count_lines(xml_parser *sptr, const xml_content_scan &s, std::size_t n)
{
    if (s.lines)
        set_counts(sptr, line_count(sptr) + static_cast<std::int64_t>(s.lines),
                   static_cast<std::int64_t>(n - s.line_end));
    else
        add_columns(sptr, static_cast<std::int64_t>(n));
}

// Hands a run of the input window over, space bytes of white space at its start.
void hand_run(xml_parser *sptr, const unsigned char *begin, std::size_t length, std::size_t space)
{
    hand_run(sptr, reinterpret_cast<const char *>(begin), length, space);
}

// The open_tag relay for the start tag whose name the token holds: the link's, with
// what the token holds and the line it is on, or the table's.
int relay_open_tag(xml_parser *sptr)
{
    if (const reader_link *link = record_of(sptr).link)
        return link->open_tag(sptr->work, sptr->token, static_cast<std::size_t>(sptr->length),
                              line_count(sptr) + 1);
    return sptr->user->open_tag(sptr->work, sptr->token);
}

// Element content for the run relay (echo off, nothing pushed back): hands the text
// up to the next tag over in runs, one or more per input block, and reads the '<'
// that ends it (the state is then tag_open). Returns 0, also when the input ends
// first (the state is then still content), or 5 when a word passes the limit: the
// runs before it are handed over, and the character that does not fit is read.
int take_content(xml_parser *sptr)
{
    std::size_t word = 0; // the word the previous run ended in, across blocks and dropped returns
    for (;;) {
        if (sptr->inpos == sptr->inend && !refill(sptr)) return 0;
        const unsigned char *begin = window_of(sptr) + sptr->inpos;
        const unsigned char *end = window_of(sptr) + sptr->inend;
        const xml_content_scan s = xml_scan_content_wide(begin, end);
        const unsigned char *stop = begin + s.stop;
        const std::size_t space = s.space;
        if (s.stop > 0) {
            if (word + s.stop > static_cast<std::size_t>(xml_max_token)) {
                if (const unsigned char *over = overlong_word(begin, stop, word)) {
                    const unsigned char *start =
                        over - std::min<std::size_t>(xml_max_token, over - begin);
                    if (start > begin)
                        hand_run(sptr, begin, static_cast<std::size_t>(start - begin),
                                 std::min(space, static_cast<std::size_t>(start - begin)));
                    const xml_content_scan head = xml_scan_content_portable(begin, over + 1);
                    count_lines(sptr, head, head.stop);
                    sptr->inpos += static_cast<int>(over + 1 - begin);
                    return status_token_too_long;
                }
            } else if (stop == end || *stop == '\r') { // the last word may go on
                const std::size_t tail = trailing_word(begin, stop);
                word = tail == s.stop ? word + tail : tail;
            }
            count_lines(sptr, s, s.stop);
            sptr->inpos += static_cast<int>(s.stop);
            hand_run(sptr, begin, s.stop, space);
        }
        if (stop == end) continue;
        switch (*stop) {
        case '\r':
            ++sptr->inpos;
            continue; // dropped; a word goes on across it
        case '\0':
            end_input(sptr);
            return 0;
        default: // '<'
            step_in_line(sptr, 1);
            enter(sptr, reader_state::tag_open);
            return 0;
        }
    }
}

// A tag after its '<' at p that is plain and whole before end: a start tag "name>" or
// an end tag "/name>". Its name's length, 0 when it is anything else. Inline in both
// of its callers: it runs once per tag.
struct plain_tag {
    std::size_t name_length;
    bool closing;
};
[[gnu::always_inline]] inline plain_tag read_plain_tag(const unsigned char *p,
                                                       const unsigned char *end)
{
    const bool closing = p < end && *p == '/';
    const unsigned char *name = p + (closing ? 1 : 0);
    const std::size_t n = xml_scan_name_wide(name, end);
    const unsigned char *q = name + n;
    if (n > static_cast<std::size_t>(xml_max_token) || q == end || *q != '>') return {0, closing};
    return {n, closing};
}

// The relay call and states of a plain end tag, read whole (nesting is at least 1 in
// content).
int end_plain_tag(xml_parser *sptr)
{
    --sptr->nesting;
    go_back(sptr);
    return sptr->user->close_tag(sptr->work);
}

// The relay call and states of a plain start tag whose name of n bytes is read (the
// read position at its '>'), then its '>' read.
int start_plain_tag(xml_parser *sptr, const unsigned char *name, const unsigned char *end,
                    std::size_t n)
{
    // the token holds xml_max_token + 2 bytes
    copy_terminated(sptr->token, name, n, static_cast<std::size_t>(end - name) >= short_copy);
    sptr->length = static_cast<int>(n);
    enter(sptr, reader_state::start_tag);
    if (int st = relay_open_tag(sptr); st != 0) return st;
    step_in_line(sptr, 1); // the '>'
    ++sptr->nesting;
    enter(sptr, reader_state::content);
    return 0;
}

// Right after the '<' that ends a run of content: a plain start or end tag that the
// block holds whole is taken in one step, with the relay calls, states and counts the
// state machine would give it. Anything else is left unread to the state machine (the
// state is still tag_open). Returns 0 or a relay's status.
int take_plain_tag(xml_parser *sptr)
{
    const unsigned char *p = window_of(sptr) + sptr->inpos;
    const unsigned char *end = window_of(sptr) + sptr->inend;
    const plain_tag tag = read_plain_tag(p, end);
    const auto n = static_cast<int>(tag.name_length);
    if (n == 0) return 0;
    if (tag.closing) {
        step_in_line(sptr, n + 2);
        return end_plain_tag(sptr);
    }
    step_in_line(sptr, n);
    return start_plain_tag(sptr, p, end, tag.name_length);
}

// The attributes of a start tag whose name open_tag has taken (state start_tag): each
// name="value" or name='value' after white space, then '>' or "/>", with the relay
// calls, states and counts the state machine would give them; when the link drops
// attributes, each is stepped over with the counts alone. The first thing of any
// other form (an attribute without a quoted value, white space around '=', a carriage
// return or zero byte, a token that reaches the end of the block or passes the limit)
// is left unread to the state machine, in the state reached. The position and counts
// are kept in locals and stored before every relay call and return. opened is set
// when a '>' ended the tag. Returns 0 or a relay's status.
int take_atributes(xml_parser *sptr, bool dropped, bool &opened)
{
    const unsigned char *const window = window_of(sptr);
    const unsigned char *const end = window + sptr->inend;
    const unsigned char *q = window + sptr->inpos;
    std::int64_t lines = line_count(sptr);
    std::int64_t column = record_of(sptr).column_count;
    const auto store = [&] {
        sptr->inpos = static_cast<int>(q - window);
        set_counts(sptr, lines, column);
    };
    constexpr auto limit = static_cast<std::size_t>(xml_max_token);
    for (;;) {
        for (; q < end && is_blank[*q]; ++q) {
            if (*q == '\n') {
                ++lines;
                column = 0;
            } else {
                ++column;
            }
        }
        if (q == end) return store(), 0;
        if (*q == '>') {
            ++q;
            ++column;
            store();
            ++sptr->nesting;
            enter(sptr, reader_state::content);
            opened = true;
            return 0;
        }
        if (*q == '/') { // the element ends with its tag: nesting is raised and lowered
            if (end - q < 2 || q[1] != '>') return store(), 0;
            q += 2;
            column += 2;
            store();
            go_back(sptr);
            return sptr->user->close_tag(sptr->work);
        }
        const std::size_t n = xml_scan_name_wide(q, end);
        const unsigned char *value = q + n + 1;
        if (n == 0 || value >= end || q[n] != '=' || (*value != '"' && *value != '\''))
            return store(), 0;
        const xml_markup_scan s = xml_scan_quoted_wide(value + 1, end, *value);
        const unsigned char *close = value + 1 + s.stop;
        const std::size_t v = s.stop + 2;
        if (close == end || *close != *value || n > limit || v > limit) return store(), 0;
        if (!dropped) {
            copy_terminated(sptr->token, q, n, static_cast<std::size_t>(end - q) >= short_copy);
            sptr->length = static_cast<int>(n);
            q += n;
            column += static_cast<std::int64_t>(n);
            store();
            enter(sptr, reader_state::atb_name_read);
            if (int st = sptr->user->atb_name(sptr->work, sptr->token); st != 0) return st;
            copy_terminated(sptr->token, value, v,
                            static_cast<std::size_t>(end - value) >= short_copy);
            sptr->length = static_cast<int>(v);
        }
        // past the value ('=' and the name too when dropped), as the state machine counts
        lines += static_cast<std::int64_t>(s.lines);
        column = s.lines ? static_cast<std::int64_t>(s.stop + 1 - s.line_end)
                         : column + static_cast<std::int64_t>(close + 1 - q);
        q = close + 1;
        if (dropped) continue; // still in start_tag
        store();
        enter(sptr, reader_state::start_tag);
        if (int st = sptr->user->atb_value(sptr->work, sptr->token); st != 0) return st;
    }
}

// Right after a '<' (state tag_open): a start tag whose name is followed by white
// space or "/>", taken as far as take_atributes goes. Anything else is left unread.
// Gives 0 or a relay's status, and when the link drops attributes and a '>' opened the
// element, its name's length as leaf (else 0): the token still holds that name, for
// the end tag of a leaf to be told by it. Not inline: the plain tags' loop it is
// called from stays lean.
struct atributed_tag {
    int status;
    std::size_t leaf;
};
[[gnu::noinline]] atributed_tag take_atributed_tag(xml_parser *sptr)
{
    const unsigned char *p = window_of(sptr) + sptr->inpos;
    const unsigned char *end = window_of(sptr) + sptr->inend;
    const std::size_t n = xml_scan_name_wide(p, end);
    if (n == 0 || n > static_cast<std::size_t>(xml_max_token) || p + n == end ||
        (p[n] != ' ' && p[n] != '\t' && p[n] != '/'))
        return {0, 0};
    copy_terminated(sptr->token, p, n, static_cast<std::size_t>(end - p) >= short_copy);
    sptr->length = static_cast<int>(n);
    step_in_line(sptr, static_cast<int>(n));
    enter(sptr, reader_state::start_tag);
    if (int st = relay_open_tag(sptr); st != 0) return {st, 0};
    const reader_link *const link = record_of(sptr).link;
    const bool dropped = link && link->atributes_dropped;
    bool opened = false;
    const int st = take_atributes(sptr, dropped, opened);
    return {st, dropped && opened ? n : 0};
}

int open_markup(xml_parser *p);

// Content and plain tags in turn, from the start of a run of content (the run relay
// set, echo off, nothing pushed back), as take_content and take_plain_tag would take
// them, inside the current input block: an indented line (which only this step takes
// whole) or a run of text up to a '<', then a start tag "<name>" or an end tag
// "</name>", or a start tag with attributes as far as take_atributed_tag takes it. A
// carriage return at the start of a run, as a CRLF line end between tags has, is
// dropped. The position and counts are kept in locals and stored before every relay
// call, so a relay sees the parser as those two would leave it; a linked parse's
// relays (the builder's) read nothing of the parser, so for one they are stored only
// where the step stops. At anything else (the end of the block within reach, another
// carriage return or a zero byte, a run long enough to hold an overlong word, a tag
// that is not plain) it returns 0 with the parser where the last step left it: at the
// start of a run (state content) or just after a '<' (state tag_open). Returns a
// relay's status when one stops the parse.
int take_stretch(xml_parser *sptr)
{
    const unsigned char *window = window_of(sptr);
    const unsigned char *end = window + sptr->inend;
    const unsigned char *p = window + sptr->inpos;
    parser_record &record = record_of(sptr);
    const reader_link *const link = record.link;
    std::int64_t lines = record.line_count;
    std::int64_t column = record.column_count;
    // A linked parse's relays are given what they need of the counts as arguments, so
    // for one only the whole counts are kept here.
    const auto store = [&] {
        sptr->inpos = static_cast<int>(p - window);
        record.line_count = lines;
        record.column_count = column;
        if (!link) publish_counts(sptr);
    };
    // Whether the application would drop a run of white space alone: never, unless
    // the link says so.
    static constexpr bool none_dropped = false;
    const bool *const blank_runs_dropped = link ? &link->blank_runs_dropped : &none_dropped;
    // The length of the name of the start tag this step read last, while no end tag
    // has followed it: the end tag of a leaf is then told by comparing its name with
    // the token, which holds that name.
    std::size_t leaf = 0;
    for (;;) {
        const unsigned char *begin = p;
        // no run at all between tags, as when minified, is told first
        const bool tag_next = p != end && *p == '<';
        std::size_t run = tag_next ? 0 : xml_scan_indentation(p, end);
        if (!run && !tag_next && p != end && *p == '\r') {
            // a CRLF line end after a tag: the carriage return is dropped (no word goes on
            // across it), and an indented line may follow
            begin = ++p;
            run = xml_scan_indentation(p, end);
            if (!run) continue;
        }
        std::size_t space = run;
        if (run) {
            ++lines;
            column = static_cast<std::int64_t>(run - 1);
        } else if (const std::size_t word =
                       tag_next ? xml_no_short_run : xml_scan_short_run_wide(p, end);
                   word != xml_no_short_run) {
            run = word; // no white space first, no line feed
            column += static_cast<std::int64_t>(word);
        } else if (!tag_next) {
            const xml_content_scan s = xml_scan_content_long_wide(p, end);
            const auto left = static_cast<std::size_t>(end - p);
            if (s.stop == left || s.stop > static_cast<std::size_t>(xml_max_token)) {
                store();
                return 0;
            }
            if (p[s.stop] != '<') { // a carriage return inside the run, or a zero byte
                store();
                return 0;
            }
            run = s.stop;
            space = s.space;
            lines += static_cast<std::int64_t>(s.lines);
            column = s.lines ? static_cast<std::int64_t>(run - s.line_end)
                             : column + static_cast<std::int64_t>(run);
        }
        p += run;
        if (run && (space < run || !*blank_runs_dropped)) {
            if (link) { // its content relay reads nothing of the parser
                (void)link->content_run(sptr->work, reinterpret_cast<const char *>(begin), run,
                                        space);
            } else {
                store();
                hand_run(sptr, begin, run, space);
            }
        }
        ++p; // the '<'
        ++column;
        const plain_tag tag =
            leaf && p < end && *p == '/' && xml_name_ends_at_wide(p + 1, end, sptr->token, leaf)
                ? plain_tag{leaf, true}
                : read_plain_tag(p, end);
        const std::size_t n = tag.name_length;
        if (n == 0) {
            store();
            enter(sptr, reader_state::tag_open);
            if (p < end && *p == '!') { // a comment, a section or a declaration, read whole
                ++sptr->inpos;
                set_counts(sptr, lines, column + 1);
                if (int st = open_markup(sptr); st != 0) return st;
                if (state_of(sptr) != reader_state::content || sptr->ungotch) return 0;
                // the markup readers may have taken in the next block
                window = window_of(sptr);
                end = window + sptr->inend;
                p = window + sptr->inpos;
                lines = record.line_count;
                column = record.column_count;
                leaf = 0;
                continue;
            }
            const atributed_tag taken = take_atributed_tag(sptr);
            if (taken.status != 0) return taken.status;
            if (state_of(sptr) != reader_state::content) return 0;
            leaf = taken.leaf;        // 0 when the token holds its name no more
            p = window + sptr->inpos; // the tag taken whole, back in content
            lines = record.line_count;
            column = record.column_count;
            continue;
        }
        if (tag.closing) {
            leaf = 0;
            p += n + 2;
            column += static_cast<std::int64_t>(n + 2);
            if (!link) store(); // a link's relays read nothing of the parser
            if (int st = end_plain_tag(sptr); st != 0) {
                store();
                return st;
            }
            if (sptr->nesting == 0) { // outside every element now
                store();
                return 0;
            }
            continue;
        }
        const unsigned char *name = p;
        p += n;
        column += static_cast<std::int64_t>(n);
        if (link) { // start_plain_tag's work, less the counts the link's relays never read
            copy_terminated(sptr->token, name, n,
                            static_cast<std::size_t>(end - name) >= short_copy);
            sptr->length = static_cast<int>(n);
            if (int st = link->open_tag(sptr->work, sptr->token, n, lines + 1); st != 0) {
                enter(sptr, reader_state::start_tag);
                store();
                return st;
            }
            ++sptr->nesting; // the state stays content
        } else {
            store();
            if (int st = start_plain_tag(sptr, name, end, n); st != 0) return st;
        }
        leaf = n;
        ++p; // the '>', as start_plain_tag read it
        ++column;
    }
}

// ---------------------------------------------------------------------------
// The state machine: one step per token, one per punctuation character

int xml_use_token(xml_parser *p)
{
    switch (state_of(p)) {
    case reader_state::tag_open:
        enter(p, reader_state::start_tag);
        return relay_open_tag(p);
    case reader_state::content:
        (void)p->user->token(p->work, p->token);
        return 0;
    case reader_state::start_tag:
        enter(p, reader_state::atb_name_read);
        return p->user->atb_name(p->work, p->token);
    case reader_state::atb_name_read: // the previous attribute keeps no value
        return p->user->atb_name(p->work, p->token);
    case reader_state::atb_value_wait:
        enter(p, reader_state::start_tag);
        return p->user->atb_value(p->work, p->token);
    case reader_state::end_tag_name: // the name is compared with nothing
        enter(p, reader_state::tag_close_wait);
        return 0;
    case reader_state::instruction_end:
        enter(p, reader_state::instruction);
        return 0;
    case reader_state::outside:
    case reader_state::tag_close_wait:
    case reader_state::instruction:
    case reader_state::declaration:
        return 0;
    }
    return status_syntax;
}

// After "<!": a comment or a section is read whole; a declaration goes on in the
// state machine, with the start of a token when its opening was read as far as that.
int open_markup(xml_parser *p)
{
    switch (read_markup_opening(p)) {
    case markup_kind::comment:
        go_back(p);
        skip_comment(p);
        return 0;
    case markup_kind::section:
        go_back(p);
        return take_section(p, p->nesting > 0);
    case markup_kind::declaration:
        enter(p, reader_state::declaration);
        if (p->length == 0) return 0;
        if (!take_token_rest(p, plain_token)) return status_token_too_long;
        return xml_use_token(p); // a token in a declaration is ignored
    }
    return status_syntax;
}

int xml_use_punctuation(xml_parser *p)
{
    const int c = p->punctuation;
    switch (state_of(p)) {
    case reader_state::outside:
        if (c == '<') enter(p, reader_state::tag_open);
        return 0;
    case reader_state::tag_open:
        switch (c) {
        case '/':
            enter(p, reader_state::end_tag_name);
            return 0;
        case '?':
            enter(p, reader_state::instruction);
            return 0;
        case '!':
            return open_markup(p);
        default:
            return status_syntax;
        }
    case reader_state::tag_close_wait:
        if (c != '>' || p->nesting == 0) return status_syntax;
        --p->nesting;
        go_back(p);
        return p->user->close_tag(p->work);
    case reader_state::content:
        if (c == '<') {
            enter(p, reader_state::tag_open);
            return 0;
        }
        (void)p->user->punctuation(p->work, c);
        return 0;
    case reader_state::start_tag:
        if (c != '>' && c != '/') return status_syntax;
        ++p->nesting;
        enter(p, c == '>' ? reader_state::content : reader_state::tag_close_wait);
        return 0;
    case reader_state::atb_name_read:
        if (c != '=') return status_syntax;
        enter(p, reader_state::atb_value_wait);
        return 0;
    case reader_state::atb_value_wait:
    case reader_state::end_tag_name:
        return status_syntax;
    case reader_state::instruction:
        if (c == '?') enter(p, reader_state::instruction_end);
        return 0;
    case reader_state::instruction_end:
        if (c == '>')
            go_back(p);
        else
            enter(p, reader_state::instruction);
        return 0;
    case reader_state::declaration:
        if (c == '>') go_back(p);
        return 0;
    }
    return status_syntax;
}

// ---------------------------------------------------------------------------
// Parse driver

// The settings one parse runs with: the caller's, or the process-wide switches.
struct parse_settings {
    bool allow_unclosed;
    int echo;
    const document_writer *echo_writer;
    int (*failure)(void *context, const char *name, int status, std::int64_t lines);
    void *failure_context;
};

parse_settings process_settings()
{
    return {xml_allow_eof != 0, xml_echo_state, nullptr, nullptr, nullptr};
}

// The size of the first settings record: a caller's record must hold at least it.
constexpr std::size_t settings_size_1_2 = offsetof(xml_settings, failure_context) + sizeof(void *);

// The caller's settings, the fields its size covers; false when it covers too few.
bool read_settings(const xml_settings *given, parse_settings &set)
{
    if (!given) {
        set = process_settings();
        return true;
    }
    if (given->size < settings_size_1_2) return false;
    set = {given->allow_unclosed != 0, given->echo, given->echo_writer, given->failure,
           given->failure_context};
    return true;
}

// Room for the echo on its way to a writer, so that it goes over in pieces.
constexpr std::size_t echo_staging = 1024;

// Runs one parse of source, with link's relays (when not null) over fptr's. ended is
// filled whatever happens (line 0 when the input could not be opened); returns the
// status, or the failure hook's result.
int parse_from(const parse_source &source, const xml_relay *fptr, reader_link *link, void *aptr,
               const parse_settings &set, xml_report &ended)
{
    int error = 0;
    xml_parser *p = open_parser(source, aptr, set.echo, error);
    if (!p) {
        ended = refused_report(status_cannot_open, error);
        return status_cannot_open;
    }
    ended = refused_report(0, 0);
    char staging[echo_staging];
    text_sink echo_out =
        set.echo_writer ? text_sink{*set.echo_writer, staging, sizeof staging} : text_sink{stdout};
    if (set.echo_writer) record_of(p).echo_sink = &echo_out;
    xml_use_relays(p, const_cast<xml_relay *>(fptr)); // the table is only read
    record_of(p).link = link;
    p->work->parent = p;
    int st = xml_parse_tokens(p);
    if (set.echo_writer && echo_out.flush() != 0 && (st == 0 || st == status_no_element))
        st = echo_out.status();
    ended.root = p->work->root;
    const std::int64_t lines = line_count(p);
    ended.line = lines + 1;
    ended.open_elements = p->nesting;
    ended.error_number = record_of(p).read_error;
    ended.zero_byte = record_of(p).zero_byte;
    // the hook in force (the caller's, or the default that returns the status) is
    // called after the parser is closed
    const auto failure = p->user->failure;
    xml_close(p);
    if (st == status_no_element)
        ended.status = 0;
    else if (st != 0)
        ended.status = st;
    else
        ended.status = ended.open_elements == 0 || set.allow_unclosed ? 0 : status_unclosed;
    if (st == 0 || st == status_no_element) return ended.status;
    if (set.failure) return set.failure(set.failure_context, source.name, st, lines);
    return failure(source.name, st, saturated_count(lines));
}

// Input that cannot be read at all (null data with a length, or a path given as null,
// missing): nothing is opened and no relay or hook runs.
bool is_refused(const parse_source &source, bool missing = false)
{
    return missing || (!source.path && !source.data && source.length != 0);
}

// A parse with the process-wide switches, for the 1.1 calls: the root goes into the
// table's result whenever the input was opened.
int parse_outcome(const parse_source &source, xml_relay *fptr, reader_link *link, void *aptr,
                  xml_outcome *outcome, bool missing = false)
{
    xml_report ended;
    int result = status_cannot_open;
    if (is_refused(source, missing))
        ended = refused_report(status_cannot_open, EINVAL);
    else
        result = parse_from(source, fptr, link, aptr, process_settings(), ended);
    if (fptr && ended.line > 0) fptr->result = ended.root;
    if (outcome) *outcome = outcome_of(ended);
    return result;
}

// A parse with the caller's settings, for the 1.2 calls: ended filled whole.
int parse_with(const parse_source &source, const xml_relay *fptr, reader_link *link, void *aptr,
               const xml_settings *settings, xml_report &ended, bool missing = false)
{
    parse_settings set;
    if (is_refused(source, missing)) {
        ended = refused_report(status_cannot_open, EINVAL);
        return status_cannot_open;
    }
    if (!read_settings(settings, set)) {
        ended = refused_report(status_missing, 0);
        return status_missing;
    }
    return parse_from(source, fptr, link, aptr, set, ended);
}

// source with a null name read as "" (a null path is refused before it is named).
parse_source named(parse_source source)
{
    if (!source.name) source.name = "";
    return source;
}

} // namespace

int qvxml::impl::xml_parse(const char *nptr, xml_relay *fptr, void *aptr)
{
    return xml_parse_outcome(nptr, fptr, aptr, nullptr);
}

int qvxml::impl::xml_parse_outcome(const char *nptr, xml_relay *fptr, void *aptr,
                                   xml_outcome *outcome)
{
    return parse_outcome({.path = nptr, .data = nullptr, .length = 0, .name = nptr}, fptr, nullptr,
                         aptr, outcome, !nptr);
}

int qvxml::impl::xml_parse_buffer(const char *data, std::size_t length, const char *name,
                                  xml_relay *fptr, void *aptr, xml_outcome *outcome)
{
    return parse_outcome(named({.path = nullptr, .data = data, .length = length, .name = name}),
                         fptr, nullptr, aptr, outcome);
}

int qvxml::impl::xml_parse_with(const char *nptr, const xml_relay *fptr, void *aptr,
                                const xml_settings *settings, xml_report *report)
{
    xml_report ended;
    const int result = parse_with({.path = nptr, .data = nullptr, .length = 0, .name = nptr}, fptr,
                                  nullptr, aptr, settings, ended, !nptr);
    fill_report(report, ended);
    return result;
}

int qvxml::impl::xml_parse_buffer_with(const char *data, std::size_t length, const char *name,
                                       const xml_relay *fptr, void *aptr,
                                       const xml_settings *settings, xml_report *report)
{
    xml_report ended;
    const int result =
        parse_with(named({.path = nullptr, .data = data, .length = length, .name = name}), fptr,
                   nullptr, aptr, settings, ended);
    fill_report(report, ended);
    return result;
}

int parse_linked(const parse_source &source, xml_relay *fptr, reader_link *link, void *aptr,
                 xml_outcome *outcome)
{
    return parse_outcome(named(source), fptr, link, aptr, outcome);
}

int parse_linked_with(const parse_source &source, const xml_relay *fptr, reader_link *link,
                      void *aptr, const xml_settings *settings, xml_report &ended)
{
    return parse_with(named(source), fptr, link, aptr, settings, ended);
}

int qvxml::impl::xml_parse_tokens(xml_parser *sptr)
{
    // content goes over in runs when the application takes them and nothing is echoed
    const bool runs = takes_runs(sptr);
    for (;;) {
        if (runs && state_of(sptr) == reader_state::content && !sptr->ungotch) {
            // content and plain tags in turn, until something else comes
            if (int st = take_stretch(sptr); st != 0) return st;
            if (state_of(sptr) == reader_state::content) { // a run the stretch left
                if (int st = take_content(sptr); st != 0) return st;
                if (state_of(sptr) == reader_state::content) return 0; // the input ended
                if (int st = take_plain_tag(sptr); st != 0) return st;
            }
            continue;
        }
        // an echo writer's refusal stops the parse as a relay's status would
        if (const text_sink *out = record_of(sptr).echo_sink; out && out->status() != 0)
            return out->status();
        if (xml_remove_space(sptr) == 0) return 0;
        const int length = xml_get_token(sptr);
        if (length < 0) return status_token_too_long;
        if (length > 0) {
            if (int st = xml_use_token(sptr); st != 0) return st;
            continue;
        }
        const int c = xml_getch(sptr);
        if (c == 0) return 0;
        sptr->punctuation = c;
        if (int st = xml_use_punctuation(sptr); st != 0) return st;
    }
}

xml_parser *qvxml::impl::xml_close(xml_parser *h)
{
    if (!h) return nullptr;
    if (h->handle) std::fclose(h->handle);
    liberate(h->name);
    liberate(h->user);
    liberate_xml_application(h->work);
    liberate(h);
    return nullptr;
}

void qvxml::impl::set_xml_eof(int v)
{
    xml_allow_eof = v;
}

void qvxml::impl::set_xml_echo(int v)
{
    xml_echo_state = v;
}
