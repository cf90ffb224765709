#pragma once
// Block scanners of the reader's hot path: where a stretch of element content, of a
// comment or of a CDATA section ends in an input block, with its line feeds (and for
// content the white space it begins with), and how far a tag's name goes. The wide scanners test
// sixteen bytes at a time with SSE2 where the target has it (every x86-64 does); the portable ones
// test a byte at a time and give the same results everywhere. Both are always built, so each can be
// checked against the other on any machine. The wide ones are inline: they run once or twice per
// element, where a call costs as much as the scan.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qvxml/internal/chars.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

struct xml_content_scan {
    std::size_t stop;     // offset of the first '<', carriage return or zero byte; the
                          // length of the block when it holds none
    std::size_t lines;    // line feeds before stop
    std::size_t line_end; // offset just past the last of those line feeds; 0 when none
    std::size_t space;    // how many bytes before stop are white space (' ', '\t', '\n')
                          // from the start on
};

// Scans [begin, end), begin <= end.
xml_content_scan xml_scan_content_portable(const unsigned char *begin, const unsigned char *end);

// The common run of content: a word or short value at begin, not white space, up to a
// '<' in its first sixteen bytes with no control character before it (so no line
// feed, carriage return or zero byte), the block holding sixteen bytes from begin. Its
// length (its scan has no line feed and no white space first), or xml_no_short_run.
constexpr std::size_t xml_no_short_run = ~std::size_t(0);
std::size_t xml_scan_short_run_portable(const unsigned char *begin, const unsigned char *end);

// Inside a comment or a CDATA section, text goes by as it stands up to the next byte
// that needs a look: a '>' that may end it, a carriage return to drop, a zero byte that
// ends the input, and in a section also the ']' that may begin its end and the '&' and
// '<' that are handed over escaped.
struct xml_markup_scan {
    std::size_t stop;     // offset of that byte; the length of the block when it holds none
    std::size_t lines;    // line feeds before stop
    std::size_t line_end; // offset just past the last of those line feeds; 0 when none
};
enum class xml_markup_text : bool { comment, section };

// The bytes of sixteen at p that a section's scan stops at, and its line feeds: one bit
// each, the first byte the lowest. For taking a block whose stops are close together
// without scanning it again after each.
struct xml_section_marks {
    unsigned stops;
    unsigned feeds;
};
xml_section_marks xml_mark_section_portable(const unsigned char *p);

// Scans [begin, end), begin <= end.
xml_markup_scan xml_scan_markup_portable(const unsigned char *begin, const unsigned char *end,
                                         xml_markup_text kind);

// The rest of a quoted attribute value, after its opening mark: the offset of the same
// mark, of a carriage return or of a zero byte (the length of the block when it holds
// none), with the line feeds before it.
xml_markup_scan xml_scan_quoted_portable(const unsigned char *begin, const unsigned char *end,
                                         unsigned char quote);

// The length of the run of name characters (letters, digits, the code page 437
// letters and "-.:_") at begin, at most end - begin: how far a tag's name goes.
std::size_t xml_scan_name_portable(const unsigned char *begin, const unsigned char *end);

// True when [at, end) begins with the n bytes of name, then a '>': the end tag of the
// element whose start tag was just read, told without scanning its name again. name
// can be read sixteen bytes far.
inline bool xml_name_ends_at_portable(const unsigned char *at, const unsigned char *end,
                                      const char *name, std::size_t n)
{
    return n < static_cast<std::size_t>(end - at) && std::memcmp(at, name, n) == 0 && at[n] == '>';
}

// Content that is a line feed and up to fifteen spaces of indentation, then a '<', as
// between the tags of an indented export: the length of the run before the '<'; 0
// for anything else, or when the block holds less than seventeen bytes from begin.
inline std::size_t xml_scan_indentation(const unsigned char *begin, const unsigned char *end)
{
    constexpr std::uint64_t spaces = 0x2020202020202020u;
    if (end - begin < 17 || *begin != '\n') return 0;
    std::uint64_t word[2];
    std::memcpy(word, begin + 1, sizeof word);
    // on a little-endian machine the first byte is the lowest; elsewhere take the
    // general path
    if constexpr (std::endian::native != std::endian::little) return 0;
    const std::uint64_t first = word[0] ^ spaces;
    const std::size_t n = first ? static_cast<std::size_t>(std::countr_zero(first)) / 8
                          : (word[1] ^ spaces)
                              ? 8 + static_cast<std::size_t>(std::countr_zero(word[1] ^ spaces)) / 8
                              : 16;
    return n < 16 && begin[1 + n] == '<' ? 1 + n : 0;
}

#if defined(__SSE2__)

// Two tests: where the first '<' is, and whether a byte at or below '\r' (every stop
// but '<', and every white space) comes before it.
inline std::size_t xml_scan_short_run_wide(const unsigned char *begin, const unsigned char *end)
{
    if (end - begin < 16 || is_blank[*begin]) return xml_no_short_run;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(begin));
    const auto tags =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<'))));
    const __m128i controls = _mm_set1_epi8('\r');
    const auto low =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, controls), v)));
    if (tags == 0 || (low & ((tags & (0u - tags)) - 1)) != 0) return xml_no_short_run;
    return static_cast<std::size_t>(std::countr_zero(tags));
}

// xml_scan_content_wide for a run that xml_scan_short_run_wide does not take.
inline xml_content_scan xml_scan_content_long_wide(const unsigned char *begin,
                                                   const unsigned char *end)
{
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i sp = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i zero = _mm_setzero_si128();
    const __m128i controls = _mm_set1_epi8('\r'); // every stop but '<' and a line feed are <= it
    xml_content_scan r{0, 0, 0, 0};
    // nothing but white space so far; text that starts with a word needs no look
    bool blank = begin < end && is_blank[*begin];
    const unsigned char *p = begin;
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Text past its first word, with no control character and no '<' in these
        // sixteen bytes, has nothing to count and nothing to stop at: one test.
        const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, controls), v);
        if (!blank && !_mm_movemask_epi8(_mm_or_si128(low, _mm_cmpeq_epi8(v, lt)))) continue;
        const __m128i feed = _mm_cmpeq_epi8(v, lf);
        const __m128i ends = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, zero));
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(ends));
        auto feeds = static_cast<unsigned>(_mm_movemask_epi8(feed));
        const auto offset = static_cast<std::size_t>(p - begin);
        if (blank) {
            const __m128i white =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, sp), _mm_cmpeq_epi8(v, tab)), feed);
            const auto words = ~static_cast<unsigned>(_mm_movemask_epi8(white)) & 0xffffu;
            if (words) {
                blank = false;
                r.space = offset + static_cast<std::size_t>(std::countr_zero(words));
            }
        }
        if (stops) feeds &= (1u << std::countr_zero(stops)) - 1; // only those before the stop
        if (feeds) {
            r.line_end = offset + static_cast<std::size_t>(std::bit_width(feeds));
            for (; feeds; feeds &= feeds - 1)
                ++r.lines; // few per vector: cheaper than a popcount call
        }
        if (stops) {
            r.stop = offset + static_cast<std::size_t>(std::countr_zero(stops));
            if (blank || r.space > r.stop) r.space = r.stop;
            return r;
        }
    }
    const auto offset = static_cast<std::size_t>(p - begin);
    const xml_content_scan tail = xml_scan_content_portable(p, end);
    r.stop = offset + tail.stop;
    r.lines += tail.lines;
    if (tail.lines) r.line_end = offset + tail.line_end;
    if (blank) r.space = offset + tail.space;
    return r;
}

inline xml_content_scan xml_scan_content_wide(const unsigned char *begin, const unsigned char *end)
{
    if (const std::size_t run = xml_scan_short_run_wide(begin, end); run != xml_no_short_run)
        return {run, 0, 0, 0};
    return xml_scan_content_long_wide(begin, end);
}

// The scan shared by the markup and quoted-value scanners: sixteen bytes at a time up to
// the first byte that stops_in marks in a vector, with the line feeds before it; the
// block's tail, under sixteen bytes, goes to tail.
template <typename Stops, typename Tail>
inline xml_markup_scan xml_scan_stops_wide(const unsigned char *begin, const unsigned char *end,
                                           Stops stops_in, Tail tail_of)
{
    const __m128i lf = _mm_set1_epi8('\n');
    xml_markup_scan r{0, 0, 0};
    const unsigned char *p = begin;
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(stops_in(v)));
        auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        const auto offset = static_cast<std::size_t>(p - begin);
        if (stops) feeds &= (1u << std::countr_zero(stops)) - 1; // only those before the stop
        if (feeds) {
            r.line_end = offset + static_cast<std::size_t>(std::bit_width(feeds));
            for (; feeds; feeds &= feeds - 1)
                ++r.lines;
        }
        if (stops) {
            r.stop = offset + static_cast<std::size_t>(std::countr_zero(stops));
            return r;
        }
    }
    const auto offset = static_cast<std::size_t>(p - begin);
    const xml_markup_scan tail = tail_of(p);
    r.stop = offset + tail.stop;
    r.lines += tail.lines;
    if (tail.lines) r.line_end = offset + tail.line_end;
    return r;
}

// The bytes of v a markup text's scan stops at (see xml_scan_markup_portable).
inline __m128i xml_markup_stops(__m128i v, bool section)
{
    // outside a section the last three stand in for '>' and stop nothing more
    const __m128i lt = _mm_set1_epi8(section ? '<' : '>');
    const __m128i amp = _mm_set1_epi8(section ? '&' : '>');
    const __m128i bracket = _mm_set1_epi8(section ? ']' : '>');
    return _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')),
                                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                                     _mm_cmpeq_epi8(v, _mm_setzero_si128())),
                        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
                                     _mm_cmpeq_epi8(v, bracket)));
}

inline xml_markup_scan xml_scan_markup_wide(const unsigned char *begin, const unsigned char *end,
                                            xml_markup_text kind)
{
    const bool section = kind == xml_markup_text::section;
    return xml_scan_stops_wide(
        begin, end, [section](__m128i v) { return xml_markup_stops(v, section); },
        [&](const unsigned char *p) { return xml_scan_markup_portable(p, end, kind); });
}

inline xml_section_marks xml_mark_section_wide(const unsigned char *p)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return {static_cast<unsigned>(_mm_movemask_epi8(xml_markup_stops(v, true))),
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))))};
}

inline std::size_t xml_scan_name_wide(const unsigned char *begin, const unsigned char *end)
{
    // Names are mostly letters: the first byte that is not one ends the name unless
    // it is one of the other name characters, and the scan goes on after it.
    const __m128i lower = _mm_set1_epi8(0x20);
    const __m128i a = _mm_set1_epi8('a');
    const __m128i span = _mm_set1_epi8('z' - 'a');
    const unsigned char *p = begin;
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i d = _mm_sub_epi8(_mm_or_si128(v, lower), a);
        const __m128i letters = _mm_cmpeq_epi8(_mm_min_epu8(d, span), d);
        const auto others = ~static_cast<unsigned>(_mm_movemask_epi8(letters)) & 0xffffu;
        if (!others) {
            p += 16;
            continue;
        }
        p += std::countr_zero(others);
        if (!plain_token[*p]) return static_cast<std::size_t>(p - begin);
        ++p;
    }
    return static_cast<std::size_t>(p - begin) + xml_scan_name_portable(p, end);
}

inline bool xml_name_ends_at_wide(const unsigned char *at, const unsigned char *end,
                                  const char *name, std::size_t n)
{
    if (n >= 16 || end - at < 16) return xml_name_ends_at_portable(at, end, name, n);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(name));
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    const unsigned want = (1u << n) - 1;
    return (same & want) == want && at[n] == '>';
}

inline xml_markup_scan xml_scan_quoted_wide(const unsigned char *begin, const unsigned char *end,
                                            unsigned char quote)
{
    const __m128i mark = _mm_set1_epi8(static_cast<char>(quote));
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    return xml_scan_stops_wide(
        begin, end,
        [&](__m128i v) {
            return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, mark), _mm_cmpeq_epi8(v, cr)),
                                _mm_cmpeq_epi8(v, zero));
        },
        [&](const unsigned char *p) { return xml_scan_quoted_portable(p, end, quote); });
}

#else

inline std::size_t xml_scan_short_run_wide(const unsigned char *begin, const unsigned char *end)
{
    return xml_scan_short_run_portable(begin, end);
}

inline xml_content_scan xml_scan_content_wide(const unsigned char *begin, const unsigned char *end)
{
    return xml_scan_content_portable(begin, end);
}

inline xml_content_scan xml_scan_content_long_wide(const unsigned char *begin,
                                                   const unsigned char *end)
{
    return xml_scan_content_portable(begin, end);
}

inline xml_markup_scan xml_scan_markup_wide(const unsigned char *begin, const unsigned char *end,
                                            xml_markup_text kind)
{
    return xml_scan_markup_portable(begin, end, kind);
}

inline xml_section_marks xml_mark_section_wide(const unsigned char *p)
{
    return xml_mark_section_portable(p);
}

inline std::size_t xml_scan_name_wide(const unsigned char *begin, const unsigned char *end)
{
    return xml_scan_name_portable(begin, end);
}

inline bool xml_name_ends_at_wide(const unsigned char *at, const unsigned char *end,
                                  const char *name, std::size_t n)
{
    return xml_name_ends_at_portable(at, end, name, n);
}

inline xml_markup_scan xml_scan_quoted_wide(const unsigned char *begin, const unsigned char *end,
                                            unsigned char quote)
{
    return xml_scan_quoted_portable(begin, end, quote);
}

#endif
