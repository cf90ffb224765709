#include "qvxml/values.h"

#include <cstring>

#include "qvxml/html.h"
#include "qvxml/xmlparse.h"

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

// Puts the XML extent of the entity table in force for one conversion and the HTML
// extent back afterwards, where the setting rests between conversions.
class xml_extent
{
  public:
    xml_extent() { use_xml_macros(); }
    ~xml_extent() { use_html_macros(); }
    xml_extent(const xml_extent &) = delete;
    xml_extent &operator=(const xml_extent &) = delete;
};

} // namespace

void xml_get_word(xml_application *xptr, int *iptr)
{
    if (!xptr || !iptr) return;
    const char *p = collected_text(xptr);
    *iptr = read_number(p);
}

void xml_get_xy(xml_application *xptr, int *a, int *b)
{
    if (!xptr || !a || !b) return;
    const char *p = collected_text(xptr);
    *a = read_number(p);
    *b = read_number(p);
}

void xml_get_xyz(xml_application *xptr, int *a, int *b, int *c)
{
    if (!xptr || !a || !b || !c) return;
    const char *p = collected_text(xptr);
    *a = read_number(p);
    *b = read_number(p);
    *c = read_number(p);
}

void xml_get_string(xml_application *xptr, char **target)
{
    if (!xptr || !target) return;
    *target = static_cast<char *>(liberate(*target));
    *target = allocate_string(collected_text(xptr));
}

void xml_get_filename_string(xml_application *xptr, char **target)
{
    if (!xptr || !target) return;
    xml_get_string(xptr, target);
    for (char *p = *target; p && *p; ++p)
        if (*p == '\\') *p = '/';
}

void xml_get_text(xml_application *xptr, char **rptr)
{
    if (!xptr || !rptr) return;
    const xml_extent extent;
    char *copy = allocate_string(collected_text(xptr));
    convert_html_accents(&copy, 1); // a null copy is left alone
    *rptr = copy;
}

int xml_mnemonic(const char *sptr, const char *mptr)
{
    if (!sptr || !mptr) return 0;
    for (; *mptr; ++sptr, ++mptr)
        if (*sptr != *mptr) return 0; // also stops at the end of a shorter sptr
    return 1;
}

int indent(FILE *h, int margin)
{
    if (!h) return 0;
    for (int i = 0; i < margin; ++i)
        std::fputc('\t', h);
    return 0;
}

void xml_linefeed(FILE *h)
{
    if (h) std::fputc('\n', h);
}

void xml_put_string(FILE *h, const char *name, const char *value, int margin)
{
    if (!h || !name || !value) return;
    (void)indent(h, margin);
    std::fprintf(h, "<%s>%s</%s>", name, value, name);
    xml_linefeed(h);
}

void xml_put_filename(FILE *h, const char *value)
{
    if (!h || !value) return;
    for (const char *p = value; *p; ++p)
        std::fputc(*p, h);
}

void xml_put_filename_string(FILE *h, const char *name, const char *value, int margin)
{
    if (!h || !name || !value) return;
    (void)indent(h, margin);
    std::fprintf(h, "<%s>", name);
    xml_put_filename(h, value);
    std::fprintf(h, "</%s>", name);
    xml_linefeed(h);
}

void xml_put_cdata(FILE *h, const char *sptr)
{
    if (!h) return;
    const xml_extent extent;
    if (!sptr) return;
    char *copy = allocate_string(sptr);
    if (!copy) return;
    convert_html_accents(&copy, 2);
    std::fputs(copy, h);
    liberate(copy);
}

void xml_put_word(FILE *h, const char *name, int value, int margin)
{
    if (!h || !name) return;
    (void)indent(h, margin);
    std::fprintf(h, "<%s>%u</%s>", name, static_cast<unsigned>(value), name);
    xml_linefeed(h);
}
