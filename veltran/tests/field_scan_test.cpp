// The short copy of the record sinks moves exactly n bytes at every length. The field scanners
// agree with a plain reading at every length and alignment: each stop byte (the terminator, "|", a
// line feed) at every place of a field, behind bytes that come near a stop (a tab, a carriage
// return, "{", high bytes).

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "veltran/field_scan.h"
#include "veltran/record.h"

namespace
{

TEST(FieldScan, StopsWhereAPlainReadingStops)
{
    constexpr std::size_t longest = 70;
    alignas(16) std::array<char, 16 + longest + 1 + 16> store;
    constexpr std::array<char, 6> filler = {'a', '\t', '\r', '{', '}', '\xfc'};
    for (std::size_t align = 0; align < 16; ++align) {
        for (std::size_t length = 0; length <= longest; ++length) {
            for (const char stop : {'\0', '|', '\n'}) {
                store.fill('|'); // a stop just before the field must not count
                char *text = store.data() + align;
                for (std::size_t i = 0; i < length; ++i)
                    text[i] = filler[(i + align) % filler.size()];
                text[length] = stop;
                text[length + 1] = '\0';
                EXPECT_EQ(field_stop_portable(text), length) << align << ' ' << int(stop);
#if VELTRAN_FIELD_SCAN_WIDE
                EXPECT_EQ(field_stop_sse2(text), length) << align << ' ' << int(stop);
#endif
                EXPECT_EQ(field_stop(text), length);
            }
        }
    }
}

TEST(FieldScan, ShortCopyMovesExactlyTheBytesAsked)
{
    std::array<char, 48> from, to;
    for (std::size_t i = 0; i < from.size(); ++i)
        from[i] = char('A' + i);
    for (std::size_t n = 0; n <= 40; ++n) {
        to.fill('.');
        copy_short(to.data() + 1, from.data(), n);
        EXPECT_EQ(std::string(to.data(), n + 2), "." + std::string(from.data(), n) + ".") << n;
    }
}

} // namespace
