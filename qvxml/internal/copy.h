#pragma once
// Short copies of the hot paths, shared by the reader and the document builder: a name
// copied as one fixed block, and runs of text copied inline.

#include <cstddef>
#include <cstdint>
#include <cstring>

// Short names are copied as one fixed block of this size, which costs less than a
// call, when both sides have room for it.
constexpr std::size_t short_copy = 32;

// Copies n bytes of from to to and terminates them. roomy: from can be read, and to
// written, short_copy bytes from their starts.
inline void copy_terminated(char *to, const void *from, std::size_t n, bool roomy)
{
    if (roomy && n < short_copy)
        std::memcpy(to, from, short_copy);
    else
        std::memcpy(to, from, n);
    to[n] = '\0';
}

// Copies n bytes of from to to, which do not overlap. Up to 32 bytes are moved inline
// as two overlapping pieces of a power of two, reading and writing only the n bytes:
// most runs of an export's text are that short, and a call to memcpy costs more than
// the copy.
inline void copy_bytes(char *to, const char *from, std::size_t n)
{
    const auto pair = [&](auto piece) {
        std::memcpy(&piece, from, sizeof piece);
        decltype(piece) tail;
        std::memcpy(&tail, from + n - sizeof piece, sizeof piece);
        std::memcpy(to, &piece, sizeof piece);
        std::memcpy(to + n - sizeof piece, &tail, sizeof piece);
    };
    struct sixteen {
        std::uint64_t half[2];
    };
    if (n > 32)
        std::memcpy(to, from, n);
    else if (n >= 16)
        pair(sixteen{});
    else if (n >= 8)
        pair(std::uint64_t{});
    else if (n >= 4)
        pair(std::uint32_t{});
    else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}
