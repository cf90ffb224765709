#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct tree_owner {
    void operator()(xml_element *e) const { document_drop(e); }
};
using owned_tree = std::unique_ptr<xml_element, tree_owner>;

struct text_owner {
    void operator()(char *s) const { liberate(s); }
};
using owned_text = std::unique_ptr<char, text_owner>;

const mem_header *header_of(const void *p) { return static_cast<const mem_header *>(p) - 1; }

// Children's names in order, walked forwards and (reversed back) backwards; both walks
// must agree with each other and every child must point back at the parent.
std::string child_names(const xml_element *parent)
{
    std::string forward, backward;
    for (const xml_element *c = parent->first; c; c = c->next) {
        forward += c->name;
        EXPECT_EQ(c->parent, parent) << c->name;
    }
    for (const xml_element *c = parent->last; c; c = c->previous) backward.insert(0, c->name);
    EXPECT_EQ(forward, backward) << "forward and backward walks differ";
    if (parent->first) {
        EXPECT_EQ(parent->first->previous, nullptr);
        EXPECT_EQ(parent->last->next, nullptr);
    } else {
        EXPECT_EQ(parent->last, nullptr);
    }
    return forward;
}

std::string serialised(const xml_element *e, int level)
{
    char *data = nullptr;
    std::size_t size = 0;
    FILE *h = open_memstream(&data, &size);
    document_serialise_element(h, e, level);
    std::fclose(h);
    std::string text(data, size);
    std::free(data);
    return text;
}

// The indented text of the chain from e; both writers must produce the same bytes.
std::string indented(const xml_element *e, int level = 0)
{
    stdout_capture out;
    document_show_element(e, level);
    std::string shown = out.take();
    EXPECT_EQ(shown, serialised(e, level)) << "standard output and stream writers differ";
    return shown;
}

// Sends standard output to a file while it lives, so that large output is not kept
// in memory.
class stdout_to_file {
public:
    explicit stdout_to_file(const char *path)
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    ~stdout_to_file()
    {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    stdout_to_file(const stdout_to_file &) = delete;
    stdout_to_file &operator=(const stdout_to_file &) = delete;

private:
    int saved_;
};

// A stream that keeps only the number of bytes written and the last few of them.
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
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->next, nullptr);
    EXPECT_EQ(root->previous, nullptr);
    EXPECT_EQ(root->value, nullptr); // the line feeds and spaces around name are dropped
    ASSERT_NE(root->firstatb, nullptr);
    EXPECT_EQ(root->firstatb, root->lastatb);
    EXPECT_STREQ(root->firstatb->name, "id");
    EXPECT_STREQ(root->firstatb->value, "\"7\"");

    EXPECT_EQ(child_names(root.get()), "name");
    const xml_element *name = root->first;
    EXPECT_STREQ(name->value, "Ann &amp; Bo");
    EXPECT_EQ(name->firstatb, nullptr);
    EXPECT_EQ(name->first, nullptr);
}

TEST_F(DocumentLoad, ElementTextRules)
{
    struct text_case {
        const char *xml;
        const char *value; // of the root; nullptr for none
    };
    const text_case cases[] = {
        {"<a/>", nullptr},
        {"<a>\n    </a>", nullptr},
        {"<a>\n  <b/>\n</a>", nullptr},            // white space around children only
        {"<a>   x\n</a>", "x\n"},                  // trailing white space is kept
        {"<a>\t x  y \t</a>", "x  y \t"},
        {"<a> -x</a>", "-x"},
        {"<a>,x</a>", ",x"},                       // punctuation starts the text
        {"<a>one<b>two</b>three</a>", "onethree"}, // children leave no trace in the text
        {"<a>one\n  <b/>\n</a>", "one\n  \n"},     // once begun, white space between children counts
        {"<a>x &amp; y</a>", "x &amp; y"},         // entity references stay as text
        {"<?xml version=\"1.0\"?>\n<!-- note -->\n<a>x<!-- c -->y</a>", "xy"},
        {"text outside <a>in</a> ignored", "in"},
    };
    for (const text_case &c : cases) {
        SCOPED_TRACE(c.xml);
        owned_tree root = load(c.xml);
        ASSERT_NE(root, nullptr);
        EXPECT_STREQ(root->name, "a");
        if (!c.value) {
            EXPECT_EQ(root->value, nullptr);
            continue;
        }
        ASSERT_NE(root->value, nullptr);
        EXPECT_STREQ(root->value, c.value);
        // the text is handed over in a block of exactly its size, as extend_value makes it
        EXPECT_EQ(header_of(root->value)->size, std::strlen(c.value) + 1);
    }
}

TEST_F(DocumentLoad, ChildTextIsKeptApartFromTheParents)
{
    owned_tree root = load("<a>one<b>two</b>three<c> </c></a>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(child_names(root.get()), "bc");
    EXPECT_STREQ(root->first->value, "two");
    EXPECT_EQ(root->last->value, nullptr);
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

TEST_F(DocumentLoad, LastTopLevelElementIsTheRoot)
{
    owned_tree root = load("<a>1<x/></a>\n<b k=\"2\">2</b>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name, "b");
    EXPECT_STREQ(root->value, "2");
    EXPECT_EQ(root->previous, nullptr); // the earlier tree is not linked to it (and was released)
    EXPECT_EQ(root->next, nullptr);

    owned_tree third = load("<a/><b/><c/>");
    ASSERT_NE(third, nullptr);
    EXPECT_STREQ(third->name, "c");
}

TEST_F(DocumentLoad, NothingLoadedGivesNull)
{
    EXPECT_EQ(document_parse_file("no-such-file.xml"), nullptr);
    const char *inputs[] = {
        "",
        "  \n\t ",
        "<?xml version=\"1.0\"?><!-- only a comment -->",
        "<a><b>text</b>more",   // the root never closes
        "<a x=\"1\"",           // ends inside the first start tag
        "<a><b k=\"v\">x<<</b></a>", // syntax error before any top-level element closed
        "<a><b k></b></a>",     // valueless attribute before ">"
    };
    for (const char *xml : inputs) {
        SCOPED_TRACE(xml);
        EXPECT_EQ(load(xml), nullptr);
    }
    EXPECT_EQ(load("<a>" + std::string(8192, 'x') + "</a>"), nullptr); // token too long
}

// A failure after a top-level element closed keeps that element; what the failed
// part built is released (the fixture checks the balance).
TEST_F(DocumentLoad, FailureAfterARootClosedReturnsThatRoot)
{
    const std::string inputs[] = {
        "<a>x</a><b><c k=\"1\">y</c>",       // second element never closes
        "<a>x</a><b><c k=\"1\">y<<</c></b>", // syntax error inside the second element
        "<a>x</a></b>",                      // end tag with nothing open
        "<a>x</a><b>" + std::string(8192, 'y'),
    };
    for (const std::string &xml : inputs) {
        SCOPED_TRACE(xml.substr(0, 40));
        owned_tree root = load(xml);
        ASSERT_NE(root, nullptr);
        EXPECT_STREQ(root->name, "a");
        EXPECT_STREQ(root->value, "x");
        EXPECT_EQ(root->next, nullptr);
    }
}

TEST_F(DocumentLoad, DropOfNullDoesNothing)
{
    EXPECT_EQ(document_drop(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Queries

class DocumentQuery : public DocumentTest {};

TEST_F(DocumentQuery, ElementLooksAtItselfAndItsChildrenOnly)
{
    owned_tree root = load("<r><x><t/></x><y/><y k='2'/></r>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(document_element(root.get(), "r"), root.get());
    EXPECT_EQ(document_element(root.get(), "x"), root->first);
    EXPECT_EQ(document_element(root.get(), "y"), root->first->next); // the first of two
    EXPECT_EQ(document_element(root.get(), "t"), nullptr);           // a grandchild
    EXPECT_EQ(nested_document_element(root.get(), "t"), root->first->first);
    EXPECT_EQ(document_element(root.get(), "R"), nullptr); // names are case-sensitive
    EXPECT_EQ(document_element(nullptr, "r"), nullptr);
    EXPECT_EQ(nested_document_element(nullptr, "r"), nullptr);
    EXPECT_EQ(nested_document_element(root.get(), "none"), nullptr);

    owned_tree same = load("<x><x/></x>");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(document_element(same.get(), "x"), same.get());
}

TEST_F(DocumentQuery, NestedSearchTestsAllChildrenBeforeDescendingChildByChild)
{
    // deep in the first child's subtree comes before shallow under a later child
    owned_tree root = load("<root><A><C><t>deep</t></C></A><B><t>shallow</t></B></root>");
    ASSERT_NE(root, nullptr);
    const xml_element *t = nested_document_element(root.get(), "t");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->value, "deep");

    // a direct child beats anything inside an earlier sibling
    owned_tree direct = load("<root><A><t>inside</t></A><t>direct</t></root>");
    ASSERT_NE(direct, nullptr);
    EXPECT_STREQ(nested_document_element(direct.get(), "t")->value, "direct");

    // and so at every level: A's own child t before the one inside A's child C
    owned_tree level = load("<root><A><C><t>1</t></C><t>2</t></A></root>");
    ASSERT_NE(level, nullptr);
    EXPECT_STREQ(nested_document_element(level.get(), "t")->value, "2");
}

TEST_F(DocumentQuery, AttributeByName)
{
    owned_tree root = load("<a x='1' y='2' x='3'/>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(document_atribut(root.get(), "x"), root->firstatb);
    EXPECT_EQ(document_atribut(root.get(), "y"), root->firstatb->next);
    EXPECT_EQ(document_atribut(root.get(), "z"), nullptr);
    EXPECT_EQ(document_atribut(nullptr, "x"), nullptr);
}

class AtributValues : public TrackedTest {
protected:
    void SetUp() override
    {
        TrackedTest::SetUp();
        e_ = allocate_element();
        e_->name = allocate_string("e");
    }
    void TearDown() override
    {
        liberate_element(e_);
        TrackedTest::TearDown();
    }
    // A fresh attribute holding value exactly as given.
    xml_atribut *with(const char *value) { return document_add_atribut(e_, "k", value); }
    int number(const char *value) { return document_atribut_value(with(value)); }
    xml_element *e_ = nullptr;
};

TEST_F(AtributValues, HexadecimalAfterLowerCaseX)
{
    EXPECT_EQ(number("0x1F"), 31);
    EXPECT_EQ(number("0x1f"), 31);
    EXPECT_EQ(number("0xff"), 255);
    EXPECT_EQ(number("0x1g"), 1);
    EXPECT_EQ(number("0x"), 0);
    EXPECT_EQ(number("0xFFFFFFFF"), -1);
    EXPECT_EQ(number("0x80000000"), INT_MIN);
    EXPECT_EQ(number("0x123456789"), 0x23456789); // the ninth digit shifts the first out
    EXPECT_EQ(number("0x10\""), 16);
}

TEST_F(AtributValues, DecimalWithOrWithoutOneLeadingQuote)
{
    EXPECT_EQ(number("\"42\""), 42);
    EXPECT_EQ(number("'-7'"), -7);
    EXPECT_EQ(number("0x10"), 16);
    EXPECT_EQ(number("0X10"), 0);
    EXPECT_EQ(number("\"0x10\""), 0);
    EXPECT_EQ(number("12abc"), 12);
    EXPECT_EQ(number(" +5"), 5);
    EXPECT_EQ(number("\"\""), 0);
    EXPECT_EQ(number(""), 0);
    // out of range: saturated, never undefined
    EXPECT_EQ(number("\"99999999999999999999999\""), INT_MAX);
    EXPECT_EQ(number("-99999999999999999999999"), INT_MIN);

    xml_atribut *no_value = allocate_atribut();
    EXPECT_EQ(document_atribut_value(no_value), 0);
    liberate_atribut(no_value);
}

TEST_F(AtributValues, StringsLoseTheirEnclosingQuotes)
{
    struct string_case {
        const char *stored, *text;
    };
    const string_case cases[] = {
        {"\"abc\"", "abc"}, {"'abc'", "abc"}, {"abc", "abc"},  {"\"\"", ""},
        {"\"abc", "ab"},    {"\"", ""},       {"'", ""},       {"", ""},
        {"'a\"", "a"},      {"\"say \"hi\"\"", "say \"hi\""},
    };
    for (const string_case &c : cases) {
        SCOPED_TRACE(c.stored);
        xml_atribut *a = with(c.stored);
        owned_text plain{document_atribut_string(a)};
        owned_text secret{document_atribut_password(a)};
        ASSERT_NE(plain, nullptr);
        ASSERT_NE(secret, nullptr);
        EXPECT_STREQ(plain.get(), c.text);
        EXPECT_STREQ(secret.get(), c.text);
        EXPECT_EQ(header_of(plain.get())->secure, 0);
        EXPECT_EQ(header_of(secret.get())->secure, 1);
        EXPECT_NE(plain.get(), a->value); // always a copy
    }
    xml_atribut *no_value = allocate_atribut();
    EXPECT_EQ(document_atribut_string(no_value), nullptr);
    EXPECT_EQ(document_atribut_password(no_value), nullptr);
    liberate_atribut(no_value);
}

// ---------------------------------------------------------------------------
// Editing

class DocumentEdit : public TrackedTest {
protected:
    void SetUp() override
    {
        TrackedTest::SetUp();
        root_.reset(document_add_element(nullptr, "p"));
    }
    void TearDown() override
    {
        root_.reset();
        TrackedTest::TearDown();
    }
    xml_element *add(const char *names)
    {
        xml_element *last = nullptr;
        for (const char *n = names; *n; ++n) last = document_add_element(root_.get(), std::string(1, *n).c_str());
        return last;
    }
    owned_tree root_;
};

TEST_F(DocumentEdit, AddElementAppendsAndNamesTheChild)
{
    xml_element *a = document_add_element(root_.get(), "a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(root_->first, a);
    EXPECT_EQ(root_->last, a);
    add("bc");
    EXPECT_EQ(child_names(root_.get()), "abc");
    EXPECT_EQ(header_of(a->name)->secure, 0);

    EXPECT_EQ(document_add_element(root_.get(), nullptr), nullptr);
    EXPECT_EQ(child_names(root_.get()), "abc");

    xml_element *loose = document_add_element(nullptr, "loose");
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(loose->parent, nullptr);
    document_drop(loose);
}

TEST_F(DocumentEdit, PrefixElementInsertsFirst)
{
    xml_element *b = document_prefix_element(root_.get(), "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(root_->first, b);
    EXPECT_EQ(root_->last, b);
    EXPECT_EQ(b->parent, root_.get());
    document_prefix_element(root_.get(), "a");
    add("c");
    EXPECT_EQ(child_names(root_.get()), "abc");
    EXPECT_EQ(document_prefix_element(root_.get(), nullptr), nullptr);
    EXPECT_EQ(child_names(root_.get()), "abc");
}

TEST_F(DocumentEdit, AddAtributStoresExactlyWhatIsGiven)
{
    xml_atribut *a = document_add_atribut(root_.get(), "k", "\"v&quot;\"");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->value, "\"v&quot;\"");
    EXPECT_EQ(header_of(a->value)->secure, 0);

    EXPECT_EQ(document_add_atribut(root_.get(), "n", nullptr), nullptr);
    EXPECT_EQ(document_add_atribut(root_.get(), nullptr, "v"), nullptr);
    EXPECT_EQ(root_->firstatb, a);
    EXPECT_EQ(root_->lastatb, a);
    EXPECT_EQ(a->next, nullptr);

    xml_atribut *loose = document_add_atribut(nullptr, "k", "v");
    ASSERT_NE(loose, nullptr);
    liberate_atribut(loose);
}

TEST_F(DocumentEdit, RemoveKeepsTheListWhole)
{
    xml_element *only = add("a");
    document_add_element(only, "sub");
    EXPECT_EQ(document_remove_element(only), 0);
    EXPECT_EQ(root_->first, nullptr);
    EXPECT_EQ(root_->last, nullptr);

    add("abcde");
    document_remove_element(root_->first);
    EXPECT_EQ(child_names(root_.get()), "bcde");
    document_remove_element(root_->first->next); // c, in the middle
    EXPECT_EQ(child_names(root_.get()), "bde");
    document_remove_element(root_->last);
    EXPECT_EQ(child_names(root_.get()), "bd");
}

TEST_F(DocumentEdit, AppendElementFollowsTheGivenOne)
{
    add("ab");
    xml_element *z = document_add_element(nullptr, "z");
    document_append_element(root_->last, z);
    EXPECT_EQ(root_->last, z);
    EXPECT_EQ(child_names(root_.get()), "abz");

    xml_element *m = document_add_element(nullptr, "m");
    document_append_element(root_->first, m);
    EXPECT_EQ(child_names(root_.get()), "ambz");
}

TEST_F(DocumentEdit, AppendElementsInsertsAChainInItsOrder)
{
    add("ab");
    // a chain of two, taken out of another parent
    owned_tree other{document_add_element(nullptr, "o")};
    document_add_element(other.get(), "x");
    document_add_element(other.get(), "y");
    xml_element *chain = other->first;
    other->first = other->last = nullptr;

    EXPECT_EQ(document_append_elements(root_->last, chain), 0);
    EXPECT_EQ(child_names(root_.get()), "abxy");
    EXPECT_STREQ(root_->last->name, "y");

    // in the middle: the elements that followed come after the chain
    xml_element *c1 = document_add_element(nullptr, "1");
    xml_element *c2 = document_add_element(nullptr, "2");
    c1->next = c2;
    c2->previous = c1;
    document_append_elements(root_->first, c1);
    EXPECT_EQ(child_names(root_.get()), "a12bxy");
    EXPECT_EQ(document_append_elements(root_->first, nullptr), 0);
    EXPECT_EQ(child_names(root_.get()), "a12bxy");
}

// ---------------------------------------------------------------------------
// Output

class DocumentOutput : public DocumentTest {};

TEST_F(DocumentOutput, SerialiseFileWorkedExample)
{
    owned_tree root = load("<artist id=\"7\"><name>Ann</name></artist>");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(document_serialise_file(root.get(), "out.xml"), 0);
    const std::string body = "<artist\n"
                             "\tid=\"7\">\n"
                             "\t<name>\n"
                             "\tAnn\n"
                             "\t</name>\n"
                             "</artist>\n";
    EXPECT_EQ(read_file("out.xml"), "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n" + body);
    EXPECT_EQ(indented(root.get()), body);
}

TEST_F(DocumentOutput, LayoutOfSingleElements)
{
    owned_tree a{document_add_element(nullptr, "a")};
    EXPECT_EQ(indented(a.get()), "<a/>\n");
    EXPECT_EQ(indented(a.get(), 2), "\t\t<a/>\n");

    document_add_atribut(a.get(), "x", "1");
    document_add_atribut(a.get(), "y", "2");
    EXPECT_EQ(indented(a.get()), "<a\n\tx=\"1\"\n\ty=\"2\"/>\n");

    owned_tree hi{document_add_element(nullptr, "a")};
    hi->value = allocate_string("hi");
    EXPECT_EQ(indented(hi.get()), "<a>\nhi\n</a>\n");
    EXPECT_EQ(indented(hi.get(), 1), "\t<a>\n\thi\n\t</a>\n");

    owned_tree empty{document_add_element(nullptr, "a")};
    empty->value = allocate_string("");
    EXPECT_EQ(indented(empty.get()), "<a>\n\n</a>\n");

    EXPECT_EQ(indented(nullptr), "");
}

TEST_F(DocumentOutput, TextGoesAfterTheChildrenAtTheElementsDepth)
{
    owned_tree p = load("<p>one<c/>two</p>");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(indented(p.get()), "<p>\n\t<c/>\nonetwo\n</p>\n");

    owned_tree nested = load("<r><a k=\"1\">x &amp; y\n</a></r>");
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(indented(nested.get()), "<r>\n\t<a\n\t\tk=\"1\">\n\tx &amp; y\n\n\t</a>\n</r>\n");
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
    EXPECT_EQ(indented(a.get()), "<a\n"
                                 "\td=\"1\"\n"
                                 "\ts=\"'v'\"\n"
                                 "\tq=\"say &quot;hi&quot;\"\n"
                                 "\te=\"\"\n"
                                 "\tbare=\"v\"\n"
                                 "\todd=\"x&quot;y\"\n"
                                 "\tlone=\"&quot;\"\n"
                                 "\tk=\"\"/>\n");
}

// Quotation marks restored from "&quot;" survive a serialise and a second load.
// (Apostrophe-quoted values are not part of this: they keep their apostrophes inside
// the writer's quotation marks, so k='v' comes back as "'v'".)
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
        for (const xml_atribut *a = e->firstatb; a; a = a->next) {
            owned_text s{document_atribut_string(a)};
            v.push_back(std::string(a->name) + "=" + s.get());
        }
        return v;
    };
    EXPECT_EQ(values(second.get()), values(first.get()));
    EXPECT_EQ(values(second->first), values(first->first));
    EXPECT_STREQ(second->firstatb->value, "\"say \"hi\"\"");
    // and the second file is written byte for byte like the first
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
    EXPECT_EQ(read_file("chain.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n<a/>\n<b>\n\t<d/>\n</b>\n<c/>\n");
}

TEST_F(DocumentOutput, SerialiseFileEdges)
{
    owned_tree a{document_add_element(nullptr, "a")};
    EXPECT_EQ(document_serialise_file(a.get(), "missing-dir/out.xml"), status_cannot_create);
    EXPECT_FALSE(std::filesystem::exists("missing-dir"));

    ASSERT_EQ(document_serialise_file(nullptr, "empty.xml"), 0);
    EXPECT_EQ(read_file("empty.xml"), "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n");

    write_file("old.xml", std::string(1000, 'x'));
    ASSERT_EQ(document_serialise_file(a.get(), "old.xml"), 0);
    EXPECT_EQ(read_file("old.xml"), "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n<a/>\n");
}

// ---------------------------------------------------------------------------
// Scale: depth and length that a quadratic or recursive implementation cannot take.
// Figures are printed for information; nothing here is timed. The sanitizer build
// runs the file tests at a quarter of the size, which keeps them to a second or two.

class DocumentScale : public DocumentTest {};

TEST_F(DocumentScale, MillionDeepFileLoadsSearchesPrintsAndReleases)
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr long depth = 250000; // still far beyond what recursion would survive
#else
    constexpr long depth = 1000000;
#endif
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

    {
        stdout_to_file out("compact.txt");
        show_element(root.get());
    }
    // "<e>" and "</e>\n" per outer element, "<t>x</t>\n" innermost
    EXPECT_EQ(std::filesystem::file_size("compact.txt"), static_cast<std::uintmax_t>(8 * (depth - 1) + 9));
    const std::string compact = read_file("compact.txt");
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
    const unsigned long long expected = (depth - 1) * (depth + 8) + 5 + level * (2 * depth - 1);
    EXPECT_EQ(counter.total, expected);
    const std::string ending = "\t\t\t</e>\n\t\t</e>\n\t</e>\n";
    EXPECT_EQ(counter.tail, ending.substr(ending.size() - 16));
}

TEST_F(DocumentScale, TwentyMegabyteTextLoadsInLinearTime)
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t size = 5u << 20;
#else
    constexpr std::size_t size = 20u << 20;
#endif
    std::string text;
    text.reserve(size + 16);
    const char *words[] = {"a", "to", "the", "word", "short", "&amp;", "x,y", "end.\n"};
    for (unsigned i = 0; text.size() < size; ++i) {
        text += words[i % 8];
        text += ' ';
    }
    write_file("long.xml", "<a>" + text + "</a>");

    const auto start = std::chrono::steady_clock::now();
    owned_tree root{document_parse_file("long.xml")};
    const double load_time = seconds_since(start);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->value, nullptr);
    EXPECT_EQ(std::strlen(root->value), text.size());
    EXPECT_TRUE(text == root->value);
    EXPECT_EQ(header_of(root->value)->size, text.size() + 1);
    std::printf("[ figures  ] %zu-byte text element loaded in %.3f s\n", text.size(), load_time);
}
