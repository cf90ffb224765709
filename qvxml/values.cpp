#include "qvxml/internal/impl.h"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include "qvxml/internal/entities.h"
#include "qvxml/internal/sink.h"

using namespace qvxml::impl;

namespace
{

constexpr bool is_decimal_digit(char c)
{
    return c >= '0' && c <= '9';
}

// The text the default relays collected; a context without a buffer reads as empty.
const char *collected_text(const xml_application *x)
{
    return x->buffer ? x->buffer : "";
}

// Skips blanks (spaces only) and reads an unsigned decimal number at p, leaving p on
// the first byte after its digits. Computed in unsigned so that a number too large
// for an int wraps instead of overflowing.
int read_number(const char *&p)
{
    while (*p == ' ')
        ++p;
    unsigned value = 0;
    for (; is_decimal_digit(*p); ++p)
        value = value * 10u + static_cast<unsigned>(*p - '0');
    return static_cast<int>(value);
}

// The indentation for margin: one tab per level, nothing below 1.
void put_margin(text_sink &out, int margin)
{
    if (margin > 0) out.put_repeated('\t', static_cast<std::size_t>(margin));
}

// <name>value</name> on a line of its own at margin, nothing escaped.
void put_element(text_sink &out, std::string_view name, std::string_view value, int margin)
{
    put_margin(out, margin);
    out.put('<');
    out.put(name);
    out.put('>');
    out.put(value);
    out.put("</");
    out.put(name);
    out.put(">\n");
}

// The decimal digits of any unsigned int.
constexpr std::size_t unsigned_digits = std::numeric_limits<unsigned>::digits10 + 1;

} // namespace

void qvxml::impl::xml_get_word(xml_application *xptr, int *iptr)
{
    if (!xptr || !iptr) return;
    const char *p = collected_text(xptr);
    *iptr = read_number(p);
}

void qvxml::impl::xml_get_xy(xml_application *xptr, int *a, int *b)
{
    if (!xptr || !a || !b) return;
    const char *p = collected_text(xptr);
    *a = read_number(p);
    *b = read_number(p);
}

void qvxml::impl::xml_get_xyz(xml_application *xptr, int *a, int *b, int *c)
{
    if (!xptr || !a || !b || !c) return;
    const char *p = collected_text(xptr);
    *a = read_number(p);
    *b = read_number(p);
    *c = read_number(p);
}

void qvxml::impl::xml_get_string(xml_application *xptr, char **target)
{
    if (!xptr || !target) return;
    *target = static_cast<char *>(liberate(*target));
    *target = allocate_string(collected_text(xptr));
}

void qvxml::impl::xml_get_filename_string(xml_application *xptr, char **target)
{
    if (!xptr || !target) return;
    xml_get_string(xptr, target);
    for (char *p = *target; p && *p; ++p)
        if (*p == '\\') *p = '/';
}

void qvxml::impl::xml_get_text(xml_application *xptr, char **rptr)
{
    if (!xptr || !rptr) return;
    char *copy = allocate_string(collected_text(xptr));
    if (copy) decode_entity_names(copy, std::strlen(copy), xml_macro_rows);
    *rptr = copy;
}

int qvxml::impl::xml_mnemonic(const char *sptr, const char *mptr)
{
    if (!sptr || !mptr) return 0;
    for (; *mptr; ++sptr, ++mptr)
        if (*sptr != *mptr) return 0; // also stops at the end of a shorter sptr
    return 1;
}

int qvxml::impl::indent(FILE *h, int margin)
{
    if (!h) return 0;
    text_sink out{h};
    put_margin(out, margin);
    return 0;
}

void qvxml::impl::xml_linefeed(FILE *h)
{
    if (h) std::fputc('\n', h);
}

void qvxml::impl::xml_put_string(FILE *h, const char *name, const char *value, int margin)
{
    if (!h || !name || !value) return;
    text_sink out{h};
    put_element(out, name, value, margin);
}

void qvxml::impl::xml_put_filename(FILE *h, const char *value)
{
    if (!h || !value) return;
    text_sink out{h};
    out.put(value);
}

void qvxml::impl::xml_put_filename_string(FILE *h, const char *name, const char *value, int margin)
{
    xml_put_string(h, name, value, margin); // a file name is written unchanged too
}

void qvxml::impl::xml_put_cdata(FILE *h, const char *sptr)
{
    if (!h || !sptr) return;
    char *named = entity_named_copy(sptr, xml_macro_rows);
    if (!named) return;
    std::fputs(named, h);
    liberate(named);
}

void qvxml::impl::xml_put_word(FILE *h, const char *name, int value, int margin)
{
    if (!h || !name) return;
    std::array<char, unsigned_digits> digits;
    const auto end = std::to_chars(digits.begin(), digits.end(), static_cast<unsigned>(value)).ptr;
    text_sink out{h};
    put_element(out, name, {digits.data(), static_cast<std::size_t>(end - digits.data())}, margin);
}
