// A program that defines its own functions under names and signatures the library
// also exports, each refusing its work and counting its calls. It loads a file
// through the library and calls its own functions once each: the load must succeed,
// and every count must be the program's call alone, whether the library is linked
// statically or shared.
//     own_names FILE
// Exit status 0 when both hold, 1 otherwise.
#include <cstdio>

#include "qvxml/element.h"

namespace
{
int calls = 0;
}

void *allocate(int)
{
    return ++calls, nullptr;
}
void *liberate(void *)
{
    return ++calls, nullptr;
}
int indent(FILE *, int)
{
    return ++calls;
}
char *join_string(char *, const char *)
{
    return ++calls, nullptr;
}
int extend_value(char **, const char *, int)
{
    return ++calls;
}
xml_element *liberate_element(xml_element *)
{
    return ++calls, nullptr;
}
void show_element(const xml_element *)
{
    ++calls;
}

int main(int argc, char **argv)
{
    if (argc != 2) return std::fprintf(stderr, "usage: own_names FILE\n"), 1;
    xml_element *root = document_parse_file(argv[1]);
    const int by_library = calls;
    if (!root || !document_element(root, "title")) return std::printf("load failed\n"), 1;
    allocate(1), liberate(nullptr), indent(stdout, 0), join_string(nullptr, "");
    extend_value(nullptr, "", 0), liberate_element(nullptr), show_element(root);
    root = document_drop(root);
    std::printf("library calls: %d, own calls: %d\n", by_library, calls - by_library);
    return by_library == 0 && calls == 7 ? 0 : 1;
}
