#include "qvxml/internal/content_scan.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

xml_content_scan xml_scan_content_portable(const unsigned char *begin, const unsigned char *end)
{
    xml_content_scan r{0, 0, 0};
    const auto n = static_cast<std::size_t>(end - begin);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = begin[i];
        if (c == '<' || c == '\r' || c == 0) {
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

xml_content_scan xml_scan_content_wide(const unsigned char *begin, const unsigned char *end)
{
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    xml_content_scan r{0, 0, 0};
    const unsigned char *p = begin;
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i ends = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, zero));
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(ends));
        auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        const auto offset = static_cast<std::size_t>(p - begin);
        if (stops) feeds &= (1u << std::countr_zero(stops)) - 1; // only those before the stop
        if (feeds) {
            r.line_end = offset + static_cast<std::size_t>(std::bit_width(feeds));
            for (; feeds; feeds &= feeds - 1)
                ++r.lines; // few per vector: cheaper than a popcount call
        }
        if (stops) {
            r.stop = offset + static_cast<std::size_t>(std::countr_zero(stops));
            return r;
        }
    }
    const auto offset = static_cast<std::size_t>(p - begin);
    const xml_content_scan tail = xml_scan_content_portable(p, end);
    r.stop = offset + tail.stop;
    r.lines += tail.lines;
    if (tail.lines) r.line_end = offset + tail.line_end;
    return r;
#else
    return xml_scan_content_portable(begin, end);
#endif
}
