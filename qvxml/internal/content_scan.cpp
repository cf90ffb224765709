#include "qvxml/internal/content_scan.h"

#include "qvxml/internal/chars.h"

namespace
{

// Whether a markup text's scan stops at c: a '>' that may end it, a carriage return, a
// zero byte, and in a section the '<', '&' and ']' as well.
bool stops_markup(unsigned char c, bool section)
{
    return c == '>' || c == '\r' || c == 0 || (section && (c == '<' || c == '&' || c == ']'));
}

// A byte at a time up to the first byte stops tells, with the line feeds before it.
template <typename Stops>
xml_markup_scan scan_stops(const unsigned char *begin, const unsigned char *end, Stops stops)
{
    xml_markup_scan r{0, 0, 0};
    const auto n = static_cast<std::size_t>(end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        if (stops(begin[i])) {
            r.stop = i;
            return r;
        }
        if (begin[i] == '\n') {
            ++r.lines;
            r.line_end = i + 1;
        }
    }
    r.stop = n;
    return r;
}

} // namespace

xml_content_scan xml_scan_content_portable(const unsigned char *begin, const unsigned char *end)
{
    xml_content_scan r{0, 0, 0, 0};
    bool blank = true;
    const auto n = static_cast<std::size_t>(end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = begin[i];
        if (c == '<' || c == '\r' || c == 0) {
            r.stop = i;
            if (blank) r.space = i;
            return r;
        }
        if (blank && !is_blank[c]) {
            blank = false;
            r.space = i;
        }
        if (c == '\n') {
            ++r.lines;
            r.line_end = i + 1;
        }
    }
    r.stop = n;
    if (blank) r.space = n;
    return r;
}

std::size_t xml_scan_short_run_portable(const unsigned char *begin, const unsigned char *end)
{
    if (end - begin < 16 || is_blank[*begin]) return xml_no_short_run;
    for (std::size_t i = 0; i < 16; ++i) {
        if (begin[i] == '<') return i;
        if (begin[i] <= '\r') break;
    }
    return xml_no_short_run;
}

xml_section_marks xml_mark_section_portable(const unsigned char *p)
{
    xml_section_marks m{0, 0};
    for (unsigned i = 0; i < 16; ++i) {
        if (stops_markup(p[i], true)) m.stops |= 1u << i;
        if (p[i] == '\n') m.feeds |= 1u << i;
    }
    return m;
}

std::size_t xml_scan_name_portable(const unsigned char *begin, const unsigned char *end)
{
    const unsigned char *p = begin;
    while (p < end && plain_token[*p])
        ++p;
    return static_cast<std::size_t>(p - begin);
}

xml_markup_scan xml_scan_markup_portable(const unsigned char *begin, const unsigned char *end,
                                         xml_markup_text kind)
{
    const bool section = kind == xml_markup_text::section;
    return scan_stops(begin, end, [section](unsigned char c) { return stops_markup(c, section); });
}

xml_markup_scan xml_scan_quoted_portable(const unsigned char *begin, const unsigned char *end,
                                         unsigned char quote)
{
    return scan_stops(begin, end,
                      [quote](unsigned char c) { return c == quote || c == '\r' || c == 0; });
}
