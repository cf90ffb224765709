#include <cstring>
#include <tuple>
#include <vector>

#include "test_support.h"

// Every test starts and must end at the HTML extent, where the setting rests between
// conversions; a test that switched and failed halfway is put back.
class EntityConversion : public TrackedTest
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(MaxMacMan, html_macro_rows) << "the extent does not rest at the HTML extent";
        TrackedTest::SetUp();
    }
    void TearDown() override
    {
        use_html_macros();
        TrackedTest::TearDown();
    }
    // Runs the conversion on a tracked copy of text and hands back the result.
    static std::string converted(const std::string &text, int mode)
    {
        char *block = allocate_string(text.c_str());
        EXPECT_NE(block, nullptr);
        convert_html_accents(&block, mode);
        std::string out = block ? block : "(null)";
        liberate(block);
        return out;
    }
};

TEST_F(EntityConversion, TextsAtEitherExtent)
{
    struct conversion {
        std::string text;
        int mode;
        bool xml; // at the XML extent, else the HTML one
        std::string converted;
    };
    const std::string longname =
        "&" + std::string(100, 'e') + ";"; // far longer than the candidate buffer
    const conversion cases[] = {
        // markup converts only at the XML extent; the accented letters are in both
        {"a&lt;b&gt;c&amp;d&quot;e", 1, false, "a&lt;b&gt;c&amp;d&quot;e"},
        {"a&lt;b&gt;c&amp;d&quot;e", 1, true, "a<b>c&d\"e"},
        {"&eacute;", 1, false, "\x82"},
        {"<&>\"\x85", 2, false, "<&>\"&agrave;"},
        // names that do not convert stay; the next ampersand is looked at afresh
        {"x&nbsp;y", 1, true, "x&nbsp;y"},
        {"x&EACUTE;y", 1, true, "x&EACUTE;y"},
        {"x&eacutey", 1, true, "x&eacutey"},
        {"x& y", 1, true, "x& y"},
        {"&", 1, true, "&"},
        {"a&", 1, true, "a&"},
        {"&;", 1, true, "&;"},
        {"&amp", 1, true, "&amp"},
        {"&nbsp&eacute;", 1, true, "&nbsp\x82"},
        {"&&lt;", 1, true, "&<"},
        {longname + "&eacute;", 1, true, longname + "\x82"},
        // adjacent names convert, but not mode 1's own output
        {"&auml;&ouml;&uuml;", 1, true, "\x84\x94\x81"},
        {"&amp;lt;", 1, true, "&lt;"},
        {"&amp;amp;", 1, true, "&amp;"},
        {"&amp;", 2, true, "&amp;amp;"},
        {"\x82t\x82", 2, true, "&eacute;t&eacute;"},
        {"", 2, true, ""},
        // other modes change nothing
        {"&lt;\x82", 0, true, "&lt;\x82"},
        {"&lt;\x82", 3, true, "&lt;\x82"},
        {"&lt;\x82", -1, true, "&lt;\x82"},
    };
    for (const conversion &c : cases) {
        if (c.xml) use_xml_macros();
        EXPECT_EQ(converted(c.text, c.mode), c.converted) << c.text << " in mode " << c.mode;
        use_html_macros();
    }
}

// Mode 1 shrinks the text in its own block; mode 2 writes a new ordinary block of the
// exact size and releases the old one, or obtains nothing when nothing converts.
TEST_F(EntityConversion, WhichBlockHoldsTheResult)
{
    use_xml_macros();
    const std::tuple<const char *, int, const char *, bool> cases[] = {
        {"caf&eacute;", 1, "caf\x82", false},
        {"a<b", 2, "a&lt;b", true},
        {"plain text; no names", 2, nullptr, false}};
    for (const auto &[text, mode, result, new_block] : cases) {
        SCOPED_TRACE(text);
        char *block = allocate_string(text);
        ASSERT_NE(block, nullptr);
        char *const before = block;
        const alloc_counts counts = counts_now();
        convert_html_accents(&block, mode);
        const alloc_counts after = counts_now();
        EXPECT_STREQ(block, result ? result : text);
        EXPECT_EQ(block != before, new_block);
        EXPECT_EQ(header_of(block)->size,
                  new_block ? std::strlen(result) + 1 : std::strlen(text) + 1);
        EXPECT_EQ(header_of(block)->secure, 0);
        EXPECT_EQ(after.a - counts.a, new_block ? 1u : 0u);
        EXPECT_EQ(after.l - counts.l, new_block ? 1u : 0u);
        liberate(block);
    }
}
