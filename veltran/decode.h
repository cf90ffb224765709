#pragma once
// A record field as UTF-8 text: the field holds its element's text as the export
// spells it, XML escapes included, with "&brvbar;" standing for "|". Readers of the
// database and of JSON Lines need the characters themselves.

#include <cstddef>
#include <string_view>

// Where decoded text goes: put is called with consecutive pieces of the result, in
// order; a piece is valid only during the call.
struct utf8_sink {
    void *context;
    void (*put)(void *context, std::string_view piece);
};

// The most bytes decode_field can make of n bytes: a byte that is not UTF-8 becomes
// U+FFFD, three bytes; every escape shrinks or keeps its length.
constexpr std::size_t decoded_capacity(std::size_t n)
{
    return 3 * n;
}

// Decodes field into out as UTF-8: "&amp;", "&lt;", "&gt;", "&quot;" and "&apos;";
// "&brvbar;" as "|"; character references "&#233;" and "&#xE9;" (one that names no
// character, or NUL, becomes U+FFFD); and the accented letters of the library's entity
// table as their Unicode characters. Any other name, or an ampersand that starts no
// reference, stays as written. Each maximal run of bytes that cannot begin or continue
// a UTF-8 character becomes one U+FFFD. Escapes are not decoded twice: "&amp;lt;" gives
// "&lt;".
void decode_field(std::string_view field, const utf8_sink &out);
// The same into out, which has room for decoded_capacity(field.size()) bytes; returns
// the number of bytes written (no terminator is added).
std::size_t decode_field(std::string_view field, char *out);
