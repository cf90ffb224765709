#include "qvxml/internal/content_scan.h"

#include "qvxml/internal/chars.h"

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

xml_markup_scan xml_scan_markup_portable(const unsigned char *begin, const unsigned char *end,
                                         xml_markup_text kind)
{
    const bool section = kind == xml_markup_text::section;
    xml_markup_scan r{0, 0, 0};
    const auto n = static_cast<std::size_t>(end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = begin[i];
        if (c == '>' || c == '\r' || c == 0 || (section && (c == '<' || c == '&' || c == ']'))) {
            r.stop = i;
            return r;
        }
        if (c == '\n') {
            ++r.lines;
            r.line_end = i + 1;
        }
    }
    r.stop = n;
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
        const unsigned char c = p[i];
        if (c == '>' || c == '\r' || c == 0 || c == '<' || c == '&' || c == ']') m.stops |= 1u << i;
        if (c == '\n') m.feeds |= 1u << i;
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

xml_markup_scan xml_scan_quoted_portable(const unsigned char *begin, const unsigned char *end,
                                         unsigned char quote)
{
    xml_markup_scan r{0, 0, 0};
    const auto n = static_cast<std::size_t>(end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = begin[i];
        if (c == quote || c == '\r' || c == 0) {
            r.stop = i;
            return r;
        }
        if (c == '\n') {
            ++r.lines;
            r.line_end = i + 1;
        }
    }
    r.stop = n;
    return r;
}
