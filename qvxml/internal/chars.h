#pragma once
// The reader's character classes, as tables indexed by an input byte: what is white
// space, what makes up a token, what opens a quoted token.

#include <array>
#include <cstddef>
#include <cstdint>

enum class char_class : std::uint8_t { punctuation, end, space, token, quote };

// Tables indexed by an input byte have one entry per value it can take.
constexpr std::size_t byte_values = 256;
using byte_table = std::array<bool, byte_values>;

constexpr std::array<char_class, byte_values> char_classes = [] {
    std::array<char_class, byte_values> t{}; // punctuation unless listed
    t[0] = char_class::end;
    for (int c : {'\t', '\n', '\r', ' '})
        t[c] = char_class::space;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = char_class::token;
    for (int c = 'A'; c <= 'Z'; ++c)
        t[c] = char_class::token;
    for (int c = 'a'; c <= 'z'; ++c)
        t[c] = char_class::token;
    for (int c = 128; c <= 165; ++c)
        t[c] = char_class::token; // code page 437 letters
    for (int c : {'-', '.', ':', '_'})
        t[c] = char_class::token;
    for (int c : {'"', '\''})
        t[c] = char_class::quote;
    return t;
}();
static_assert(char_classes['<'] == char_class::punctuation);
static_assert(char_classes[165] == char_class::token &&
              char_classes[166] == char_class::punctuation);

// White space that content may hold: the reader drops carriage returns before any
// relay sees them.
constexpr byte_table is_blank = [] {
    byte_table t{};
    t[' '] = t['\t'] = t['\n'] = true;
    return t;
}();

constexpr bool is_space(int c)
{
    return char_classes[static_cast<unsigned char>(c)] == char_class::space;
}

// Token characters that may be taken as a run straight from the input: letters,
// digits, the code page 437 letters and "-.:_", plus the quotation marks where they
// are ordinary (inside element content).
constexpr byte_table plain_token = [] {
    byte_table t{};
    for (std::size_t c = 0; c < byte_values; ++c)
        t[c] = char_classes[c] == char_class::token;
    return t;
}();
constexpr byte_table content_token = [] {
    byte_table t = plain_token;
    t['"'] = t['\''] = true;
    return t;
}();
