// The entry points of qvxml.hpp: each calls the library's operation of the same role
// under its internal name.

#include "qvxml/internal/impl.h"

#include <cstring>

#include "qvxml/internal/entities.h"
#include "qvxml/qvxml.hpp"

xml_element *qvxml::detail::load_file(const char *path, const xml_settings *settings,
                                      xml_report *report)
{
    return impl::document_parse_file_with(path, settings, report);
}

xml_element *qvxml::detail::load_bytes(const char *data, std::size_t length, const char *name,
                                       const xml_settings *settings, xml_report *report)
{
    return impl::document_parse_buffer_with(data, length, name, settings, report);
}

int qvxml::detail::stream_file(const char *path, const document_stream *stream,
                               const xml_settings *settings, xml_report *report)
{
    return impl::document_stream_file_with(path, stream, settings, report);
}

int qvxml::detail::stream_bytes(const char *data, std::size_t length, const char *name,
                                const document_stream *stream, const xml_settings *settings,
                                xml_report *report)
{
    return impl::document_stream_buffer_with(data, length, name, stream, settings, report);
}

int qvxml::detail::read_file(const char *path, const xml_relay *relays, void *payload,
                             const xml_settings *settings, xml_report *report)
{
    return impl::xml_parse_with(path, relays, payload, settings, report);
}

int qvxml::detail::read_bytes(const char *data, std::size_t length, const char *name,
                              const xml_relay *relays, void *payload, const xml_settings *settings,
                              xml_report *report)
{
    return impl::xml_parse_buffer_with(data, length, name, relays, payload, settings, report);
}

int qvxml::detail::write_element(const document_writer *writer, const xml_element *element,
                                 int level)
{
    return impl::document_write_element(writer, element, level);
}

xml_element *qvxml::detail::drop(xml_element *root)
{
    return impl::document_drop(root);
}

// The text has no zero byte (a tree's texts end at the first), so the decoded length
// is where the decoding put its terminator, or the whole when nothing was converted.
std::size_t qvxml::detail::decode(const char *text, std::size_t length, char *out)
{
    if (length == 0) return 0;
    std::memcpy(out, text, length);
    decode_entity_names(out, length, xml_macro_rows);
    return strnlen(out, length);
}
