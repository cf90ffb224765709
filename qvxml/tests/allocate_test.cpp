#include "test_support.h"

class Allocator : public TrackedTest {};

TEST_F(Allocator, BlocksComeZeroFilledAndBalance)
{
    auto *p = static_cast<unsigned char *>(allocate(64));
    auto *s = static_cast<unsigned char *>(allocate_secure(32));
    ASSERT_NE(p, nullptr);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(s[i], 0);
    EXPECT_EQ(liberate(p), nullptr);
    EXPECT_EQ(liberate_secure(s), nullptr);
}
