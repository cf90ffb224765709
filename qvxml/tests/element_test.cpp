#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct element_owner {
    void operator()(xml_element *e) const { liberate_element(e); }
};
using owned_element = std::unique_ptr<xml_element, element_owner>;

struct counts {
    unsigned long allocated = 0, released = 0;
    unsigned long long in_use = 0;
};

counts current_counts()
{
    counts c;
    get_allocate_statistics(&c.allocated, &c.released, &c.in_use);
    return c;
}

xml_element *named(const char *name)
{
    xml_element *e = allocate_element();
    if (e) e->name = allocate_string(name);
    return e;
}

xml_atribut *atribut(const char *name, const char *value)
{
    xml_atribut *a = allocate_atribut();
    if (!a) return nullptr;
    a->name = allocate_string(name);
    a->value = allocate_string(value);
    return a;
}

xml_element *with_value(xml_element *e, const char *text)
{
    EXPECT_EQ(extend_value(&e->value, text, static_cast<int>(std::strlen(text))), 0);
    return e;
}

std::string shown(const xml_element *e)
{
    stdout_capture out;
    show_element(e);
    return out.take();
}

std::size_t block_size(const void *p) { return (static_cast<const mem_header *>(p) - 1)->size; }

} // namespace

class ElementLists : public TrackedTest {};

TEST_F(ElementLists, ThreeChildrenWalkBothWaysAndKnowTheirParent)
{
    owned_element parent{named("p")};
    xml_element *kids[3] = {named("a"), named("b"), named("c")};
    for (xml_element *k : kids) add_element(parent.get(), k);

    EXPECT_EQ(parent->first, kids[0]);
    EXPECT_EQ(parent->last, kids[2]);
    std::string forward, backward;
    for (const xml_element *e = parent->first; e; e = e->next) {
        forward += e->name;
        EXPECT_EQ(e->parent, parent.get());
    }
    for (const xml_element *e = parent->last; e; e = e->previous) backward += e->name;
    EXPECT_EQ(forward, "abc");
    EXPECT_EQ(backward, "cba");
    EXPECT_EQ(parent->parent, nullptr);
}

TEST_F(ElementLists, NullArgumentsLinkNothing)
{
    owned_element parent{named("p")};
    owned_element child{named("c")};
    add_element(nullptr, child.get());
    add_element(parent.get(), nullptr);
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_EQ(child->previous, nullptr);
    EXPECT_EQ(parent->first, nullptr);
    EXPECT_EQ(parent->last, nullptr);

    xml_atribut *a = atribut("k", "v");
    add_atribut(nullptr, a);
    add_atribut(parent.get(), nullptr);
    EXPECT_EQ(parent->firstatb, nullptr);
    EXPECT_EQ(a->previous, nullptr);
    EXPECT_EQ(liberate_atribut(a), nullptr);
}

TEST_F(ElementLists, AttributesKeepTheOrderTheyWereAdded)
{
    owned_element e{named("e")};
    xml_atribut *atbs[3] = {atribut("x", "1"), atribut("y", "2"), atribut("z", "3")};
    for (xml_atribut *a : atbs) add_atribut(e.get(), a);

    EXPECT_EQ(e->firstatb, atbs[0]);
    EXPECT_EQ(e->lastatb, atbs[2]);
    std::string forward, backward;
    for (const xml_atribut *a = e->firstatb; a; a = a->next) forward += a->name;
    for (const xml_atribut *a = e->lastatb; a; a = a->previous) backward += a->name;
    EXPECT_EQ(forward, "xyz");
    EXPECT_EQ(backward, "zyx");
    EXPECT_EQ(e->first, nullptr); // attributes are not children
}

TEST_F(ElementLists, NewRecordsAreDetachedAndEmpty)
{
    xml_element *e = allocate_element();
    ASSERT_NE(e, nullptr);
    const xml_element cleared{};
    EXPECT_EQ(std::memcmp(e, &cleared, sizeof cleared), 0);
    xml_atribut *a = allocate_atribut();
    ASSERT_NE(a, nullptr);
    const xml_atribut clear_atb{};
    EXPECT_EQ(std::memcmp(a, &clear_atb, sizeof clear_atb), 0);
    EXPECT_EQ(liberate_atribut(a), nullptr);
    EXPECT_EQ(liberate_element(e), nullptr);
    EXPECT_EQ(liberate_element(nullptr), nullptr);
    EXPECT_EQ(liberate_atribut(nullptr), nullptr);
}

class ElementText : public TrackedTest {};

TEST_F(ElementText, EachAppendStoresOneExactBlockAndReleasesTheOld)
{
    char *value = nullptr;
    ASSERT_EQ(extend_value(&value, "abc", 3), 0);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(block_size(value), 4u);

    const char *old = value;
    const counts before = current_counts();
    ASSERT_EQ(extend_value(&value, "de", 2), 0);
    const counts after = current_counts();
    EXPECT_STREQ(value, "abcde");
    EXPECT_NE(value, old);
    EXPECT_EQ(block_size(value), 6u);
    EXPECT_EQ(after.allocated - before.allocated, 1u);
    EXPECT_EQ(after.released - before.released, 1u); // the block that held "abc"
    EXPECT_EQ(after.in_use - before.in_use, 2u);
    liberate(value);
}

TEST_F(ElementText, ZeroLengthChangesNothing)
{
    char *value = nullptr;
    const counts before = current_counts();
    EXPECT_EQ(extend_value(&value, "ignored", 0), 0);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(current_counts().allocated, before.allocated);

    ASSERT_EQ(extend_value(&value, "x", 1), 0);
    const char *kept = value;
    EXPECT_EQ(extend_value(&value, "", 0), 0);
    EXPECT_EQ(value, kept);
    liberate(value);
}

TEST_F(ElementText, MissingSlotOrTextIsStatus118AndLeavesTheSlot)
{
    char *value = nullptr;
    EXPECT_EQ(extend_value(nullptr, "abc", 3), status_missing);
    EXPECT_EQ(extend_value(&value, nullptr, 3), status_missing);
    EXPECT_EQ(value, nullptr);

    ASSERT_EQ(extend_value(&value, "ab", 2), 0);
    const char *kept = value;
    EXPECT_EQ(extend_value(&value, nullptr, 1), status_missing);
    EXPECT_EQ(value, kept);
    EXPECT_STREQ(value, "ab");
    liberate(value);
}

class ElementRelease : public InTempDir {};

// Element r (attribute, value) with children c1 and c2, each with an attribute, a
// value and one grandchild; every block's address is recorded under a label.
struct labelled_tree {
    xml_element *root = nullptr;
    std::map<unsigned long, std::string> labels;

    void label(const void *p, const std::string &what) { labels[reinterpret_cast<unsigned long>(p)] = what; }

    xml_element *element(const std::string &name, xml_element *parent)
    {
        xml_element *e = with_value(named(name.c_str()), (name + "v").c_str());
        xml_atribut *a = atribut((name + "k").c_str(), "\"1\"");
        add_atribut(e, a);
        add_element(parent, e);
        label(e, name);
        label(e->name, name + ".name");
        label(e->value, name + ".value");
        label(a, name + ".atb");
        label(a->name, name + ".atb.name");
        label(a->value, name + ".atb.value");
        return e;
    }

    labelled_tree()
    {
        root = element("r", nullptr);
        for (const char *c : {"c1", "c2"}) {
            xml_element *child = element(c, root);
            xml_element *g = named((std::string(c) + "g").c_str());
            add_element(child, g);
            label(g, std::string(c) + "g");
            label(g->name, std::string(c) + "g.name");
        }
    }
};

TEST_F(ElementRelease, OneReleasePerBlockTheTreeHeld)
{
    const counts empty = current_counts();
    labelled_tree t;
    const counts built = current_counts();
    ASSERT_EQ(built.allocated - empty.allocated, t.labels.size());

    EXPECT_EQ(liberate_element(t.root), nullptr);
    const counts freed = current_counts();
    EXPECT_EQ(freed.released - built.released, t.labels.size());
    EXPECT_EQ(freed.allocated, built.allocated);
    EXPECT_EQ(freed.in_use, empty.in_use);
}

// Children (each whole subtree in document order) go before the attributes, and the
// attributes before the element's own name, value and record.
TEST_F(ElementRelease, ChildrenThenAttributesThenOwnStrings)
{
    labelled_tree t;
    ASSERT_EQ(set_memory_trace(1), 0);
    liberate_element(t.root);
    set_memory_trace(0);

    std::istringstream log(read_file("qv-mem-log"));
    std::vector<std::string> order;
    for (std::string line; std::getline(log, line);) {
        // time:pid:pid:memory:liberate:count:address:size
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, ':');) f.push_back(s);
        ASSERT_EQ(f.size(), 8u) << line;
        ASSERT_EQ(f[4], "liberate") << line;
        const auto hit = t.labels.find(std::stoul(f[6]));
        ASSERT_NE(hit, t.labels.end()) << line;
        order.push_back(hit->second);
    }
    const std::vector<std::string> subtree = {"g.name",   "g",        ".atb.name", ".atb.value",
                                              ".atb",     ".name",    ".value",    ""};
    std::vector<std::string> expected;
    for (const char *c : {"c1", "c2"})
        for (const std::string &s : subtree) expected.push_back(c + s);
    for (const char *s : {"r.atb.name", "r.atb.value", "r.atb", "r.name", "r.value", "r"}) expected.push_back(s);
    EXPECT_EQ(order, expected);
}

class CompactPrint : public TrackedTest {};

TEST_F(CompactPrint, AttributesChildrenAndTrailingText)
{
    owned_element a{with_value(named("a"), "text")};
    add_atribut(a.get(), atribut("k", "\"1\""));
    add_element(a.get(), named("b"));
    EXPECT_EQ(shown(a.get()), "<a k='\"1\"'><b/>\ntext</a>\n");
}

TEST_F(CompactPrint, EmptyFormOnlyWithoutChildrenAndValue)
{
    owned_element a{named("a")};
    add_atribut(a.get(), atribut("k", "v"));
    EXPECT_EQ(shown(a.get()), "<a k='v'/>\n");

    owned_element empty_text{named("a")};
    empty_text->value = allocate_string("");
    EXPECT_EQ(shown(empty_text.get()), "<a></a>\n");
}

TEST_F(CompactPrint, NullValueAttributeIsAnEmptyPair)
{
    owned_element a{named("a")};
    xml_atribut *k = allocate_atribut();
    k->name = allocate_string("k");
    add_atribut(a.get(), k);
    EXPECT_EQ(shown(a.get()), "<a k=''/>\n");
}

TEST_F(CompactPrint, NestedChildrenAndFollowingSiblingsOfTheStart)
{
    owned_element r{named("r")};
    xml_element *x = with_value(named("x"), "1");
    add_element(r.get(), x);
    add_element(x, named("y"));
    add_element(r.get(), named("z"));
    EXPECT_EQ(shown(r.get()), "<r><x><y/>\n1</x>\n<z/>\n</r>\n");
    // printing starts and stops at the element given: its siblings are not printed
    EXPECT_EQ(shown(x), "<x><y/>\n1</x>\n");
}
