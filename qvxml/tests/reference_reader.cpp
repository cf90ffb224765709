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

enum state : int {
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

class reader
{
  public:
    reader(std::string_view in, unsigned mask, const relay &app, bool echo, std::string &collected)
        : in_{in}, mask_{mask}, app_{app}, echo_{echo}, collected_{collected}
    {
    }

    int run()
    {
        for (;;) {
            if (!skip_space()) return 0;
            const int n = read_token();
            if (n < 0) return 5;
            if (n > 0) {
                if (const int st = token_step(); st != 0) return st;
                continue;
            }
            const int c = getch();
            if (c == 0) return 0;
            if (const int st = punctuation_step(c); st != 0) return st;
        }
    }
    int lines() const { return lines_; }
    int nesting() const { return nesting_; }

  private:
    static bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool is_quote(int c) { return c == '"' || c == '\''; }
    static bool is_token_char(int c)
    {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               (c >= 128 && c <= 165) || c == '-' || c == '.' || c == ':' || c == '_';
    }

    // The next byte, 1 to 255; 0 from the first zero byte or end of input on, for good.
    int getch()
    {
        if (pushed_) return std::exchange(pushed_, 0);
        for (;;) {
            if (ended_ || pos_ == in_.size()) return ended_ = true, 0;
            const int c = static_cast<unsigned char>(in_[pos_++]);
            if (c == 0) return ended_ = true, 0;
            if (c == '\r') continue;
            if (c == '\n') ++lines_;
            if (echo_) std::putchar(c);
            return c;
        }
    }

    int call(event e, std::string_view text)
    {
        if (mask_ & (1u << static_cast<unsigned>(e))) return app_(e, text);
        if (e == event::white_space || e == event::token || e == event::punctuation)
            collected_ += text;
        if (!echo_) return 0;
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

    // Skips white space, handing it over inside content; false at the end of input.
    bool skip_space()
    {
        for (;;) {
            const int c = getch();
            if (c == 0) return false;
            if (!is_space(c)) return pushed_ = c, true;
            if (state_ == content) call(event::white_space, c);
        }
    }

    // Length of the token read, 0 when none starts here, -1 when it grows too long.
    // A quotation mark opens a quoted token when it comes first, except in content.
    int read_token()
    {
        token_.clear();
        int quote = 0;
        for (;;) {
            const int c = getch();
            if (c == 0) break;
            if (!quote && !is_token_char(c) && !is_quote(c)) {
                pushed_ = c;
                break;
            }
            if (token_.size() >= longest_token) return -1;
            if (!quote && is_quote(c) && token_.empty() && state_ != content)
                quote = c;
            else if (quote && c == quote)
                quote = -1;
            token_ += static_cast<char>(c);
            if (quote < 0) break;
        }
        return static_cast<int>(token_.size());
    }

    void go_back() { state_ = nesting_ ? content : outside; }

    int token_step()
    {
        switch (state_) {
        case tag_open:
            state_ = start_tag;
            return call(event::open_tag, token_);
        case content:
            call(event::token, token_);
            return 0;
        case start_tag:
            state_ = atb_name_read;
            return call(event::atb_name, token_);
        case atb_name_read:
            return call(event::atb_name, token_);
        case atb_value_wait:
            state_ = start_tag;
            return call(event::atb_value, token_);
        case end_tag_name:
            state_ = tag_close_wait;
            return 0;
        case instruction_end:
            state_ = instruction;
            return 0;
        default:
            return 0;
        }
    }

    int punctuation_step(int c)
    {
        switch (state_) {
        case outside:
            if (c == '<') state_ = tag_open;
            return 0;
        case tag_open:
            if (c == '/')
                state_ = end_tag_name;
            else if (c == '?')
                state_ = instruction;
            else if (c == '!')
                state_ = declaration;
            else
                return 2;
            return 0;
        case tag_close_wait:
            if (c != '>' || nesting_ == 0) return 2;
            --nesting_;
            go_back();
            return call(event::close_tag, "");
        case content:
            if (c == '<')
                state_ = tag_open;
            else
                call(event::punctuation, c);
            return 0;
        case start_tag:
            if (c != '>' && c != '/') return 2;
            ++nesting_;
            state_ = c == '>' ? content : tag_close_wait;
            return 0;
        case atb_name_read:
            if (c != '=') return 2;
            state_ = atb_value_wait;
            return 0;
        case instruction:
            if (c == '?') state_ = instruction_end;
            return 0;
        case instruction_end:
            if (c == '>')
                go_back();
            else
                state_ = instruction;
            return 0;
        case declaration:
            if (c == '>') go_back();
            return 0;
        default:
            return 2;
        }
    }

    std::string_view in_;
    std::size_t pos_ = 0;
    bool ended_ = false;
    int pushed_ = 0;
    int lines_ = 0;
    int state_ = outside;
    int nesting_ = 0;
    std::string token_;
    unsigned mask_;
    const relay &app_;
    bool echo_;
    std::string &collected_;
};

} // namespace

outcome parse(std::string_view input, unsigned mask, const relay &app, bool echo, bool allow_eof,
              std::string &collected)
{
    reader r{input, mask, app, echo, collected};
    const int st = r.run();
    if (st == stop_as_success) return {0, -1};
    if (st != 0) return {st, r.lines()};
    return {r.nesting() && !allow_eof ? 3 : 0, -1};
}

} // namespace reference
