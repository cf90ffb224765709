#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

// The indented text of the chain from e; both writers must produce the same bytes.
std::string indented(const xml_element *e, int level = 0)
{
    stdout_capture out;
    document_show_element(e, level);
    std::string shown = out.take();
    EXPECT_EQ(shown, written([&](FILE *h) { document_serialise_element(h, e, level); }));
    return shown;
}

// A stream that keeps only the number of bytes written and the last 16 of them.
struct byte_counter {
    unsigned long long total = 0;
    std::string tail;
    static ssize_t write(void *cookie, const char *buf, std::size_t size)
    {
        auto *self = static_cast<byte_counter *>(cookie);
        self->total += size;
        self->tail.append(buf + (size > 16 ? size - 16 : 0), std::min<std::size_t>(size, 16));
        if (self->tail.size() > 16) self->tail.erase(0, self->tail.size() - 16);
        return static_cast<ssize_t>(size);
    }
};

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";

} // namespace

class DocumentTest : public InTempDir {
protected:
    owned_tree load(const std::string &xml)
    {
        write_file("in.xml", xml);
        return owned_tree{document_parse_file("in.xml")};
    }
};

// ---------------------------------------------------------------------------
// Loading

class DocumentLoad : public DocumentTest {};

TEST_F(DocumentLoad, WorkedExample)
{
    owned_tree root = load("<artist id=\"7\">\n  <name>Ann &amp; Bo</name>\n</artist>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name, "artist");
    EXPECT_EQ(root->value, nullptr); // the line feeds and spaces around name are dropped
    ASSERT_NE(root->firstatb, nullptr);
    EXPECT_EQ(root->firstatb, root->lastatb);
    EXPECT_STREQ(root->firstatb->name, "id");
    EXPECT_STREQ(root->firstatb->value, "\"7\"");
    EXPECT_EQ(child_names(root.get()), "name");
    EXPECT_STREQ(root->first->value, "Ann &amp; Bo");
    EXPECT_EQ(root->first->firstatb, nullptr);
    EXPECT_EQ(root->first->first, nullptr);
}

// What a load gives: the element text rules, and which top-level element is the root
// (the last that closed; earlier ones, and whatever a failure left half built, are
// released, as the fixture's balance check shows).
TEST_F(DocumentLoad, TextRulesAndTheRoot)
{
    struct load_case {
        std::string xml;
        const char *root; // "name=text", or nullptr when nothing loads
    };
    const load_case cases[] = {
        {"<a/>", "a=(none)"},
        {"<a>\n    </a>", "a=(none)"},
        {"<a>\n  <b/>\n</a>", "a=(none)"}, // white space around children only
        {"<a>   x\n</a>", "a=x\n"},        // leading white space dropped, trailing kept
        {"<a>\t x  y \t</a>", "a=x  y \t"},
        {"<a> -x</a>", "a=-x"},
        {"<a>,x</a>", "a=,x"}, // punctuation starts the text
        {"<a>one<b>two</b>three</a>", "a=onethree"},
        {"<a>one\n  <b/>\n</a>", "a=one\n  \n"}, // once begun, white space between children counts
        {"<a>x &amp; y</a>", "a=x &amp; y"},     // entity references stay as text
        {"<?xml version=\"1.0\"?>\n<!-- note -->\n<a>x<!-- c -->y</a>", "a=xy"},
        {"text outside <a>in</a> ignored", "a=in"},
        {"<a>1<x/></a>\n<b k=\"2\">2</b>", "b=2"},
        {"<a/><b/><c/>", "c=(none)"},
        {"<a>x</a><b><c k=\"1\">y</c>", "a=x"},       // the second element never closes
        {"<a>x</a><b><c k=\"1\">y<<</c></b>", "a=x"}, // syntax error inside the second
        {"<a>x</a></b>", "a=x"},                      // end tag with nothing open
        {"<a>x</a><b>" + std::string(8192, 'y'), "a=x"},
        {"", nullptr},
        {"  \n\t ", nullptr},
        {"<?xml version=\"1.0\"?><!-- only a comment -->", nullptr},
        {"<a><b>text</b>more", nullptr},        // the root never closes
        {"<a x=\"1\"", nullptr},                // ends inside the first start tag
        {"<a><b k=\"v\">x<<</b></a>", nullptr}, // syntax error before any top-level element closed
        {"<a><b k></b></a>", nullptr},          // valueless attribute before ">"
        {"<a>" + std::string(8192, 'x') + "</a>", nullptr},
    };
    for (const load_case &c : cases) {
        SCOPED_TRACE(c.xml.substr(0, 40));
        owned_tree root = load(c.xml);
        if (!c.root) {
            EXPECT_EQ(root, nullptr);
            continue;
        }
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(std::string(root->name) + "=" + (root->value ? root->value : "(none)"), c.root);
        EXPECT_EQ(root->previous, nullptr);
        EXPECT_EQ(root->next, nullptr);
        EXPECT_EQ(root->parent, nullptr);
        // the text is handed over in a block of exactly its size, as extend_value makes it
        EXPECT_TRUE(!root->value || header_of(root->value)->size == std::strlen(root->value) + 1);
    }
    EXPECT_EQ(document_parse_file("no-such-file.xml"), nullptr);
}

TEST_F(DocumentLoad, AttributeValuesKeepTheirQuotesInSecureBlocks)
{
    owned_tree root = load("<a k='v' n=\"w\" b=bare q=\"say &quot;hi&quot;\" e=\"\"/>");
    ASSERT_NE(root, nullptr);
    std::vector<std::pair<std::string, std::string>> seen;
    for (const xml_atribut *a = root->firstatb; a; a = a->next) {
        seen.emplace_back(a->name, a->value);
        EXPECT_EQ(header_of(a->value)->secure, 1) << a->name;
        EXPECT_EQ(header_of(a->name)->secure, 0) << a->name;
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"k", "'v'"}, {"n", "\"w\""}, {"b", "bare"}, {"q", "\"say \"hi\"\""}, {"e", "\"\""}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(root->lastatb->previous->previous->previous->previous, root->firstatb);
}

// ---------------------------------------------------------------------------
// Queries

class DocumentQuery : public DocumentTest {};

TEST_F(DocumentQuery, ElementLooksAtItselfAndItsChildrenOnly)
{
    owned_tree root = load("<r x='1' y='2' x='3'><x><t/></x><y/><y k='2'/></r>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(document_element(root.get(), "r"), root.get());
    EXPECT_EQ(document_element(root.get(), "x"), root->first);
    EXPECT_EQ(document_element(root.get(), "y"), root->first->next); // the first of two
    EXPECT_EQ(document_element(root.get(), "t"), nullptr);           // a grandchild
    EXPECT_EQ(document_element(root.get(), "R"), nullptr);           // names are case-sensitive
    EXPECT_EQ(document_element(nullptr, "r"), nullptr);
    owned_tree same = load("<x><x/></x>");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(document_element(same.get(), "x"), same.get());

    EXPECT_EQ(document_atribut(root.get(), "x"), root->firstatb);
    EXPECT_EQ(document_atribut(root.get(), "y"), root->firstatb->next);
    EXPECT_EQ(document_atribut(root.get(), "z"), nullptr);
    EXPECT_EQ(document_atribut(nullptr, "x"), nullptr);
}

TEST_F(DocumentQuery, NestedSearchTestsAllChildrenBeforeDescendingChildByChild)
{
    const std::pair<const char *, const char *> cases[] = {
        // deep in the first child's subtree comes before shallow under a later child
        {"<root><A><C><t>deep</t></C></A><B><t>shallow</t></B></root>", "deep"},
        // a direct child beats anything inside an earlier sibling
        {"<root><A><t>inside</t></A><t>direct</t></root>", "direct"},
        // and so at every level: A's own child t before the one inside A's child C
        {"<root><A><C><t>1</t></C><t>2</t></A></root>", "2"},
    };
    for (const auto &[xml, found] : cases) {
        owned_tree root = load(xml);
        const xml_element *t = nested_document_element(root.get(), "t");
        ASSERT_NE(t, nullptr) << xml;
        EXPECT_STREQ(t->value, found);
        EXPECT_EQ(nested_document_element(root.get(), "none"), nullptr);
    }
    EXPECT_EQ(nested_document_element(nullptr, "t"), nullptr);
}

class AtributValues : public TrackedTest {};

TEST_F(AtributValues, NumbersAreHexadecimalAfterLowerCaseXOrDecimal)
{
    const std::pair<const char *, int> cases[] = {
        {"0x1F", 31}, {"0x1f", 31}, {"0xff", 255}, {"0x1g", 1}, {"0x", 0}, {"0xFFFFFFFF", -1},
        {"0x80000000", INT_MIN}, {"0x123456789", 0x23456789}, // the ninth digit shifts the first out
        {"0x10\"", 16}, {"\"42\"", 42}, {"'-7'", -7}, {"0X10", 0}, {"\"0x10\"", 0}, {"12abc", 12},
        {" +5", 5}, {"\"\"", 0}, {"", 0},
        // out of range: saturated, never undefined
        {"\"99999999999999999999999\"", INT_MAX}, {"-99999999999999999999999", INT_MIN},
    };
    owned_tree e{document_add_element(nullptr, "e")};
    for (const auto &[value, number] : cases)
        EXPECT_EQ(document_atribut_value(document_add_atribut(e.get(), "k", value)), number) << value;
    xml_atribut no_value{};
    EXPECT_EQ(document_atribut_value(&no_value), 0);
}

TEST_F(AtributValues, StringsLoseTheirEnclosingQuotes)
{
    const std::pair<const char *, const char *> cases[] = {
        {"\"abc\"", "abc"}, {"'abc'", "abc"}, {"abc", "abc"}, {"\"\"", ""}, {"\"abc", "ab"},
        {"\"", ""},         {"'", ""},        {"", ""},       {"'a\"", "a"}, {"\"say \"hi\"\"", "say \"hi\""},
    };
    owned_tree e{document_add_element(nullptr, "e")};
    for (const auto &[stored, text] : cases) {
        SCOPED_TRACE(stored);
        xml_atribut *a = document_add_atribut(e.get(), "k", stored);
        owned_text plain{document_atribut_string(a)};
        owned_text secret{document_atribut_password(a)};
        ASSERT_NE(plain, nullptr);
        ASSERT_NE(secret, nullptr);
        EXPECT_STREQ(plain.get(), text);
        EXPECT_STREQ(secret.get(), text);
        EXPECT_EQ(header_of(plain.get())->secure, 0);
        EXPECT_EQ(header_of(secret.get())->secure, 1);
        EXPECT_NE(plain.get(), a->value); // always a copy
    }
    xml_atribut no_value{};
    EXPECT_EQ(document_atribut_string(&no_value), nullptr);
    EXPECT_EQ(document_atribut_password(&no_value), nullptr);
}

// ---------------------------------------------------------------------------
// Editing: child_names checks every link after each step.

class DocumentEdit : public TrackedTest {};

TEST_F(DocumentEdit, ListsStayWholeAfterEachEdit)
{
    owned_tree p{document_add_element(nullptr, "p")};
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parent, nullptr);
    xml_element *b = document_prefix_element(p.get(), "b");
    EXPECT_EQ(child_names(p.get()), "b");
    EXPECT_EQ(header_of(b->name)->secure, 0);
    document_prefix_element(p.get(), "a");
    document_add_element(p.get(), "c");
    EXPECT_EQ(child_names(p.get()), "abc");
    EXPECT_EQ(document_add_element(p.get(), nullptr), nullptr);
    EXPECT_EQ(document_prefix_element(p.get(), nullptr), nullptr);
    EXPECT_EQ(child_names(p.get()), "abc");

    document_append_element(p->last, document_add_element(nullptr, "z"));
    EXPECT_EQ(child_names(p.get()), "abcz");
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
    xml_element *c1 = document_add_element(nullptr, "1");
    xml_element *c2 = document_add_element(nullptr, "2");
    c1->next = c2;
    c2->previous = c1;
    document_append_elements(p->first, c1);
    EXPECT_EQ(child_names(p.get()), "a12mbczxy");
    EXPECT_EQ(document_append_elements(p->first, nullptr), 0);
    EXPECT_EQ(child_names(p.get()), "a12mbczxy");

    EXPECT_EQ(document_remove_element(p->first), 0);
    document_remove_element(p->first->next); // in the middle
    document_remove_element(p->last);
    EXPECT_EQ(child_names(p.get()), "1mbczx");
    while (p->first) document_remove_element(p->first);
    EXPECT_EQ(child_names(p.get()), "");

    xml_element *only = document_add_element(p.get(), "a"); // its subtree goes with it
    document_add_element(only, "sub");
    document_remove_element(only);
    EXPECT_EQ(child_names(p.get()), "");

    // attributes are stored exactly as given, in ordinary blocks
    xml_atribut *a = document_add_atribut(p.get(), "k", "\"v&quot;\"");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->value, "\"v&quot;\"");
    EXPECT_EQ(header_of(a->value)->secure, 0);
    EXPECT_EQ(document_add_atribut(p.get(), "n", nullptr), nullptr);
    EXPECT_EQ(document_add_atribut(p.get(), nullptr, "v"), nullptr);
    EXPECT_EQ(p->firstatb, a);
    EXPECT_EQ(p->lastatb, a);
    EXPECT_EQ(a->next, nullptr);
    liberate_atribut(document_add_atribut(nullptr, "k", "v")); // a loose attribute
}

// ---------------------------------------------------------------------------
// Output

class DocumentOutput : public DocumentTest {};

TEST_F(DocumentOutput, SerialiseFileWorkedExample)
{
    owned_tree root = load("<artist id=\"7\"><name>Ann</name></artist>");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(document_serialise_file(root.get(), "out.xml"), 0);
    const std::string body = "<artist\n\tid=\"7\">\n\t<name>\n\tAnn\n\t</name>\n</artist>\n";
    EXPECT_EQ(read_file("out.xml"), declaration + body);
    EXPECT_EQ(indented(root.get()), body);
}

TEST_F(DocumentOutput, LayoutOfElementsAttributesAndText)
{
    const std::tuple<const char *, int, const char *> cases[] = {
        {"<a/>", 0, "<a/>\n"},
        {"<a/>", 2, "\t\t<a/>\n"},
        {"<a x=1 y=2></a>", 0, "<a\n\tx=\"1\"\n\ty=\"2\"/>\n"},
        {"<a>hi</a>", 0, "<a>\nhi\n</a>\n"},
        {"<a>hi</a>", 1, "\t<a>\n\thi\n\t</a>\n"},
        {"<p>one<c/>two</p>", 0, "<p>\n\t<c/>\nonetwo\n</p>\n"}, // text after the children, at the element's depth
        {"<r><a k=\"1\">x &amp; y\n</a></r>", 0, "<r>\n\t<a\n\t\tk=\"1\">\n\tx &amp; y\n\n\t</a>\n</r>\n"},
    };
    for (const auto &[xml, level, text] : cases) EXPECT_EQ(indented(load(xml).get(), level), text) << xml;
    owned_tree empty{document_add_element(nullptr, "a")};
    empty->value = allocate_string("");
    EXPECT_EQ(indented(empty.get()), "<a>\n\n</a>\n");
    EXPECT_EQ(indented(nullptr), "");
}

TEST_F(DocumentOutput, AttributeValuesGetTheWritersOwnQuotes)
{
    owned_tree a = load("<a d=\"1\" s='v' q=\"say &quot;hi&quot;\" e=\"\"/>");
    ASSERT_NE(a, nullptr);
    document_add_atribut(a.get(), "bare", "v");
    document_add_atribut(a.get(), "odd", "x\"y");
    document_add_atribut(a.get(), "lone", "\"");
    xml_atribut *none = allocate_atribut();
    none->name = allocate_string("k");
    add_atribut(a.get(), none);
    EXPECT_EQ(indented(a.get()), "<a\n\td=\"1\"\n\ts=\"'v'\"\n\tq=\"say &quot;hi&quot;\"\n\te=\"\"\n"
                                 "\tbare=\"v\"\n\todd=\"x&quot;y\"\n\tlone=\"&quot;\"\n\tk=\"\"/>\n");
}

// Quotation marks restored from "&quot;" survive a serialise and a second load.
TEST_F(DocumentOutput, SerialiseThenLoadGivesTheSameAttributeValues)
{
    owned_tree first = load("<a k=\"say &quot;hi&quot;\" m=\"a&quot;b\" n=\"&quot;\" p=\"plain\" e=\"\">"
                            "<b s=\"it is\" t=\"&quot;&quot;\"/></a>");
    ASSERT_NE(first, nullptr);
    document_add_atribut(first.get(), "added", "he said \"no");
    ASSERT_EQ(document_serialise_file(first.get(), "out.xml"), 0);
    owned_tree second{document_parse_file("out.xml")};
    ASSERT_NE(second, nullptr);

    auto values = [](const xml_element *e) {
        std::vector<std::string> v;
        for (const xml_atribut *a = e->firstatb; a; a = a->next)
            v.push_back(std::string(a->name) + "=" + owned_text{document_atribut_string(a)}.get());
        return v;
    };
    EXPECT_EQ(values(second.get()), values(first.get()));
    EXPECT_EQ(values(second->first), values(first->first));
    EXPECT_STREQ(second->firstatb->value, "\"say \"hi\"\"");
    ASSERT_EQ(document_serialise_file(second.get(), "again.xml"), 0);
    EXPECT_EQ(read_file("again.xml"), read_file("out.xml"));
}

TEST_F(DocumentOutput, ChainFromTheGivenElementIsWrittenWhole)
{
    owned_tree p{document_add_element(nullptr, "p")};
    for (const char *n : {"a", "b", "c"}) document_add_element(p.get(), n);
    document_add_element(p->first->next, "d");
    EXPECT_EQ(indented(p->first->next, 1), "\t<b>\n\t\t<d/>\n\t</b>\n\t<c/>\n");
    ASSERT_EQ(document_serialise_file(p->first, "chain.xml"), 0);
    EXPECT_EQ(read_file("chain.xml"), declaration + "<a/>\n<b>\n\t<d/>\n</b>\n<c/>\n");
}

TEST_F(DocumentOutput, SerialiseFileEdges)
{
    owned_tree a{document_add_element(nullptr, "a")};
    EXPECT_EQ(document_serialise_file(a.get(), "missing-dir/out.xml"), status_cannot_create);
    EXPECT_FALSE(std::filesystem::exists("missing-dir"));
    ASSERT_EQ(document_serialise_file(nullptr, "empty.xml"), 0);
    EXPECT_EQ(read_file("empty.xml"), declaration);
    write_file("old.xml", std::string(1000, 'x'));
    ASSERT_EQ(document_serialise_file(a.get(), "old.xml"), 0);
    EXPECT_EQ(read_file("old.xml"), declaration + "<a/>\n");
}

// ---------------------------------------------------------------------------
// Scale: depth and length that a quadratic or recursive implementation cannot take.
// Figures are printed for information; nothing here is timed. The sanitizer build
// runs the file tests at a quarter of the size.

class DocumentScale : public DocumentTest {};

#if defined(__SANITIZE_ADDRESS__)
constexpr long scale = 4;
#else
constexpr long scale = 1;
#endif

TEST_F(DocumentScale, MillionDeepFileLoadsSearchesPrintsAndReleases)
{
    constexpr long depth = 1000000 / scale; // even a quarter is far beyond what recursion survives
    {
        std::string xml;
        xml.reserve(static_cast<std::size_t>(depth) * 7 + 16);
        for (long i = 1; i < depth; ++i) xml += "<e>";
        xml += "<t>x</t>";
        for (long i = 1; i < depth; ++i) xml += "</e>";
        write_file("deep.xml", xml);
    }
    const auto start = std::chrono::steady_clock::now();
    owned_tree root{document_parse_file("deep.xml")};
    const double load_time = seconds_since(start);
    ASSERT_NE(root, nullptr);

    const xml_element *t = nested_document_element(root.get(), "t");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->value, "x");
    long levels = 0;
    for (const xml_element *e = t; e->parent; e = e->parent) ++levels;
    EXPECT_EQ(levels, depth - 1);

    stdout_capture out;
    show_element(root.get());
    const std::string compact = out.take();
    // "<e>" and "</e>\n" per outer element, "<t>x</t>\n" innermost
    EXPECT_EQ(compact.size(), static_cast<std::size_t>(8 * (depth - 1) + 9));
    EXPECT_EQ(compact.substr(0, 9), "<e><e><e>");
    EXPECT_EQ(compact.substr(static_cast<std::size_t>(3 * (depth - 2)), 17), "<e><t>x</t>\n</e>\n");
    EXPECT_EQ(compact.substr(compact.size() - 10), "</e>\n</e>\n");
    std::printf("[ figures  ] %ld-deep file loaded in %.3f s\n", depth, load_time);
}

TEST_F(DocumentScale, HundredThousandDeepIndentedPrint)
{
    constexpr unsigned long long depth = 100000;
    owned_tree root{document_add_element(nullptr, "e")};
    xml_element *cur = root.get();
    for (unsigned long long i = 2; i < depth; ++i) cur = document_add_element(cur, "e");
    document_add_element(cur, "t");

    byte_counter counter;
    FILE *h = fopencookie(&counter, "w", {nullptr, &byte_counter::write, nullptr, nullptr});
    ASSERT_NE(h, nullptr);
    std::vector<char> buffer(1 << 20);
    setvbuf(h, buffer.data(), _IOFBF, buffer.size());
    constexpr int level = 1;
    document_serialise_element(h, root.get(), level);
    std::fclose(h);

    // outer element at depth d: d tabs "<e>\n" and d tabs "</e>\n"; the leaf at depth
    // depth - 1: tabs and "<t/>\n"; each of the 2 * depth - 1 lines gets level tabs more
    EXPECT_EQ(counter.total, (depth - 1) * (depth + 8) + 5 + level * (2 * depth - 1));
    EXPECT_EQ(counter.tail, "e>\n\t\t</e>\n\t</e>\n");
}

TEST_F(DocumentScale, TwentyMegabyteTextLoadsInLinearTime)
{
    constexpr std::size_t size = (20u << 20) / scale;
    std::string text;
    text.reserve(size + 16);
    const char *words[] = {"a", "to", "the", "word", "short", "&amp;", "x,y", "end.\n"};
    for (unsigned i = 0; text.size() < size; ++i) (text += words[i % 8]) += ' ';
    write_file("long.xml", "<a>" + text + "</a>");

    const auto start = std::chrono::steady_clock::now();
    owned_tree root{document_parse_file("long.xml")};
    const double load_time = seconds_since(start);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->value, nullptr);
    EXPECT_TRUE(text == root->value);
    EXPECT_EQ(header_of(root->value)->size, text.size() + 1);
    std::printf("[ figures  ] %zu-byte text element loaded in %.3f s\n", text.size(), load_time);
}
