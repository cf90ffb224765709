#include <random>
#include <string>
#include <vector>

#include "qvxml/html.h"
#include "test_support.h"

namespace {

std::size_t block_size(const void *p) { return (static_cast<const mem_header *>(p) - 1)->size; }

} // namespace

// Every test starts and must end at the HTML extent, where the setting rests between
// conversions; a test that switched and failed halfway is put back.
class EntityConversion : public TrackedTest {
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

TEST_F(EntityConversion, ModeOneShrinksInPlaceAndKeepsTheBlock)
{
    use_xml_macros();
    char *block = allocate_string("caf&eacute;");
    ASSERT_NE(block, nullptr);
    char *const before = block;
    convert_html_accents(&block, 1);
    EXPECT_EQ(block, before);
    EXPECT_EQ(std::string(block), "caf\x82");
    EXPECT_EQ(block_size(block), 12u);
    liberate(block);
}

TEST_F(EntityConversion, MarkupConvertsOnlyAtTheXmlExtent)
{
    const std::string text = "a&lt;b&gt;c&amp;d&quot;e";
    EXPECT_EQ(converted(text, 1), text);
    EXPECT_EQ(converted("&eacute;", 1), "\x82") << "the accented letters are in both extents";
    EXPECT_EQ(converted("<&>\"\x85", 2), "<&>\"&agrave;");
    use_xml_macros();
    EXPECT_EQ(converted(text, 1), "a<b>c&d\"e");
}

TEST_F(EntityConversion, ModeOneLeavesNamesThatDoNotConvert)
{
    use_xml_macros();
    for (const std::string text : {"x&nbsp;y", "x&EACUTE;y", "x&eacutey", "x& y", "&", "a&", "&;", "&amp"})
        EXPECT_EQ(converted(text, 1), text);
    // after a name that does not convert, the next ampersand is looked at afresh
    EXPECT_EQ(converted("&nbsp&eacute;", 1), "&nbsp\x82");
    EXPECT_EQ(converted("&&lt;", 1), "&<");
    // a would-be name far longer than the candidate buffer, with a real one behind it
    const std::string longname = "&" + std::string(100, 'e') + ";";
    EXPECT_EQ(converted(longname + "&eacute;", 1), longname + "\x82");
}

TEST_F(EntityConversion, ModeOneConvertsAdjacentNamesButNotItsOwnOutput)
{
    use_xml_macros();
    EXPECT_EQ(converted("&auml;&ouml;&uuml;", 1), "\x84\x94\x81");
    EXPECT_EQ(converted("&amp;lt;", 1), "&lt;");
    EXPECT_EQ(converted("&amp;amp;", 1), "&amp;");
}

TEST_F(EntityConversion, ModeTwoWritesNamesIntoANewOrdinaryBlock)
{
    use_xml_macros();
    char *block = allocate_string("a<b");
    ASSERT_NE(block, nullptr);
    unsigned long a0, l0, a1, l1;
    unsigned long long t;
    get_allocate_statistics(&a0, &l0, &t);
    convert_html_accents(&block, 2);
    get_allocate_statistics(&a1, &l1, &t);
    EXPECT_EQ(std::string(block), "a&lt;b");
    EXPECT_EQ(block_size(block), 7u);
    EXPECT_EQ((static_cast<const mem_header *>(static_cast<void *>(block)) - 1)->secure, 0);
    EXPECT_EQ(a1 - a0, 1u);
    EXPECT_EQ(l1 - l0, 1u) << "the old text is released";
    liberate(block);

    EXPECT_EQ(converted("&amp;", 2), "&amp;amp;");
    EXPECT_EQ(converted("\x82t\x82", 2), "&eacute;t&eacute;");
}

TEST_F(EntityConversion, ModeTwoWithNothingToConvertObtainsNoBlock)
{
    use_xml_macros();
    char *block = allocate_string("plain text; no names");
    ASSERT_NE(block, nullptr);
    char *const before = block;
    unsigned long a0, l0, a1, l1;
    unsigned long long t;
    get_allocate_statistics(&a0, &l0, &t);
    convert_html_accents(&block, 2);
    get_allocate_statistics(&a1, &l1, &t);
    EXPECT_EQ(block, before);
    EXPECT_EQ(a1, a0);
    EXPECT_EQ(l1, l0);
    liberate(block);
}

TEST_F(EntityConversion, NullEmptyAndOtherModesChangeNothing)
{
    char *none = nullptr;
    convert_html_accents(&none, 1);
    convert_html_accents(&none, 2);
    EXPECT_EQ(none, nullptr);
    use_xml_macros();
    EXPECT_EQ(converted("", 2), "");
    for (int mode : {0, 3, -1})
        EXPECT_EQ(converted("&lt;\x82", mode), "&lt;\x82");
}

// At the XML extent mode 1 undoes mode 2 for any text, names of its own included,
// since mode 2 writes their ampersands as "&amp;".
TEST_F(EntityConversion, ModeOneUndoesModeTwoAtTheXmlExtent)
{
    use_xml_macros();
    std::vector<std::string> texts = {"caf\x82 &eacute; &amp;lt; <a href=\"x\">&</a>", "&&&;;;", "\x84\x94\x81"};
    std::mt19937 rng(4242);
    constexpr std::string_view pieces[] = {"&", ";", "amp", "lt", "quot", "eacute", "<", ">", "\"", "x"};
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        const bool bytes = i % 2 == 0;
        for (std::size_t n = rng() % 40; n > 0; --n) {
            if (bytes) text += static_cast<char>(1 + rng() % 255);
            else text += pieces[rng() % std::size(pieces)];
        }
        texts.push_back(text);
    }
    for (const std::string &text : texts) {
        char *block = allocate_string(text.c_str());
        ASSERT_NE(block, nullptr);
        convert_html_accents(&block, 2);
        convert_html_accents(&block, 1);
        EXPECT_EQ(std::string(block), text);
        liberate(block);
    }
}
