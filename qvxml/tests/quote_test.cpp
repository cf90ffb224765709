#include <cstring>
#include <optional>
#include <vector>

#include "test_support.h"

class QuoteSubstitution : public TrackedTest
{
};

// The result value R: below buffersize when the whole text fits with its terminator,
// otherwise a size to grow to, at least two more.
TEST_F(QuoteSubstitution, ResultValuesAtTheBoundaries)
{
    struct subst {
        std::string input;
        int size;
        const char *replace, *with;
        std::size_t result;
        std::optional<std::string> text; // what the buffer holds afterwards
    };
    const std::string x1017(1017, 'x');
    const subst cases[] = {
        // without an occurrence the window decides; a result of exactly buffersize
        // bytes leaves no room for the terminator
        {"abc", 4, "\"", "&quot;", 3, "abc"},
        {"abcd", 4, "\"", "&quot;", 6, "abc"},
        {"abcdefgh", 4, "\"", "&quot;", 6, "abc"},
        {"\"", 7, "\"", "&quot;", 6, "&quot;"},
        {"\"", 6, "\"", "&quot;", 8, std::nullopt},
        {"\"", 8, "\"", "&quot;", 6, "&quot;"},
        // around the writer's stack buffer: 1023 bytes escaped fit, 1024 do not, also
        // when the overflow is in the tail after the last quotation mark
        {x1017 + "\"", 1024, "\"", "&quot;", 1023, x1017 + "&quot;"},
        {x1017 + "x\"", 1024, "\"", "&quot;", 1026, std::nullopt},
        {"\"x" + x1017, 1024, "\"", "&quot;", 1026, std::nullopt},
        // an empty or absent replace inserts, an absent with deletes
        {"abc", 16, "", "-", 7, "-a-b-c-"},
        {"abc", 16, nullptr, "-", 7, "-a-b-c-"},
        {"", 16, "", "-", 1, "-"},
        {"axbxc", 16, "x", nullptr, 3, "abc"},
    };
    for (const subst &c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20) + " in " + std::to_string(c.size));
        std::vector<char> buf(static_cast<std::size_t>(c.size));
        EXPECT_EQ(
            translate_string_with_string(c.input.c_str(), buf.data(), c.size, c.replace, c.with),
            c.result);
        if (c.text) {
            EXPECT_EQ(std::string(buf.data()), *c.text);
        }
    }
}

class QuoteAttribute : public TrackedTest
{
};

TEST_F(QuoteAttribute, WriterTurnsQuotationMarksIntoEntitiesInsideTheFormat)
{
    EXPECT_EQ(
        written([](FILE *h) { fprintf_xml_string_attribute(h, " v=\"%s\"", "it's <plain>"); }),
        " v=\"it's <plain>\"");
    EXPECT_EQ(written([](FILE *h) { fprintf_xml_string_attribute(h, "%s", "\"say hi\""); }),
              "&quot;say hi&quot;");
    // long values are written complete after growing, whatever the mix
    for (auto [plain, marks] : {std::pair{1017, 1}, {1018, 1}, {5000, 1}, {0, 300}, {0, 20000}}) {
        std::string value(static_cast<std::size_t>(plain), 'x'), text = value;
        for (int i = 0; i < marks; ++i)
            (value += '"'), (text += "&quot;");
        EXPECT_EQ(written([&](FILE *h) { fprintf_xml_string_attribute(h, "[%s]", value.c_str()); }),
                  "[" + text + "]");
    }
}

TEST_F(QuoteAttribute, ReaderTurnsEntitiesIntoQuotationMarksInANewSecureBlock)
{
    const std::pair<const char *, const char *> cases[] = {
        {"&quot;", "\""},          {"&quot;&quot;", "\"\""},
        {"a&quot;", "a\""},        {"say &quot;hi&quot;!", "say \"hi\"!"},
        {"&quot no end", nullptr}, // without a complete entity the value comes back as it is
    };
    for (const auto &[value, expected] : cases) {
        char *block = allocate_string(value);
        ASSERT_NE(block, nullptr);
        const alloc_counts before = counts_now();
        owned_text result{unserialize_xml_string_attribute_value(block)};
        const alloc_counts after = counts_now();
        ASSERT_NE(result, nullptr);
        const bool converts = expected != nullptr;
        EXPECT_EQ(result.get() != block, converts) << value;
        EXPECT_STREQ(result.get(), converts ? expected : value);
        EXPECT_EQ(header_of(result.get())->secure, converts ? 1 : 0) << value;
        EXPECT_EQ(after.a - before.a, converts ? 1u : 0u) << value;
        EXPECT_EQ(after.l - before.l, converts ? 1u : 0u) << "the old value is released: " << value;
    }
}
