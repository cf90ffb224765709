// Reads the file named by its argument (a pipe, in the scale cases) with the run relay
// and no tree, and prints what the parse counted: the content's bytes and line feeds as
// handed over, the parser's counts when each element ends (its int fields and the whole
// line count), the failure hook's arguments and the outcome.
#include <cinttypes>
#include <cstdio>

#include "qvxml/internal/input.h"
#include "qvxml/xmlparse.h"

namespace
{

std::uint64_t bytes = 0, feeds = 0;

int count_run(xml_application *, const char *text, int length)
{
    bytes += static_cast<std::uint64_t>(length);
    for (int i = 0; i < length; ++i)
        feeds += text[i] == '\n';
    return 0;
}

int show_close(xml_application *x)
{
    std::printf("close: lines %d column %d whole lines %" PRId64 "\n", x->parent->lines,
                x->parent->column, line_count(x->parent));
    return 0;
}

int show_failure(const char *, int status, int lines)
{
    std::printf("failure: status %d lines %d\n", status, lines);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    xml_relay relays{};
    relays.close_tag = show_close;
    relays.failure = show_failure;
    relays.content_run = count_run;
    xml_outcome ended{};
    (void)xml_parse_outcome(argv[1], &relays, nullptr, &ended);
    std::printf("content: %" PRIu64 " bytes, %" PRIu64 " line feeds\n", bytes, feeds);
    std::printf("outcome: status %d line %d open %d\n", ended.status, ended.line,
                ended.open_elements);
    return 0;
}
