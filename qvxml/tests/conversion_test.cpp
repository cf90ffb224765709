// Entity conversion and quotation mark substitution. Their cases are data, one per
// line with tab-separated fields, "(none)" standing for an absent argument:
// data/entities.tsv: mode, extent (xml or html), text, converted text;
// data/substitutions.tsv: buffer size, replace, with, result value, buffer text, input.
#include <cstring>
#include <sstream>
#include <tuple>

#include "test_support.h"

namespace
{

std::vector<std::vector<std::string>> rows(const char *name, std::size_t fields)
{
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(read_file(std::string(QVXML_TEST_DATA) + "/" + name));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream row(line);
        out.emplace_back();
        for (std::string field; std::getline(row, field, '\t');)
            out.back().push_back(field);
        out.back().resize(fields); // a last field left empty
    }
    EXPECT_FALSE(out.empty()) << name;
    return out;
}
const char *given(const std::string &field)
{
    return field == "(none)" ? nullptr : field.c_str();
}

// Every test starts and must end at the HTML extent, where the setting rests between
// conversions; a test that switched and failed halfway is put back.
class Conversion : public TrackedTest
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
};

TEST_F(Conversion, EntityDataCases)
{
    for (const auto &c : rows("entities.tsv", 4)) {
        if (c[1] == "xml") use_xml_macros();
        char *block = allocate_string(c[2].c_str());
        ASSERT_NE(block, nullptr);
        convert_html_accents(&block, std::stoi(c[0]));
        EXPECT_STREQ(block, c[3].c_str()) << c[2] << " in mode " << c[0] << " at " << c[1];
        liberate(block);
        use_html_macros();
    }
}

// Mode 1 shrinks the text in its own block; mode 2 writes a new ordinary block of the
// exact size and releases the old one, or obtains nothing when nothing converts.
TEST_F(Conversion, WhichBlockHoldsTheEntityResult)
{
    use_xml_macros();
    for (const auto &[text, mode, result] : {std::tuple{"caf&eacute;", 1, "caf\x82"},
                                             {"a<b", 2, "a&lt;b"},
                                             {"plain text; no names", 2, "plain text; no names"}}) {
        char *block = allocate_string(text);
        ASSERT_NE(block, nullptr);
        char *const before = block;
        const alloc_counts counts = counts_now();
        convert_html_accents(&block, mode);
        const alloc_counts after = counts_now();
        const bool new_block = std::strcmp(text, result) != 0 && mode == 2;
        EXPECT_STREQ(block, result);
        EXPECT_EQ(std::tuple(block != before, header_of(block)->size, header_of(block)->secure,
                             after.a - counts.a, after.l - counts.l),
                  std::tuple(new_block, std::strlen(new_block ? result : text) + 1, 0,
                             new_block ? 1ul : 0ul, new_block ? 1ul : 0ul))
            << text;
        liberate(block);
    }
}

// The result value: below buffersize when the whole text fits with its terminator,
// otherwise a size to grow to, at least two more.
TEST_F(Conversion, SubstitutionDataCases)
{
    for (const auto &c : rows("substitutions.tsv", 6)) {
        const int size = std::stoi(c[0]);
        std::vector<char> buf(static_cast<std::size_t>(size));
        EXPECT_EQ(
            translate_string_with_string(c[5].c_str(), buf.data(), size, given(c[1]), given(c[2])),
            std::stoul(c[3]))
            << c[5].substr(0, 20) << " in " << size;
        EXPECT_TRUE(!given(c[4]) || c[4] == buf.data()) << c[5].substr(0, 20);
    }
}

TEST_F(Conversion, AttributeWriterTurnsQuotationMarksIntoEntitiesInsideTheFormat)
{
    EXPECT_EQ(
        written([](FILE *h) { fprintf_xml_string_attribute(h, " v=\"%s\"", "it's <plain>"); }),
        " v=\"it's <plain>\"");
    // long values are written complete after growing, whatever the mix
    for (auto [plain, marks] : {std::pair{1017, 1}, {1018, 1}, {5000, 1}, {0, 300}, {0, 20000}}) {
        std::string value(static_cast<std::size_t>(plain), 'x'), text = value;
        for (int i = 0; i < marks; ++i)
            (value += '"'), (text += "&quot;");
        EXPECT_EQ(written([&](FILE *h) { fprintf_xml_string_attribute(h, "[%s]", value.c_str()); }),
                  "[" + text + "]");
    }
}

// Without a complete entity the value comes back as it is; else in a new secure block,
// the old one released.
TEST_F(Conversion, AttributeReaderTurnsEntitiesIntoQuotationMarks)
{
    for (const auto &[value, expected] : {std::pair{"&quot;", "\""},
                                          {"&quot;&quot;", "\"\""},
                                          {"a&quot;", "a\""},
                                          {"say &quot;hi&quot;!", "say \"hi\"!"},
                                          {"&quot no end", "&quot no end"}}) {
        char *block = allocate_string(value);
        ASSERT_NE(block, nullptr);
        const alloc_counts before = counts_now();
        owned_text result{unserialize_xml_string_attribute_value(block)};
        const alloc_counts after = counts_now();
        ASSERT_NE(result, nullptr);
        const bool converts = std::strcmp(value, expected) != 0;
        EXPECT_STREQ(result.get(), expected);
        EXPECT_EQ(
            std::tuple(result.get() != block, header_of(result.get())->secure, after.a - before.a,
                       after.l - before.l),
            std::tuple(converts, converts ? 1 : 0, converts ? 1ul : 0ul, converts ? 1ul : 0ul))
            << value;
    }
}

} // namespace
