// The document builder on arbitrary bytes: a loaded tree, serialised and loaded
// again, gives back the same tree. The writer puts element text on a line of its
// own, so reloaded text gains the line feed and indentation before the closing
// tag; attribute values come back inside one pair of quotation marks.

#include <string>

#include "fuzz_support.h"
#include "qvxml/element.h"

namespace {

std::string quoted_again(const char *value)
{
    std::string inner = value ? value : "";
    if (inner.size() >= 2 && inner.front() == '"' && inner.back() == '"')
        inner = inner.substr(1, inner.size() - 2);
    return '"' + inner + '"';
}

bool same_string(const char *a, const std::string &b) { return a && b == a; }

// Compares the trees side by side without recursion.
void compare_trees(const xml_element *a, const xml_element *b)
{
    long depth = 0;
    for (;;) {
        FUZZ_CHECK(a && b);
        FUZZ_CHECK(a->name && b->name && std::string(a->name) == b->name);
        if (a->value) {
            FUZZ_CHECK(same_string(b->value, a->value + std::string("\n") + std::string(depth, '\t')));
        } else {
            FUZZ_CHECK(b->value == nullptr);
        }
        const xml_atribut *x = a->firstatb, *y = b->firstatb;
        for (; x && y; x = x->next, y = y->next) {
            FUZZ_CHECK(x->name && y->name && std::string(x->name) == y->name);
            FUZZ_CHECK(same_string(y->value, quoted_again(x->value)));
        }
        FUZZ_CHECK(!x && !y);
        if (a->first || b->first) {
            a = a->first;
            b = b->first;
            ++depth;
            continue;
        }
        while (depth > 0 && !a->next) {
            FUZZ_CHECK(!b->next);
            a = a->parent;
            b = b->parent;
            --depth;
        }
        if (depth == 0) return;
        a = a->next;
        b = b->next;
        FUZZ_CHECK(a && b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    allocation_balance balance;
    {
        memory_file file(data, size);
        xml_element *first = document_parse_file(file.path());
        if (first) {
            char name[] = "/tmp/builder-fuzz-XXXXXX";
            const int fd = mkstemp(name);
            FUZZ_CHECK(fd >= 0);
            close(fd);
            FUZZ_CHECK(document_serialise_file(first, name) == 0);
            xml_element *second = document_parse_file(name);
            unlink(name);
            compare_trees(first, second);
            document_drop(second);
        }
        document_drop(first);
    }
    balance.check();
    return 0;
}
