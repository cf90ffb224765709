#include "qvxml/internal/markup.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <string_view>

#include "qvxml/internal/chars.h"
#include "qvxml/internal/input.h"

using namespace qvxml::impl;

namespace
{

constexpr std::string_view comment_opening = "--";
constexpr std::string_view section_opening = "[CDATA[";

// A section's text as the application receives it: the markup characters escaped.
std::string_view escape_of(int c)
{
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return {};
    }
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

// The run relay, given a section's text in runs: stretches of the input window as
// they stand, and the escapes and held "]" from constant text.
class run_delivery
{
  public:
    // Its runs are handed over with no white space known at their start.
    explicit run_delivery(xml_parser *sptr) : p_{sptr}, from_{sptr->inpos} {}
    // Hands over the text read since the last hand-over, up to the read position.
    void flush()
    {
        if (p_->inpos > from_)
            hand_run(p_, reinterpret_cast<const char *>(window_of(p_)) + from_,
                     static_cast<std::size_t>(p_->inpos - from_), 0);
        from_ = p_->inpos;
    }
    // The next text starts at the read position.
    void skip() { from_ = p_->inpos; }
    void put(std::string_view s) { hand_run(p_, s.data(), s.size(), 0); }

  private:
    xml_parser *p_;
    int from_;
};

int take_section_by_runs(xml_parser *sptr)
{
    run_delivery out{sptr};
    std::size_t word = 0; // the word the text read so far ends in
    int held = 0;
    for (;;) {
        if (sptr->inpos == sptr->inend) {
            out.flush();
            if (!refill(sptr)) break;
            out.skip();
        }
        const int c = window_of(sptr)[sptr->inpos];
        if (c == '\r' || c == 0 || c == ']' || !escape_of(c).empty()) // a stretch ends here
            out.flush();
        if (c == '\r') {
            ++sptr->inpos; // dropped; a word goes on across it
            out.skip();
            continue;
        }
        if (c == 0) {
            end_input(sptr);
            break;
        }
        consume(sptr, c);
        if (c == ']') {
            word = 0;
            if (held == end_brackets) out.put("]");
            held = held == end_brackets ? held : held + 1;
            out.skip();
            continue;
        }
        if (c == '>' && held == end_brackets) return 0;
        if (held > 0) out.put(held_brackets(held));
        held = 0;
        if (const std::string_view e = escape_of(c); !e.empty()) {
            word = 0;
            out.put(e);
            out.skip();
        } else if (!content_token[static_cast<unsigned char>(c)]) {
            word = 0;
        } else if (++word > static_cast<std::size_t>(xml_max_token)) {
            return status_token_too_long;
        }
    }
    if (held > 0) out.put(held_brackets(held));
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
    for (const char want : opening) {
        const int c = peek_input(sptr);
        if (c != want) return markup_kind::declaration;
        consume(sptr, c);
        if (content_token[static_cast<unsigned char>(c)]) // "-", and the letters of CDATA
            sptr->token[sptr->length++] = static_cast<char>(c);
    }
    if (opening.empty()) return markup_kind::declaration;
    sptr->length = 0;
    return opening == comment_opening ? markup_kind::comment : markup_kind::section;
}

void skip_comment(xml_parser *sptr)
{
    int dashes = 0;
    for (int c; (c = xml_getch(sptr)) != 0; dashes = c == '-' ? dashes + 1 : 0)
        if (c == '>' && dashes >= 2) return;
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
