// The writer calls (document.h) where the converter's echo property does not reach
// them: over every stored input, a tree written in pieces (the root's start, each child
// whole, the root's end) at a level above 0 gives document_show_element's bytes; and a
// writer's stopping status ends the writing.
#include "test_support.h"

namespace
{

int gather(void *text, const char *bytes, std::size_t n)
{
    return static_cast<std::string *>(text)->append(bytes, n), 0;
}

int refuse(void *calls, const char *, std::size_t)
{
    return ++*static_cast<int *>(calls), 9;
}

using Writer = TrackedTest;

} // namespace

TEST_F(Writer, PiecesOfATreeGiveItsIndentedText)
{
    for (const fs::path &f : stored_inputs()) {
        const owned_tree root{document_parse_file(f.c_str())};
        std::string text;
        const document_writer to_text{.context = &text, .write = gather};
        const bool parts = root && root->first;
        int st = parts ? document_write_start(&to_text, root.get(), 2) : 0;
        for (const xml_element *c = parts ? root->first : root.get(); c; c = c->next)
            st |= document_write_element(&to_text, c, parts ? 3 : 2);
        st |= parts ? document_write_end(&to_text, root.get(), 2) : 0;
        EXPECT_EQ(st, 0) << f;
        EXPECT_EQ(
            first_difference(text, captured_stdout([&] { document_show_element(root.get(), 2); })),
            "")
            << f;
    }
}

TEST_F(Writer, StopsAtTheWritersStatus)
{
    const owned_tree e{document_add_element(nullptr, "a")};
    const std::string long_text(40000, 'x'); // more than the writers gather at once
    ASSERT_EQ(extend_value(&e->value, long_text.c_str(), int(long_text.size())), 0);
    int calls = 0;
    const document_writer stop{.context = &calls, .write = refuse}, none{nullptr, nullptr};
    EXPECT_EQ(document_write_element(&stop, e.get(), 0), 9);
    EXPECT_EQ(document_write_end(&stop, e.get(), 0), 9);
    EXPECT_EQ(document_write_start(&stop, nullptr, 0), 0);
    EXPECT_EQ(document_write_start(nullptr, e.get(), 0), status_missing);
    EXPECT_EQ(document_write_end(&none, e.get(), 0), status_missing);
    EXPECT_EQ(calls, 2); // one call each, nothing after the refusal
}
