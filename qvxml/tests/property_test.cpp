// Each property of the library over every stored input (test_support.h).
#include "test_support.h"

TEST(Properties, HoldOverStoredInputs)
{
    for (const fs::path &f : stored_inputs()) {
        const std::string bytes = read_file(f);
        for (const auto check :
             {check_reader_agreement, check_serialise_round_trip, check_memory_input,
              check_position_agreement, check_stream_agreement, check_entity_round_trip,
              check_quote_substitution, check_cxx_interface})
            EXPECT_EQ(check(bytes), "") << f;
    }
}

// Markup read whole from inside content (a section, a comment, a CRLF line end) may take
// in the next input block: with it at every place around the end of the first block,
// after many small elements so that the reader takes them in one stretch, the reader
// still agrees with the reference and the loads find the text and the element after it.
TEST(Properties, HoldWhereMarkupCrossesABlock)
{
    const struct {
        std::string_view markup, text; // the text it leaves in <a>
    } kinds[] = {{"<![CDATA[x<y]]>", "x&lt;y"}, {"<!-- c -->", ""}, {"\r\n  ", ""}};
    for (const auto &k : kinds) {
        for (std::size_t before = 1; before <= 16; ++before) {
            // the markup starts `before` bytes short of the end of the first block
            std::string input = "<r>\n<i>";
            while (input.size() + 9 + 7 + 3 < 65536 - before)
                input += "<c>ab</c>";
            input += "<d>" + std::string(65536 - before - input.size() - 7 - 3, 'x') + "</d><a>";
            input += std::string(k.markup) + "</a>\r\n  <b>t</b></i>\n</r>\n";
            for (const auto check :
                 {check_reader_agreement, check_position_agreement, check_stream_agreement})
                ASSERT_EQ(check(input), "") << k.markup << " at " << before;
            const owned_tree tree{document_parse_buffer(input.data(), input.size(), "", nullptr)};
            ASSERT_TRUE(tree);
            const xml_element *a = document_element(document_element(tree.get(), "i"), "a");
            ASSERT_TRUE(a && a->next) << k.markup << " at " << before;
            EXPECT_STREQ(a->value ? a->value : "", k.text.data()) << k.markup << " at " << before;
            EXPECT_STREQ(a->next->value, "t") << k.markup << " at " << before;
        }
    }
}
