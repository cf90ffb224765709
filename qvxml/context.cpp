// The application context of a parse and the relay table in force: the context's
// text buffer and the installing of an application's relays.
#include "qvxml/internal/impl.h"

#include <cstdlib>
#include <cstring>

#include "qvxml/internal/grow.h"

using namespace qvxml::impl;

int qvxml::impl::xml_reset(xml_application *xptr, int e, void *payload)
{
    if (!xptr->buffer) {
        xptr->buflen = xml_buffer_step;
        xptr->buffer = static_cast<char *>(allocate_secure(xml_buffer_step));
        if (!xptr->buffer) return status_no_memory;
    } else {
        // a reused context starts with empty text, so the buffer always reads as
        // exactly what this parse collected
        std::memset(xptr->buffer, 0, static_cast<std::size_t>(xptr->buflen));
    }
    const char *strict = std::getenv("XMLSTRICT");
    xptr->strict = strict ? static_cast<signed char>(strict[0]) : 0;
    xptr->echo = e;
    xptr->offset = 0;
    xptr->nested = 0;
    xptr->parent = nullptr;
    for (void *&slot : xptr->payload)
        slot = nullptr;
    xptr->payload[0] = payload;
    return 0;
}

int qvxml::impl::xml_check_buffer(xml_application *xptr, int n)
{
    if (n < 0) n = 0;
    const long long capacity = xptr->buffer ? xptr->buflen : 0;
    const long long needed = static_cast<long long>(xptr->offset) + n + 1;
    if (needed <= capacity) return 0;
    const long long steps = (needed - capacity + xml_buffer_step - 1) / xml_buffer_step;
    const long long grown = capacity + steps * xml_buffer_step;
    const std::size_t keep = xptr->buffer ? static_cast<std::size_t>(xptr->offset) : 0;
    void *bigger = regrow_block(xptr->buffer, keep, static_cast<std::size_t>(grown), true);
    if (!bigger) return status_no_memory;
    xptr->buffer = static_cast<char *>(bigger);
    xptr->buflen = static_cast<int>(grown);
    return 0;
}

void qvxml::impl::xml_use_relays(xml_parser *sptr, xml_relay *fptr)
{
    if (!fptr) return;
    xml_relay &r = *sptr->user;
    if (fptr->open_tag) r.open_tag = fptr->open_tag;
    if (fptr->atb_name) r.atb_name = fptr->atb_name;
    if (fptr->atb_value) r.atb_value = fptr->atb_value;
    if (fptr->white_space) r.white_space = fptr->white_space;
    if (fptr->token) r.token = fptr->token;
    if (fptr->punctuation) r.punctuation = fptr->punctuation;
    if (fptr->close_tag) r.close_tag = fptr->close_tag;
    if (fptr->failure) r.failure = fptr->failure;
    if (fptr->content_run) r.content_run = fptr->content_run;
}

xml_application *qvxml::impl::liberate_xml_application(xml_application *aptr)
{
    if (!aptr) return nullptr;
    liberate(aptr->buffer);
    liberate(aptr);
    return nullptr;
}
