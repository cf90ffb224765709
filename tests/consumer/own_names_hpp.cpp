// A program that includes qvxml.hpp alone and defines functions of its own under six
// names and signatures the library exports, each counting its calls. It loads, writes
// and streams the file through qvxml.hpp: every step must succeed, and the library must
// never call the program's functions, whether linked statically or shared.
//     own_names_hpp FILE
// Exit status 0 when both hold, 1 otherwise.
#include <cstdio>
#include <string>

#include "qvxml/qvxml.hpp"

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
void show_element(const xml_element *)
{
    ++calls;
}
int extend_value(char **, const char *, int)
{
    return ++calls;
}
char *join_string(char *, const char *)
{
    return ++calls, nullptr;
}

int main(int argc, char **argv)
{
    if (argc != 2) return 1;
    qvxml::document doc;
    std::string title;
    int items = 0;
    const bool done = doc.load_file(argv[1]) &&
                      qvxml::write(doc.root().child("title"), title) == qvxml::status_ok &&
                      qvxml::stream_file(argv[1], [&](qvxml::element, qvxml::element) { ++items; });
    return done && items == 2 && calls == 0 ? 0 : 1;
}
