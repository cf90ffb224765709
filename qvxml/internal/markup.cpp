#include "qvxml/internal/markup.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <string_view>

#include "qvxml/internal/chars.h"
#include "qvxml/internal/content_scan.h"
#include "qvxml/internal/copy.h"
#include "qvxml/internal/input.h"

using namespace qvxml::impl;

namespace
{

constexpr std::string_view comment_opening = "--";
constexpr std::string_view section_opening = "[CDATA[";

// A section's text as the application receives it, the markup characters escaped:
// the escape of each byte that has one, its text and length, eight bytes in all, so
// that it is copied as one piece; a length of 0 for every other byte.
struct escape_piece {
    char text[7];
    unsigned char length;
};
constexpr std::array<escape_piece, 256> escape_pieces = [] {
    std::array<escape_piece, 256> t{};
    t['&'] = {"&amp;", 5};
    t['<'] = {"&lt;", 4};
    t['>'] = {"&gt;", 4};
    return t;
}();
static_assert(sizeof(escape_piece) == 8);

std::string_view escape_of(int c)
{
    const escape_piece &e = escape_pieces[static_cast<unsigned char>(c)];
    return {e.text, e.length};
}

// A section's end is "]]>": the "]" read are held until what follows tells whether
// they end it or are text.
constexpr int end_brackets = 2;

std::string_view held_brackets(int held)
{
    return std::string_view{"]]"}.substr(0, static_cast<std::size_t>(held));
}

// The content relays, given a section's text as escaped text in its place would give
// it: words to token (held in sptr->token until a character that is no part of them),
// white space and other characters one by one.
class relay_delivery
{
  public:
    explicit relay_delivery(xml_parser *sptr) : p_{sptr} { p_->length = 0; }
    // One character of escaped text. False when it makes a word too long.
    bool put(int c)
    {
        if (content_token[static_cast<unsigned char>(c)]) {
            if (p_->length >= xml_max_token) return false;
            p_->token[p_->length++] = static_cast<char>(c);
            return true;
        }
        end_word();
        if (is_space(c))
            (void)p_->user->white_space(p_->work, c);
        else
            (void)p_->user->punctuation(p_->work, c);
        return true;
    }
    void put(std::string_view s)
    {
        for (const char c : s)
            (void)put(static_cast<unsigned char>(c)); // escapes hold no long word
    }
    void end_word()
    {
        if (p_->length == 0) return;
        p_->token[p_->length] = '\0';
        p_->length = 0;
        (void)p_->user->token(p_->work, p_->token);
    }

  private:
    xml_parser *p_;
};

int take_section_by_relays(xml_parser *sptr)
{
    relay_delivery out{sptr};
    int held = 0;
    for (int c; (c = xml_getch(sptr)) != 0;) {
        if (c == ']') {
            out.end_word();
            if (held == end_brackets)
                out.put(']');
            else
                ++held;
            continue;
        }
        if (c == '>' && held == end_brackets) return 0;
        for (; held > 0; --held)
            out.put(']');
        if (const std::string_view e = escape_of(c); !e.empty())
            out.put(e);
        else if (!out.put(c))
            return status_token_too_long;
    }
    out.end_word();
    for (; held > 0; --held)
        out.put(']');
    return 0;
}

// The run relay, given a section's text gathered in a bounded buffer: the stretches of
// the input window between the markup characters, the escapes and the held "]", handed
// over as one run when the buffer fills and at the section's end. A section of HTML is
// mostly short stretches between markup characters, each of which would otherwise be
// a run of its own. A stretch longer than the whole buffer goes over as it stands in
// the window. Before a word too long, the text up to the start of the stretch that
// holds it goes over, as when each stretch went over at its stop: the mark.
class staged_runs
{
  public:
    explicit staged_runs(xml_parser *sptr) : p_{sptr} {}
    staged_runs(const staged_runs &) = delete;
    staged_runs &operator=(const staged_runs &) = delete;
    void put(const char *text, std::size_t n)
    {
        if (n > capacity - used_) {
            flush();
            if (n > capacity) {
                hand_run(p_, text, n, 0);
                return;
            }
        }
        copy_bytes(stage_ + used_, text, n);
        used_ += n;
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    // Where the next text goes, room() bytes free, for a caller that writes it there
    // itself and then says how much it wrote.
    char *free_space() { return stage_ + used_; }
    std::size_t room() const { return capacity - used_; }
    void gathered(std::size_t n) { used_ += n; }
    // What is gathered so far, or all but the last n bytes, is text before the
    // stretch being read.
    void mark(std::size_t n = 0) { mark_ = used_ - n; }
    // Hands over what is gathered; its runs are handed over with no white space known
    // at their start.
    void flush()
    {
        if (used_ > 0) hand_run(p_, stage_, used_, 0);
        used_ = mark_ = 0;
    }
    // Hands over the text before the mark, and drops the rest.
    void flush_to_mark()
    {
        used_ = mark_;
        flush();
    }

  private:
    static constexpr std::size_t capacity = 2048;
    xml_parser *p_;
    std::size_t used_ = 0;
    std::size_t mark_ = 0;
    char stage_[capacity];
};

// Counts the line feeds of a scanned stretch of n bytes as read and moves over it.
void step_over(xml_parser *sptr, const xml_markup_scan &s, std::size_t n)
{
    sptr->inpos += static_cast<int>(n);
    if (s.lines)
        set_counts(sptr, line_count(sptr) + static_cast<std::int64_t>(s.lines),
                   static_cast<std::int64_t>(n - s.line_end));
    else
        add_columns(sptr, static_cast<std::int64_t>(n));
}

// The plain text [begin, begin + n) of a section after a word of word characters:
// the offset of the character that makes a word too long, or n when none does; word
// is left at the length of the word the text ends in.
std::size_t word_limit(const unsigned char *begin, std::size_t n, std::size_t &word)
{
    constexpr auto limit = static_cast<std::size_t>(xml_max_token);
    if (word + n <= limit) { // cannot pass it: only the last word matters
        std::size_t tail = 0;
        while (tail < n && content_token[begin[n - 1 - tail]])
            ++tail;
        word = tail == n ? word + n : tail;
        return n;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!content_token[begin[i]])
            word = 0;
        else if (++word > limit)
            return i;
    return n;
}

// The common text of HTML in a section: short stretches, each ended by a markup
// character given as its escape or by the carriage return of a CRLF line end. Takes the
// text from p on sixteen bytes at a time, and every stop in a block in turn, while each
// is such a character (nothing may be held), no word can pass the limit and the buffer
// has room: gathers the text and the escapes, drops the carriage returns, adds the line
// feeds to lines and keeps column, and returns where it stopped (at a stop it leaves,
// or a block it does not take), word exact there.
const unsigned char *take_escaped_blocks(const unsigned char *p, const unsigned char *end,
                                         staged_runs &out, std::size_t &word, std::int64_t &lines,
                                         std::int64_t &column)
{
    constexpr auto limit = static_cast<std::size_t>(xml_max_token);
    constexpr unsigned block = 16;
    // a block's output: each byte as itself or an escape of at most five, the last
    // piece copied as a whole block or escape
    constexpr std::size_t most_out = 6 * block + 8;
    if (out.room() < most_out) return p;
    const unsigned char *const from = p;
    char *const first = out.free_space();
    char *const last = first + (out.room() - most_out); // the last start of a block's output
    char *o = first;
    char *stretch = nullptr;  // where the text after the last stop taken begins
    std::size_t bound = word; // at least the word the text taken ends in
    // every read is within two blocks of p: the block, and a copy starting inside it
    while (end - p >= 2 * block && o <= last && bound + block <= limit) {
        const xml_section_marks m = xml_mark_section_wide(p);
        unsigned done = 0;    // bytes of the block taken
        bool left = false;    // a stop left to the caller
        unsigned returns = 0; // the carriage returns dropped, one bit each
        for (unsigned stops = m.stops; stops; stops &= stops - 1) {
            const auto k = static_cast<unsigned>(std::countr_zero(stops));
            std::memcpy(o, p + done, block); // the stretch before the stop, and more
            o += k - done;
            const escape_piece &e = escape_pieces[p[k]];
            if (e.length == 0 && p[k] == '\r') { // dropped; a word goes on across it
                returns |= 1u << k;
                stretch = o;
                done = k + 1;
                continue;
            }
            if (e.length == 0) {
                done = k;
                left = true;
                break;
            }
            std::memcpy(o, &e, sizeof e);
            o += e.length;
            stretch = o;
            bound = 0;
            done = k + 1;
        }
        if (!left) {
            std::memcpy(o, p + done, block);
            o += block - done;
            done = block;
        }
        bound += done;
        // a dropped carriage return is no column
        if (unsigned f = m.feeds & ((1u << done) - 1)) {
            const auto line_start = static_cast<unsigned>(std::bit_width(f));
            column = done - line_start;
            returns >>= line_start;
            for (; f; f &= f - 1)
                ++lines; // few per block: cheaper than a popcount call
        } else {
            column += done;
        }
        for (; returns; returns &= returns - 1)
            --column;
        p += done;
        if (left) break;
    }
    out.gathered(static_cast<std::size_t>(o - first));
    if (stretch) out.mark(static_cast<std::size_t>(o - stretch));
    // the word exactly: the word characters before p, across carriage returns, and the
    // word before from when they reach back to it (an escaped character is none)
    const unsigned char *q = p;
    std::size_t tail = 0;
    for (; q > from && (content_token[q[-1]] || q[-1] == '\r'); --q)
        tail += q[-1] != '\r';
    word = tail + (q == from ? word : 0);
    return p;
}

// The text between the stops goes by sixteen bytes at a time; each stop is then read
// on its own, right after the stretch before it.
int take_section_by_runs(xml_parser *sptr)
{
    constexpr auto limit = static_cast<std::size_t>(xml_max_token);
    staged_runs out{sptr};
    // The word the text read so far ends in; not kept up to date over a stretch that a
    // stop ending every word follows, where it cannot pass the limit.
    std::size_t word = 0;
    int held = 0;
    for (;;) {
        out.mark(); // each step starts with a stretch, or at the end of the window
        if (sptr->inpos == sptr->inend && !refill(sptr)) break;
        const unsigned char *begin = window_of(sptr) + sptr->inpos;
        const unsigned char *const end = window_of(sptr) + sptr->inend;
        if (held == 0) {
            std::int64_t lines = 0;
            std::int64_t column = record_of(sptr).column_count;
            const unsigned char *const from = begin;
            begin = take_escaped_blocks(begin, end, out, word, lines, column);
            if (begin != from) {
                sptr->inpos = static_cast<int>(begin - window_of(sptr));
                set_counts(sptr, line_count(sptr) + lines, column);
            }
            if (end - begin >= 3 && std::memcmp(begin, "]]>", 3) == 0) { // the end, whole
                step_in_line(sptr, 3);
                out.flush();
                return 0;
            }
        }
        const xml_markup_scan s = xml_scan_markup_wide(begin, end, xml_markup_text::section);
        const unsigned char *const stop = begin + s.stop;
        if (s.stop > 0) {
            if (held > 0) {
                out.put(held_brackets(held));
                out.mark();
            }
            held = 0;
            // at the end of the window or a dropped carriage return the word may go on
            const bool goes_on = stop == end || *stop == '\r';
            if (goes_on || word + s.stop > limit) {
                if (const std::size_t over = word_limit(begin, s.stop, word); over < s.stop) {
                    // read up to the character that does not fit, which is read too
                    out.flush_to_mark();
                    step_over(
                        sptr,
                        xml_scan_markup_portable(begin, begin + over + 1, xml_markup_text::section),
                        over + 1);
                    return status_token_too_long;
                }
            }
            out.put(reinterpret_cast<const char *>(begin), s.stop);
            step_over(sptr, s, s.stop);
            if (stop == end) continue;
        }
        const int c = *stop;
        if (c == '\r') {
            ++sptr->inpos; // dropped; a word goes on across it
            continue;
        }
        if (c == 0) {
            end_input(sptr);
            break;
        }
        step_in_line(sptr, 1); // no stop is a line feed
        word = 0;
        if (c == ']') {
            if (held == end_brackets)
                out.put("]");
            else
                ++held;
            continue;
        }
        if (c == '>' && held == end_brackets) {
            out.flush();
            return 0;
        }
        if (held > 0) out.put(held_brackets(held));
        held = 0;
        out.put(escape_of(c));
    }
    if (held > 0) out.put(held_brackets(held));
    out.flush();
    return 0;
}

// Outside every element: nothing is handed over and nothing is a word.
void skip_section(xml_parser *sptr)
{
    int held = 0;
    for (int c; (c = xml_getch(sptr)) != 0;) {
        if (c == '>' && held == end_brackets) return;
        held = c == ']' ? std::min(held + 1, end_brackets) : 0;
    }
}

} // namespace

markup_kind read_markup_opening(xml_parser *sptr)
{
    assert(sptr->ungotch == 0);
    sptr->length = 0;
    const int first = peek_input(sptr);
    const std::string_view opening = first == '-'   ? comment_opening
                                     : first == '[' ? section_opening
                                                    : std::string_view{};
    if (opening.empty()) return markup_kind::declaration;
    const markup_kind kind =
        opening == comment_opening ? markup_kind::comment : markup_kind::section;
    // Whole in the window, with nothing to echo: taken in one step.
    if (!sptr->echo && static_cast<std::size_t>(sptr->inend - sptr->inpos) >= opening.size() &&
        std::memcmp(window_of(sptr) + sptr->inpos, opening.data(), opening.size()) == 0) {
        step_in_line(sptr, static_cast<int>(opening.size()));
        return kind;
    }
    for (const char want : opening) {
        const int c = peek_input(sptr);
        if (c != want) return markup_kind::declaration;
        consume(sptr, c);
        if (content_token[static_cast<unsigned char>(c)]) // "-", and the letters of CDATA
            sptr->token[sptr->length++] = static_cast<char>(c);
    }
    sptr->length = 0;
    return kind;
}

void skip_comment(xml_parser *sptr)
{
    constexpr int end_dashes = 2; // "--" before a '>' ends a comment
    int dashes = 0;               // how many '-' the text read so far ends in
    if (sptr->echo) {             // one character at a time, each echoed as it is read
        for (int c; (c = xml_getch(sptr)) != 0; dashes = c == '-' ? dashes + 1 : 0)
            if (c == '>' && dashes >= 2) return;
        return;
    }
    for (;;) {
        if (sptr->inpos == sptr->inend && !refill(sptr)) return;
        const unsigned char *begin = window_of(sptr) + sptr->inpos;
        const xml_markup_scan s =
            xml_scan_markup_wide(begin, window_of(sptr) + sptr->inend, xml_markup_text::comment);
        if (s.stop > 0) {
            int tail = 0;
            while (tail < end_dashes && static_cast<std::size_t>(tail) < s.stop &&
                   begin[s.stop - 1 - tail] == '-')
                ++tail;
            dashes = static_cast<std::size_t>(tail) == s.stop ? std::min(dashes + tail, end_dashes)
                                                              : tail;
            step_over(sptr, s, s.stop);
            continue;
        }
        const int c = *begin;
        if (c == '\r') {
            ++sptr->inpos; // dropped: "--" before it still ends the comment at '>'
            continue;
        }
        if (c == 0) {
            end_input(sptr);
            return;
        }
        consume(sptr, c); // the '>'
        if (dashes >= end_dashes) return;
        dashes = 0;
    }
}

int take_section(xml_parser *sptr, bool deliver)
{
    if (!deliver) {
        skip_section(sptr);
        return 0;
    }
    if (takes_runs(sptr)) return take_section_by_runs(sptr);
    return take_section_by_relays(sptr);
}
