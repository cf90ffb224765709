// Loads an XML file and prints its root's name and the text of one child:
//     show_root FILE CHILD
// Exit status 1 when the file cannot be loaded, 2 when the root has no such child.
#include <cstdio>

#include "qvxml/element.h"

int main(int argc, char **argv)
{
    if (argc != 3) return std::fprintf(stderr, "usage: show_root FILE CHILD\n"), 2;
    xml_element *root = document_parse_file(argv[1]);
    if (!root) return std::printf("cannot load %s\n", argv[1]), 1;
    std::printf("root: %s\n", root->name);
    const xml_element *child = document_element(root, argv[2]);
    if (child && child->value) std::printf("%s: %s\n", argv[2], child->value);
    const int status = child && child->value ? 0 : 2;
    root = document_drop(root);
    return status;
}
