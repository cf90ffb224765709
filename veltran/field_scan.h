#pragma once
// How far a field's text goes before a byte the record format must look at: the
// terminator, a "|" or a line feed. Every field of every record is scanned so, most of
// them a few dozen bytes long, where a call to strcspn costs more than the scan. The
// wide scanner tests sixteen bytes at a time with SSE2 where the target has it; the
// portable one a byte at a time. Both are built wherever SSE2 is, so each can be
// checked against the other. (A description, longer and with more stop bytes, is
// scanned with strcspn, which is quicker there.)

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The wide scanner reads whole aligned sixteen-byte blocks, so it may read past the
// terminator within the block that holds it (never into another page). An address
// checker would report those bytes, so there the portable scanner stands in for it.
#if defined(__SANITIZE_ADDRESS__)
#define VELTRAN_FIELD_SCAN_WIDE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELTRAN_FIELD_SCAN_WIDE 0
#endif
#endif
#if !defined(VELTRAN_FIELD_SCAN_WIDE)
#if defined(__SSE2__)
#define VELTRAN_FIELD_SCAN_WIDE 1
#else
#define VELTRAN_FIELD_SCAN_WIDE 0
#endif
#endif

// The offset of the first byte of the terminated text that is the terminator, a "|"
// or a line feed.
inline std::size_t field_stop_portable(const char *text)
{
    const char *p = text;
    while (*p != '\0' && *p != '|' && *p != '\n')
        ++p;
    return static_cast<std::size_t>(p - text);
}

#if defined(__SSE2__)

[[gnu::always_inline]] inline std::size_t field_stop_sse2(const char *text)
{
    const auto misalign = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(text) & 15u);
    const char *block = text - misalign;
    const auto hits = [](const char *at) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_setzero_si128()),
                                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('|'))),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
        return static_cast<unsigned>(_mm_movemask_epi8(m));
    };
    // the bytes of the first block before text are left out
    if (const unsigned first = hits(block) >> misalign)
        return static_cast<std::size_t>(std::countr_zero(first));
    for (;;) {
        block += 16;
        if (const unsigned m = hits(block))
            return static_cast<std::size_t>(block - text) +
                   static_cast<std::size_t>(std::countr_zero(m));
    }
}

#endif

inline std::size_t field_stop(const char *text)
{
#if VELTRAN_FIELD_SCAN_WIDE
    return field_stop_sse2(text);
#else
    return field_stop_portable(text);
#endif
}
