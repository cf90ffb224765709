#include "reference_reader.h"

#include <cstdio>
#include <string>
#include <utility>

namespace reference
{
namespace
{

constexpr std::size_t longest_token = 8191;
constexpr int stop_as_success = 48;

enum state {
    outside,
    tag_open,
    tag_close_wait,
    content,
    start_tag,
    atb_name_read,
    atb_value_wait,
    end_tag_name,
    instruction,
    instruction_end,
    declaration
};

bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool is_quote(int c)
{
    return c == '"' || c == '\'';
}
bool is_token_char(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 128 && c <= 165) || c == '-' || c == '.' || c == ':' || c == '_';
}

struct reader {
    std::string_view in;
    unsigned mask;
    const relay &app;
    bool echo;
    std::string &collected;
    std::size_t pos = 0;
    bool ended = false;
    int pushed = 0, lines = 0, nesting = 0;
    state at = outside;
    std::string token{};

    // The next byte, 1 to 255; 0 from the first zero byte or end of input on, for good.
    int getch()
    {
        if (pushed) return std::exchange(pushed, 0);
        for (;;) {
            if (ended || pos == in.size()) return ended = true, 0;
            const int c = static_cast<unsigned char>(in[pos++]);
            if (c == 0) return ended = true, 0;
            if (c == '\r') continue;
            lines += c == '\n';
            if (echo) std::putchar(c);
            return c;
        }
    }

    int call(event e, std::string_view text)
    {
        if (mask & (1u << static_cast<unsigned>(e))) return app(e, text);
        if (e == event::white_space || e == event::token || e == event::punctuation)
            collected += text;
        if (!echo) return 0;
        static constexpr const char *before[] = {"<", " ", "=", "", "", "", "</end>"};
        std::fputs(before[static_cast<unsigned>(e)], stdout);
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (e == event::open_tag) std::putchar('>');
        return 0;
    }
    int call(event e, int c)
    {
        const char ch = static_cast<char>(c);
        return call(e, std::string_view{&ch, 1});
    }

    // Length of the token read, 0 when none starts here, -1 when it grows too long.
    // A quotation mark opens a quoted token when it comes first, except in content.
    int read_token()
    {
        token.clear();
        for (int quote = 0, c; (c = getch()) != 0;) {
            if (!quote && !is_token_char(c) && !is_quote(c)) return pushed = c, int(token.size());
            if (token.size() >= longest_token) return -1;
            if (!quote && is_quote(c) && token.empty() && at != content)
                quote = c;
            else if (quote && c == quote)
                quote = -1;
            token += static_cast<char>(c);
            if (quote < 0) break;
        }
        return static_cast<int>(token.size());
    }

    void go_back() { at = nesting ? content : outside; }

    int token_step()
    {
        switch (at) {
        case tag_open:
            return at = start_tag, call(event::open_tag, token);
        case content:
            return call(event::token, token), 0;
        case start_tag:
            return at = atb_name_read, call(event::atb_name, token);
        case atb_name_read:
            return call(event::atb_name, token);
        case atb_value_wait:
            return at = start_tag, call(event::atb_value, token);
        case end_tag_name:
            return at = tag_close_wait, 0;
        case instruction_end:
            return at = instruction, 0;
        default:
            return 0;
        }
    }

    int punctuation_step(int c)
    {
        switch (at) {
        case outside:
            return at = c == '<' ? tag_open : at, 0;
        case tag_open:
            if (c != '/' && c != '?' && c != '!') return 2;
            return at = c == '/' ? end_tag_name : c == '?' ? instruction : declaration, 0;
        case tag_close_wait:
            if (c != '>' || nesting == 0) return 2;
            return --nesting, go_back(), call(event::close_tag, "");
        case content:
            if (c == '<') return at = tag_open, 0;
            return call(event::punctuation, c), 0;
        case start_tag:
            if (c != '>' && c != '/') return 2;
            return ++nesting, at = c == '>' ? content : tag_close_wait, 0;
        case atb_name_read:
            return c != '=' ? 2 : (at = atb_value_wait, 0);
        case instruction:
            return at = c == '?' ? instruction_end : at, 0;
        case instruction_end:
            return c == '>' ? go_back() : void(at = instruction), 0;
        case declaration:
            return c == '>' ? go_back() : void(), 0;
        default:
            return 2;
        }
    }

    int run()
    {
        for (;;) {
            int c;
            while ((c = getch()) != 0 && is_space(c)) // white space, handed over in content
                if (at == content) call(event::white_space, c);
            if (c == 0) return 0;
            pushed = c;
            const int n = read_token();
            if (n < 0) return 5;
            if (n == 0 && (c = getch()) == 0) return 0;
            if (const int st = n > 0 ? token_step() : punctuation_step(c); st != 0) return st;
        }
    }
};

} // namespace

outcome parse(std::string_view input, unsigned mask, const relay &app, bool echo, bool allow_eof,
              std::string &collected)
{
    reader r{.in = input, .mask = mask, .app = app, .echo = echo, .collected = collected};
    const int st = r.run();
    if (st == stop_as_success) return {0, -1};
    if (st != 0) return {st, r.lines};
    return {r.nesting && !allow_eof ? 3 : 0, -1};
}

} // namespace reference
