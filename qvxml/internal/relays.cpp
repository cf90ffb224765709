#include "qvxml/internal/relays.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "qvxml/internal/grow.h"
#include "qvxml/internal/input.h"
#include "qvxml/internal/sink.h"

using namespace qvxml::impl;

namespace
{

// ---------------------------------------------------------------------------
// The application context's text buffer

int collect_char(xml_application *x, int c)
{
    if (x->offset + 1 >= x->buflen || !x->buffer)
        if (int st = xml_check_buffer(x, 1); st != 0) return st;
    x->buffer[x->offset++] = static_cast<char>(c);
    x->buffer[x->offset] = '\0';
    return 0;
}

int collect_text(xml_application *x, const char *text)
{
    const std::size_t len = std::strlen(text);
    if (!fits_block(len + 1)) return status_no_memory;
    if (int st = xml_check_buffer(x, static_cast<int>(len)); st != 0) return st;
    std::memcpy(x->buffer + x->offset, text, len + 1);
    x->offset += static_cast<int>(len);
    return 0;
}

// ---------------------------------------------------------------------------
// Default relays: print events when echo is on, collect element content as text

// With echo on, an event is printed as it goes by: where the parse echoes the input
// (the parse's writer, or standard output), so that the two interleave in order.
void show_event(const xml_application *x, std::string_view before, std::string_view text,
                std::string_view after = {})
{
    if (!x->echo) return;
    text_sink standard{stdout};
    text_sink &out =
        x->parent && record_of(x->parent).echo_sink ? *record_of(x->parent).echo_sink : standard;
    out.put(before);
    out.put(text);
    out.put(after);
}

int xml_open_tag(xml_application *x, const char *t)
{
    show_event(x, "<", t, ">");
    return 0;
}

int xml_atb_name(xml_application *x, const char *t)
{
    show_event(x, " ", t);
    return 0;
}

int xml_atb_value(xml_application *x, const char *t)
{
    show_event(x, "=", t);
    return 0;
}

int xml_white_space(xml_application *x, int c)
{
    const char ch = static_cast<char>(c);
    show_event(x, {}, {&ch, 1});
    return collect_char(x, c);
}

int xml_data_token(xml_application *x, const char *t)
{
    show_event(x, {}, t);
    return collect_text(x, t);
}

int xml_data_punctuation(xml_application *x, int c)
{
    const char ch = static_cast<char>(c);
    show_event(x, {}, {&ch, 1});
    return collect_char(x, c);
}

int xml_close_tag(xml_application *x)
{
    show_event(x, "</end>", {});
    return 0;
}

int xml_failure(const char *, int status, int)
{
    return status;
}

} // namespace

xml_relay default_relays()
{
    return xml_relay{.open_tag = xml_open_tag,
                     .atb_name = xml_atb_name,
                     .atb_value = xml_atb_value,
                     .white_space = xml_white_space,
                     .token = xml_data_token,
                     .punctuation = xml_data_punctuation,
                     .close_tag = xml_close_tag,
                     .failure = xml_failure,
                     .result = nullptr,
                     .content_run = nullptr};
}
