#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "test_support.h"

namespace
{

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

} // namespace

class ElementLists : public TrackedTest
{
};

TEST_F(ElementLists, ChildrenAndAttributesKeepTheirOrderAndPrintCompactly)
{
    owned_tree parent{named("p")};
    for (const char *n : {"a", "b"})
        add_element(parent.get(), named(n));
    xml_atribut *atbs[3] = {atribut("x", "1"), atribut("y", "2"), allocate_atribut()};
    atbs[2]->name = allocate_string("n"); // a null value prints as an empty pair
    for (xml_atribut *a : atbs)
        add_atribut(parent.get(), a);
    EXPECT_EQ(child_names(parent.get()), "ab"); // attributes are not children
    std::string backward;
    for (const xml_atribut *a = parent->lastatb; a; a = a->previous)
        backward += a->name;
    EXPECT_EQ(backward, "nyx");
    EXPECT_EQ(shown(parent.get()), "<p x='1' y='2' n=''><a/>\n<b/>\n</p>\n");
    EXPECT_EQ(shown(parent->first), "<a/>\n"); // its siblings are not printed
    parent->first->value = allocate_string("");
    EXPECT_EQ(shown(parent->first), "<a></a>\n"); // the empty form only without a value
}

class ElementText : public TrackedTest
{
};

// Each call that adds text stores one block of exactly the new size and releases
// the old one; the others leave the slot as it was.
TEST_F(ElementText, ExtendValueStoresOneExactBlockPerCall)
{
    struct step {
        const char *text;
        int length, status;
        const char *value; // afterwards
    };
    const step steps[] = {
        {"ignored", 0, 0, nullptr}, {nullptr, 3, status_missing, nullptr},
        {"abc", 3, 0, "abc"},       {"de", 2, 0, "abcde"},
        {"", 0, 0, "abcde"},        {nullptr, 1, status_missing, "abcde"},
    };
    char *value = nullptr;
    for (const step &s : steps) {
        SCOPED_TRACE(std::string(s.text ? s.text : "(null)") + " " + std::to_string(s.length));
        const char *old = value;
        const alloc_counts before = counts_now();
        EXPECT_EQ(extend_value(&value, s.text, s.length), s.status);
        const alloc_counts after = counts_now();
        const bool changed = s.status == 0 && s.length > 0;
        EXPECT_EQ(value != old, changed);
        EXPECT_EQ(after.a - before.a, changed ? 1u : 0u);
        EXPECT_EQ(after.l - before.l, changed && old ? 1u : 0u);
        if (!s.value) {
            EXPECT_EQ(value, nullptr);
            continue;
        }
        EXPECT_STREQ(value, s.value);
        EXPECT_EQ(header_of(value)->size, std::strlen(s.value) + 1);
    }
    liberate(value);
}

// Element r (attribute, value) with children c1 and c2, each with an attribute, a
// value and one grandchild; every block's address is recorded under a label.
struct labelled_tree {
    xml_element *root = nullptr;
    std::map<unsigned long, std::string> labels;

    void label(const void *p, const std::string &what)
    {
        labels[reinterpret_cast<unsigned long>(p)] = what;
    }
    xml_element *element(const std::string &name, xml_element *parent)
    {
        xml_element *e = with_value(named(name.c_str()), (name + "v").c_str());
        xml_atribut *a = atribut((name + "k").c_str(), "\"1\"");
        add_atribut(e, a);
        add_element(parent, e);
        const std::pair<const void *, const char *> blocks[] = {
            {e, ""},     {e->name, ".name"},     {e->value, ".value"},
            {a, ".atb"}, {a->name, ".atb.name"}, {a->value, ".atb.value"}};
        for (auto [p, what] : blocks)
            label(p, name + what);
        return e;
    }
    labelled_tree()
    {
        root = element("r", nullptr);
        for (const std::string c : {"c1", "c2"}) {
            xml_element *g = named((c + "g").c_str());
            add_element(element(c, root), g);
            label(g, c + "g");
            label(g->name, c + "g.name");
        }
    }
};

class ElementRelease : public InTempDir
{
};

// One release per block the tree held: children (each whole subtree in document
// order) before the attributes, and the attributes before the element's own name,
// value and record.
TEST_F(ElementRelease, ChildrenThenAttributesThenOwnStringsOncePerBlock)
{
    const alloc_counts empty = counts_now();
    labelled_tree t;
    const alloc_counts built = counts_now();
    ASSERT_EQ(built.a - empty.a, t.labels.size());
    ASSERT_EQ(set_memory_trace(1), 0);
    EXPECT_EQ(liberate_element(t.root), nullptr);
    set_memory_trace(0);
    const alloc_counts freed = counts_now();
    EXPECT_EQ(freed.l - built.l, t.labels.size());
    EXPECT_EQ(freed.a, built.a);
    EXPECT_EQ(freed.t, empty.t);

    std::istringstream log(read_file("qv-mem-log"));
    std::vector<std::string> order;
    for (std::string line; std::getline(log, line);) {
        // time:pid:pid:memory:liberate:count:address:size
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, ':');)
            f.push_back(s);
        ASSERT_EQ(f.size(), 8u) << line;
        ASSERT_EQ(f[4], "liberate") << line;
        const auto hit = t.labels.find(std::stoul(f[6]));
        ASSERT_NE(hit, t.labels.end()) << line;
        order.push_back(hit->second);
    }
    std::vector<std::string> expected;
    for (const char *c : {"c1", "c2"})
        for (const char *s :
             {"g.name", "g", ".atb.name", ".atb.value", ".atb", ".name", ".value", ""})
            expected.push_back(c + std::string(s));
    for (const char *s : {"r.atb.name", "r.atb.value", "r.atb", "r.name", "r.value", "r"})
        expected.push_back(s);
    EXPECT_EQ(order, expected);
}
