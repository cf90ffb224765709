#include "qvxml/internal/input.h"

#include <algorithm>
#include <cerrno>

#include "qvxml/internal/relays.h"

using namespace qvxml::impl;

namespace
{

// The parts of a parser that do not depend on its source; null when memory is
// exhausted, whatever was built released and h closed.
xml_parser *build_parser(FILE *h, const char *name, void *payload, int echo)
{
    auto *record = static_cast<parser_record *>(allocate_secure(sizeof(parser_record)));
    if (!record) {
        if (h) std::fclose(h);
        return nullptr;
    }
    xml_parser *p = &record->parser;
    p->handle = h;
    p->echo = echo;
    record->window = p->input;
    p->work = static_cast<xml_application *>(allocate_secure(sizeof(xml_application)));
    if (!p->work || xml_reset(p->work, echo, payload) != 0) return xml_close(p);
    p->name = allocate_string(name);
    if (!p->name) return xml_close(p);
    p->user = static_cast<xml_relay *>(allocate(sizeof(xml_relay)));
    if (!p->user) return xml_close(p);
    *p->user = default_relays();
    return p;
}

bool refill_from_file(xml_parser *sptr)
{
    const std::size_t n = std::fread(sptr->input, 1, sizeof sptr->input, sptr->handle);
    sptr->inpos = 0;
    sptr->inend = static_cast<int>(n);
    if (std::ferror(sptr->handle)) { // what was read is still delivered; then the input ends
        parser_record &r = record_of(sptr);
        if (r.read_error == 0) r.read_error = errno != 0 ? errno : EIO;
        sptr->ended = 1;
    }
    if (n == 0) sptr->ended = 1;
    return n != 0;
}

// The next window is the next stretch of the caller's bytes, as long as a block the
// file path would read: so content runs are cut at the same places.
bool refill_from_memory(xml_parser *sptr)
{
    parser_record &r = record_of(sptr);
    const std::size_t n =
        std::min(r.memory_length - r.memory_next, static_cast<std::size_t>(xml_input_block));
    r.window = r.memory + r.memory_next;
    r.memory_next += n;
    sptr->inpos = 0;
    sptr->inend = static_cast<int>(n);
    if (n == 0) sptr->ended = 1;
    return n != 0;
}

} // namespace

// The parser record comes zero-filled, so every count, state and note starts at 0.
xml_parser *open_parser(const parse_source &source, void *payload, int echo, int &error)
{
    if (!source.path) {
        error = ENOMEM; // the only cause left
        xml_parser *p = build_parser(nullptr, source.name ? source.name : "", payload, echo);
        if (p) {
            record_of(p).memory = reinterpret_cast<const unsigned char *>(source.data);
            record_of(p).memory_length = source.data ? source.length : 0;
        }
        return p;
    }
    FILE *h = std::fopen(source.path, "r");
    if (!h) {
        error = errno;
        return nullptr;
    }
    error = ENOMEM;
    return build_parser(h, source.path, payload, echo);
}

bool refill(xml_parser *sptr)
{
    if (sptr->ended) return false;
    return sptr->handle ? refill_from_file(sptr) : refill_from_memory(sptr);
}

void end_input(xml_parser *sptr)
{
    record_of(sptr).zero_byte = 1;
    sptr->ended = 1;
    sptr->inpos = sptr->inend = 0;
}
