// The writer calls (document.h) against the tree printer: over every stored input, a
// tree written in the pieces a streamed load writes (the root's start, each child
// whole at the next level, the root's end) gives document_show_element's bytes at a
// level above 0; and a writer's stopping status ends the writing.
#include "test_support.h"

namespace
{

int gather(void *text, const char *bytes, std::size_t n)
{
    static_cast<std::string *>(text)->append(bytes, n);
    return 0;
}

int refuse(void *calls, const char *, std::size_t)
{
    ++*static_cast<int *>(calls);
    return 9;
}

using Writer = TrackedTest;

} // namespace

TEST_F(Writer, PiecesOfATreeGiveItsIndentedText)
{
    constexpr int level = 2;
    for (const fs::path &f : stored_inputs()) {
        const owned_tree root{document_parse_file(f.c_str())};
        std::string text;
        const document_writer to_text{.context = &text, .write = gather};
        int st = 0;
        if (root && root->first) {
            st |= document_write_start(&to_text, root.get(), level);
            for (const xml_element *c = root->first; c; c = c->next)
                st |= document_write_element(&to_text, c, level + 1);
            st |= document_write_end(&to_text, root.get(), level);
        } else {
            st |= document_write_element(&to_text, root.get(), level);
        }
        const std::string shown =
            captured_stdout([&] { document_show_element(root.get(), level); });
        EXPECT_EQ(st, 0) << f;
        EXPECT_EQ(first_difference(text, shown), "") << f;
    }
}

TEST_F(Writer, StopsAtTheWritersStatus)
{
    const owned_tree e{document_add_element(nullptr, "a")};
    const std::string long_text(40000, 'x'); // more than the writers gather at once
    ASSERT_EQ(extend_value(&e->value, long_text.c_str(), int(long_text.size())), 0);
    int calls = 0;
    const document_writer stop{.context = &calls, .write = refuse};
    EXPECT_EQ(document_write_element(&stop, e.get(), 0), 9);
    EXPECT_EQ(document_write_end(&stop, e.get(), 0), 9);
    EXPECT_EQ(calls, 2); // one call each, nothing after the refusal
    EXPECT_EQ(document_write_start(&stop, nullptr, 0), 0);
    EXPECT_EQ(document_write_start(nullptr, e.get(), 0), status_missing);
    const document_writer none{.context = nullptr, .write = nullptr};
    EXPECT_EQ(document_write_end(&none, e.get(), 0), status_missing);
    EXPECT_EQ(calls, 2);
}
