#include <map>
#include <sstream>

#include "test_support.h"

namespace
{

xml_element *named(const char *name)
{
    xml_element *e = allocate_element();
    return e->name = allocate_string(name), e;
}
std::string shown(const xml_element *e)
{
    stdout_capture out;
    return show_element(e), out.take();
}

class Element : public InTempDir
{
};

TEST_F(Element, ChildrenAndAttributesKeepTheirOrderAndPrintCompactly)
{
    owned_tree parent{named("p")};
    add_element(parent.get(), named("a"));
    add_element(parent.get(), named("b"));
    for (const char *n : {"x", "y", "n"}) {
        xml_atribut *a = allocate_atribut();
        a->name = allocate_string(n);
        a->value =
            *n == 'n' ? nullptr : allocate_string(*n == 'x' ? "1" : "2"); // null prints as ''
        add_atribut(parent.get(), a);
    }
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

// Each call that adds text stores one block of exactly the new size and releases the
// old one; the others leave the slot as it was.
TEST_F(Element, ExtendValueStoresOneExactBlockPerCall)
{
    const struct {
        const char *text;
        int length, status;
        const char *value; // afterwards
    } steps[] = {{"ignored", 0, 0, nullptr}, {nullptr, 3, status_missing, nullptr},
                 {"abc", 3, 0, "abc"},       {"de", 2, 0, "abcde"},
                 {"", 0, 0, "abcde"},        {nullptr, 1, status_missing, "abcde"}};
    char *value = nullptr;
    for (const auto &s : steps) {
        SCOPED_TRACE(std::string(s.text ? s.text : "(null)") + " " + std::to_string(s.length));
        const char *old = value;
        const alloc_counts before = counts_now();
        EXPECT_EQ(extend_value(&value, s.text, s.length), s.status);
        const alloc_counts after = counts_now();
        const bool changed = s.status == 0 && s.length > 0;
        EXPECT_EQ(std::tuple(value != old, after.a - before.a, after.l - before.l),
                  std::tuple(changed, changed ? 1ul : 0ul, changed && old ? 1ul : 0ul));
        EXPECT_EQ(std::string(value ? value : "(null)"), s.value ? s.value : "(null)");
        EXPECT_TRUE(!value || header_of(value)->size == std::strlen(value) + 1);
    }
    liberate(value);
}

// One release per block the tree held, in the trace log: children (each whole subtree
// in document order) before the attributes (name, value, record), and the attributes
// before the element's own name, value and record.
TEST_F(Element, ReleaseGoesChildrenThenAttributesThenOwnStringsOncePerBlock)
{
    write_file("in.xml", "<r rk='1'>rv<c1 c1k='1'>c1v<c1g/></c1><c2 c2k='2'>c2v<c2g/></c2></r>");
    xml_element *root = document_parse_file("in.xml");
    ASSERT_NE(root, nullptr);
    std::map<std::string, std::string> labels;
    std::vector<std::string> expected, order;
    auto add = [&](const void *p, const std::string &what) {
        if (p) labels[address_of(p)] = what, expected.push_back(what);
    };
    std::function<void(const xml_element *)> walk = [&](const xml_element *e) {
        for (const xml_element *c = e->first; c; c = c->next)
            walk(c);
        const std::string n = e->name;
        for (const xml_atribut *a = e->firstatb; a; a = a->next)
            add(a->name, n + ".atb.name"), add(a->value, n + ".atb.value"), add(a, n + ".atb");
        add(e->name, n + ".name"), add(e->value, n + ".value"), add(e, n);
    };
    walk(root);
    ASSERT_EQ(expected.size(), 22u);
    ASSERT_EQ(set_memory_trace(1), 0);
    EXPECT_EQ(liberate_element(root), nullptr);
    set_memory_trace(0);
    std::istringstream log(read_file("qv-mem-log"));
    for (std::string line;
         std::getline(log, line);) { // time:pid:pid:memory:liberate:count:address:size
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, ':');)
            f.push_back(s);
        ASSERT_TRUE(f.size() == 8 && f[4] == "liberate" && labels.contains(f[6])) << line;
        order.push_back(labels[f[6]]);
    }
    EXPECT_EQ(order, expected);
}

} // namespace
