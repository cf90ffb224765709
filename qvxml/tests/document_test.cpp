// The document tree: loads of data/load/<name>.xml against <name>.tree (the compact
// print of the root, then its indented print at level 1, or "(nothing loaded)"),
// queries, attribute values (data/atribut-values.txt), editing and writing files.

#include <sstream>

#include "test_support.h"

namespace
{

// The indented text of the chain from e; both writers must produce the same bytes.
std::string indented(const xml_element *e, int level = 0)
{
    stdout_capture out;
    document_show_element(e, level);
    std::string shown = out.take();
    EXPECT_EQ(shown, written([&](FILE *h) { document_serialise_element(h, e, level); }));
    return shown;
}
std::string compact(const xml_element *e)
{
    stdout_capture out;
    return show_element(e), out.take();
}

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";

class Document : public InTempDir
{
  protected:
    owned_tree load(const std::string &xml)
    {
        return write_file("in.xml", xml), owned_tree{document_parse_file("in.xml")};
    }
};

// The root is the last top-level element that closed; earlier ones, and whatever a
// failure left half built, are released, as the fixture's balance check shows.
TEST_F(Document, DataLoads)
{
    for (const auto &input : data_files("load", ".xml")) {
        SCOPED_TRACE(input.filename());
        owned_tree root{document_parse_file(input.c_str())};
        std::string dump = "(nothing loaded)\n";
        if (root) {
            dump = compact(root.get()) + indented(root.get(), 1);
            EXPECT_EQ(std::tuple(root->previous, root->next, root->parent),
                      std::tuple(nullptr, nullptr, nullptr));
            child_names(root.get());
            // text in a block of exactly its size; attribute values in secure blocks
            EXPECT_TRUE(!root->value ||
                        header_of(root->value)->size == std::strlen(root->value) + 1);
            for (const xml_atribut *a = root->firstatb; a; a = a->next)
                EXPECT_EQ(header_of(a->value)->secure - header_of(a->name)->secure, 1) << a->name;
        }
        EXPECT_EQ(dump, read_file(std::filesystem::path(input).replace_extension(".tree")));
    }
    EXPECT_EQ(document_parse_file("no-such-file.xml"), nullptr);
}

TEST_F(Document, ElementLooksAtItselfAndItsChildrenAndNestedSearchGoesByLevel)
{
    owned_tree root = load("<r x='1' y='2' x='3'><x><t/></x><y/><y k='2'/></r>");
    ASSERT_NE(root, nullptr);
    // the first of two; not a grandchild; names are case-sensitive
    EXPECT_EQ(std::tuple(document_element(root.get(), "r"), document_element(root.get(), "x"),
                         document_element(root.get(), "y"), document_element(root.get(), "t"),
                         document_element(root.get(), "R")),
              std::tuple(root.get(), root->first, root->first->next, nullptr, nullptr));
    EXPECT_EQ(std::tuple(document_atribut(root.get(), "x"), document_atribut(root.get(), "y"),
                         document_atribut(root.get(), "z")),
              std::tuple(root->firstatb, root->firstatb->next, nullptr));
    // all children of an element before any grandchild, and the first child's subtree
    // before a later child's
    for (const auto &[xml, found] :
         {std::pair{"<root><A><C><t>deep</t></C></A><B><t>shallow</t></B></root>", "deep"},
          std::pair{"<root><A><t>inside</t></A><t>direct</t></root>", "direct"},
          std::pair{"<root><A><C><t>1</t></C><t>2</t></A></root>", "2"}}) {
        owned_tree tree = load(xml);
        const xml_element *t = nested_document_element(tree.get(), "t");
        EXPECT_STREQ(t ? t->value : "(none)", found) << xml;
        EXPECT_EQ(nested_document_element(tree.get(), "none"), nullptr);
    }
    EXPECT_EQ(nested_document_element(nullptr, "t"), nullptr);
}

// Lines "number<TAB>stored<TAB>value" and "string<TAB>stored<TAB>text"; the strings come
// as copies, ordinary and secure.
TEST_F(Document, AtributNumbersAndStrings)
{
    owned_tree e{document_add_element(nullptr, "e")};
    std::istringstream rows(read_file(std::string(QVXML_TEST_DATA) + "/atribut-values.txt"));
    ASSERT_GT(rows.str().size(), 0u);
    for (std::string kind, stored, want; std::getline(rows, kind, '\t') &&
                                         std::getline(rows, stored, '\t') &&
                                         std::getline(rows, want);) {
        SCOPED_TRACE(stored);
        xml_atribut *a = document_add_atribut(e.get(), "k", stored.c_str());
        if (kind == "number") {
            EXPECT_EQ(document_atribut_value(a), std::stoi(want));
            continue;
        }
        owned_text plain{document_atribut_string(a)}, secret{document_atribut_password(a)};
        EXPECT_EQ(std::tuple(std::string(plain.get()), std::string(secret.get())),
                  std::tuple(want, want));
        EXPECT_EQ(header_of(secret.get())->secure - header_of(plain.get())->secure, 1);
        EXPECT_NE(plain.get(), a->value);
    }
}

// child_names checks every link after each step.
TEST_F(Document, ListsStayWholeAfterEachEdit)
{
    owned_tree p{document_add_element(nullptr, "p")};
    EXPECT_EQ(header_of(document_prefix_element(p.get(), "b")->name)->secure, 0);
    document_prefix_element(p.get(), "a");
    document_add_element(p.get(), "c");
    EXPECT_EQ(child_names(p.get()), "abc");
    document_append_element(p->last, document_add_element(nullptr, "z"));
    document_append_element(p->first, document_add_element(nullptr, "m"));
    EXPECT_EQ(child_names(p.get()), "ambcz");
    // a chain of two still pointing at another parent, after the last child
    owned_tree other{document_add_element(nullptr, "o")};
    document_add_element(other.get(), "x");
    document_add_element(other.get(), "y");
    xml_element *chain = other->first;
    other->first = other->last = nullptr;
    EXPECT_EQ(document_append_elements(p->last, chain), 0);
    EXPECT_EQ(child_names(p.get()), "ambczxy");
    // a loose chain in the middle: the elements that followed come after it
    xml_element *c1 = document_add_element(nullptr, "1"), *c2 = document_add_element(nullptr, "2");
    c1->next = c2;
    c2->previous = c1;
    document_append_elements(p->first, c1);
    EXPECT_EQ(child_names(p.get()), "a12mbczxy");
    EXPECT_EQ(document_remove_element(p->first), 0);
    document_remove_element(p->first->next); // in the middle
    document_remove_element(p->last);
    EXPECT_EQ(child_names(p.get()), "1mbczx");
    while (p->first)
        document_remove_element(p->first);
    document_add_element(document_add_element(p.get(), "a"), "sub"); // its subtree goes with it
    document_remove_element(p->first);
    EXPECT_EQ(child_names(p.get()), "");
    // attributes are stored exactly as given, in ordinary blocks
    xml_atribut *a = document_add_atribut(p.get(), "k", "\"v&quot;\"");
    EXPECT_STREQ(a->value, "\"v&quot;\"");
    EXPECT_EQ(std::tuple(header_of(a->value)->secure, p->firstatb, p->lastatb, a->next),
              std::tuple(0, a, a, nullptr));
}

TEST_F(Document, WritersQuoteValuesAndWriteTheChainFromTheGivenElement)
{
    owned_tree a = load("<a d=\"1\" q=\"say &quot;hi&quot;\" e=\"\"><b/></a>");
    document_add_atribut(a.get(), "odd", "x\"y");
    xml_atribut *none = allocate_atribut();
    none->name = allocate_string("k");
    add_atribut(a.get(), none);
    EXPECT_EQ(indented(a.get()), "<a\n\td=\"1\"\n\tq=\"say &quot;hi&quot;\"\n\te=\"\"\n"
                                 "\todd=\"x&quot;y\"\n\tk=\"\">\n\t<b/>\n</a>\n");
    // quotation marks restored from "&quot;" survive a write and a second load
    ASSERT_EQ(document_serialise_file(a.get(), "out.xml"), 0);
    owned_tree again{document_parse_file("out.xml")};
    auto texts = [](const xml_element *e) {
        std::string all;
        for (const xml_atribut *x = e->firstatb; x; x = x->next) {
            owned_text t{document_atribut_string(x)};
            all += std::string(x->name) + "=" + (t ? t.get() : "") + " ";
        }
        return all;
    };
    EXPECT_EQ(texts(again.get()), texts(a.get()));
    document_add_element(a->first, "d");
    document_add_element(a.get(), "c");
    EXPECT_EQ(indented(a->first, 1), "\t<b>\n\t\t<d/>\n\t</b>\n\t<c/>\n");
    ASSERT_EQ(document_serialise_file(a->first, "old.xml"), 0);
    EXPECT_EQ(read_file("old.xml"), declaration + "<b>\n\t<d/>\n</b>\n<c/>\n");
    EXPECT_EQ(document_serialise_file(a.get(), "missing-dir/out.xml"), status_cannot_create);
    ASSERT_EQ(document_serialise_file(nullptr, "old.xml"), 0); // replaced, not appended to
    EXPECT_EQ(read_file("old.xml"), declaration);
}

TEST_F(Document, MillionDeepFileLoadsSearchesAndPrintsWithoutRecursion)
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t depth = 250000; // still far beyond what recursion survives
#else
    constexpr std::size_t depth = 1000000;
#endif
    std::string xml;
    for (std::size_t i = 1; i < depth; ++i)
        xml += "<e>";
    xml += "<t>x</t>";
    for (std::size_t i = 1; i < depth; ++i)
        xml += "</e>";
    owned_tree root = load(xml);
    const xml_element *t = nested_document_element(root.get(), "t");
    ASSERT_NE(t, nullptr);
    std::size_t levels = 0;
    for (const xml_element *e = t; e->parent; e = e->parent)
        ++levels;
    EXPECT_EQ(levels, depth - 1);
    const std::string shown = compact(root.get()); // "<e>" and "</e>\n" per outer element
    EXPECT_EQ(shown.size(), 8 * (depth - 1) + 9);
    EXPECT_EQ(shown.substr(3 * (depth - 2), 17), "<e><t>x</t>\n</e>\n");
}

} // namespace
