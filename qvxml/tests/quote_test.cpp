#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// What a substitution should produce, worked out the plain way: leftmost occurrences,
// never overlapping; an empty replace puts with in front of every character and at the end.
std::string substituted(const std::string &input, const std::string &replace, const std::string &with)
{
    std::string out;
    if (replace.empty()) {
        for (char c : input) out += with + c;
        return out + with;
    }
    std::size_t pos = 0;
    for (std::size_t hit; (hit = input.find(replace, pos)) != std::string::npos; pos = hit + replace.size())
        out += input.substr(pos, hit - pos) + with;
    return out + input.substr(pos);
}

std::string repeated(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

bool is_secure_block(const void *p) { return (static_cast<const mem_header *>(p) - 1)->secure == 1; }

} // namespace

class QuoteSubstitution : public TrackedTest {};

TEST_F(QuoteSubstitution, WithoutOccurrenceTheWindowDecides)
{
    char buf[4];
    EXPECT_EQ(translate_string_with_string("abc", buf, 4, "\"", "&quot;"), 3u);
    EXPECT_STREQ(buf, "abc");
    // a result of exactly buffersize bytes leaves no room for the terminator
    EXPECT_EQ(translate_string_with_string("abcd", buf, 4, "\"", "&quot;"), 6u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(translate_string_with_string("abcdefgh", buf, 4, "\"", "&quot;"), 6u);
    EXPECT_STREQ(buf, "abc");
}

TEST_F(QuoteSubstitution, ReplacementMustLeaveRoomForTheTerminator)
{
    char buf[8];
    EXPECT_EQ(translate_string_with_string("\"", buf, 7, "\"", "&quot;"), 6u);
    EXPECT_STREQ(buf, "&quot;");
    EXPECT_EQ(translate_string_with_string("\"", buf, 6, "\"", "&quot;"), 8u);
    EXPECT_EQ(translate_string_with_string("\"", buf, 8, "\"", "&quot;"), 6u);
    EXPECT_STREQ(buf, "&quot;");
}

TEST_F(QuoteSubstitution, EscapedResultAroundTheStackBufferSize)
{
    std::vector<char> buf(1024);
    const std::string fits = std::string(1017, 'x') + "\"";   // 1023 bytes escaped
    const std::string spills = std::string(1018, 'x') + "\""; // 1024 bytes escaped
    EXPECT_EQ(translate_string_with_string(fits.c_str(), buf.data(), 1024, "\"", "&quot;"), 1023u);
    EXPECT_EQ(std::string(buf.data()), std::string(1017, 'x') + "&quot;");
    EXPECT_EQ(translate_string_with_string(spills.c_str(), buf.data(), 1024, "\"", "&quot;"), 1026u);
    // the same size again when the overflow is in the tail after the last quotation mark
    const std::string tail = "\"" + std::string(1018, 'x');
    EXPECT_EQ(translate_string_with_string(tail.c_str(), buf.data(), 1024, "\"", "&quot;"), 1026u);
}

TEST_F(QuoteSubstitution, EmptyReplaceInsertsAndAbsentWithDeletes)
{
    char buf[16];
    EXPECT_EQ(translate_string_with_string("abc", buf, 16, "", "-"), 7u);
    EXPECT_STREQ(buf, "-a-b-c-");
    EXPECT_EQ(translate_string_with_string("abc", buf, 16, nullptr, "-"), 7u);
    EXPECT_STREQ(buf, "-a-b-c-");
    EXPECT_EQ(translate_string_with_string("", buf, 16, "", "-"), 1u);
    EXPECT_STREQ(buf, "-");
    EXPECT_EQ(translate_string_with_string("axbxc", buf, 16, "x", nullptr), 3u);
    EXPECT_STREQ(buf, "abc");
}

TEST_F(QuoteSubstitution, AbsentArgumentsWriteNothing)
{
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(translate_string_with_string(nullptr, buf, 8, "a", "b"), 0u);
    EXPECT_EQ(translate_string_with_string("abc", nullptr, 8, "a", "b"), 0u);
    EXPECT_EQ(translate_string_with_string("abc", buf, 8, nullptr, nullptr), 0u);
    EXPECT_EQ(translate_string_with_string_startpos(nullptr, "abc", buf, 8, nullptr, nullptr), 0u);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(8, '#'));
}

// Over many random inputs and sizes: the three rules of the result value, no byte
// written beyond buffersize, and growing to the result value always reaches the text
// that a big enough buffer gives.
TEST_F(QuoteSubstitution, ResultValueRulesHoldForRandomInputs)
{
    std::mt19937 rng(20240611);
    const std::vector<const char *> replaces = {"\"", "&quot;", "", "ab", "aa", nullptr};
    const std::vector<const char *> withs = {"&quot;", "\"", "-", "", "xyz", nullptr};
    constexpr std::string_view alphabet = "ab\"&quot;";
    constexpr int canary_bytes = 16;
    constexpr char canary = '\x5a';
    for (int round = 0; round < 20000; ++round) {
        const char *replace = replaces[rng() % replaces.size()];
        const char *with = withs[rng() % withs.size()];
        if (!replace && !with) continue;
        std::string input;
        for (std::size_t n = rng() % 30; n > 0; --n) input += alphabet[rng() % alphabet.size()];
        const std::string expected = substituted(input, replace ? replace : "", with ? with : "");
        int size = 1 + static_cast<int>(rng() % 40);
        std::string history;
        for (int pass = 0;; ++pass) {
            SCOPED_TRACE("input '" + input + "' replace '" + (replace ? replace : "(null)") + "' with '" +
                         (with ? with : "(null)") + "' sizes" + history);
            ASSERT_LT(pass, 200) << "growing to the result value does not converge";
            std::vector<char> buf(static_cast<std::size_t>(size + canary_bytes), canary);
            const std::size_t r = translate_string_with_string(input.c_str(), buf.data(), size, replace, with);
            history += " " + std::to_string(size) + "->" + std::to_string(r);
            for (int i = size; i < size + canary_bytes; ++i) ASSERT_EQ(buf[i], canary) << "written beyond";
            const auto usize = static_cast<std::size_t>(size);
            // a pass looks no further into input than the buffer could hold, so a text
            // that shrinks completes only once the whole input is inside that window
            ASSERT_EQ(r < usize, expected.size() < usize && input.size() <= usize)
                << "complete exactly when the result fits";
            ASSERT_NE(std::memchr(buf.data(), '\0', usize), nullptr) << "buffer not terminated";
            if (r < usize) {
                EXPECT_EQ(r, expected.size());
                EXPECT_EQ(std::string(buf.data()), expected);
                break;
            }
            ASSERT_GE(r, usize + 2);
            size = static_cast<int>(r);
        }
    }
}

class QuoteAttributeWriter : public TrackedTest {};

TEST_F(QuoteAttributeWriter, QuotationMarksBecomeEntitiesInsideTheFormat)
{
    EXPECT_EQ(written([](FILE *h) { fprintf_xml_string_attribute(h, " v=\"%s\"", "it's <plain>"); }),
              " v=\"it's <plain>\"");
    EXPECT_EQ(written([](FILE *h) { fprintf_xml_string_attribute(h, "%s", "\"say hi\""); }),
              "&quot;say hi&quot;");
}

TEST_F(QuoteAttributeWriter, LongValuesAreWrittenCompleteAfterGrowing)
{
    for (int plain : {1017, 1018, 5000}) {
        const std::string value = std::string(static_cast<std::size_t>(plain), 'x') + "\"";
        EXPECT_EQ(written([&](FILE *h) { fprintf_xml_string_attribute(h, "[%s]", value.c_str()); }),
                  "[" + std::string(static_cast<std::size_t>(plain), 'x') + "&quot;]");
    }
    for (int marks : {300, 20000}) {
        const std::string value = repeated("\"", marks);
        const std::string text = written([&](FILE *h) { fprintf_xml_string_attribute(h, "%s", value.c_str()); });
        EXPECT_EQ(text.size(), 6u * static_cast<std::size_t>(marks));
        EXPECT_EQ(text, repeated("&quot;", marks));
    }
}

class QuoteAttributeReader : public TrackedTest {};

TEST_F(QuoteAttributeReader, EntitiesBecomeQuotationMarksInANewSecureBlock)
{
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"&quot;", "\""}, {"&quot;&quot;", "\"\""}, {"a&quot;", "a\""}, {"say &quot;hi&quot;!", "say \"hi\"!"}};
    for (const auto &[value, expected] : cases) {
        char *block = allocate_string(value);
        ASSERT_NE(block, nullptr);
        unsigned long a0, l0, a1, l1;
        unsigned long long t;
        get_allocate_statistics(&a0, &l0, &t);
        char *result = unserialize_xml_string_attribute_value(block);
        get_allocate_statistics(&a1, &l1, &t);
        ASSERT_NE(result, nullptr);
        EXPECT_NE(result, block);
        EXPECT_STREQ(result, expected);
        EXPECT_TRUE(is_secure_block(result));
        EXPECT_EQ(a1 - a0, 1u);
        EXPECT_EQ(l1 - l0, 1u) << "the old value is released";
        liberate(result);
    }
}

TEST_F(QuoteAttributeReader, ValueWithoutACompleteEntityIsReturnedAsItIs)
{
    char *block = allocate_string("&quot no end");
    ASSERT_NE(block, nullptr);
    unsigned long a0, l0, a1, l1;
    unsigned long long t;
    get_allocate_statistics(&a0, &l0, &t);
    EXPECT_EQ(unserialize_xml_string_attribute_value(block), block);
    get_allocate_statistics(&a1, &l1, &t);
    EXPECT_EQ(a1, a0);
    EXPECT_EQ(l1, l0);
    EXPECT_STREQ(block, "&quot no end");
    liberate(block);
    EXPECT_EQ(unserialize_xml_string_attribute_value(nullptr), nullptr);
}
