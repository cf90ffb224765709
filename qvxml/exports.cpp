// The exported operations: each calls its namesake in qvxml::impl (internal/impl.h),
// the one the library's own sources call. They are defined weak, so a program that
// defines a function of one of these names and signatures links with the static
// archive too: its definition takes the place of the wrapper for the program's own
// calls, while the library keeps calling its internal names.

#include "qvxml/document.h"
#include "qvxml/element.h"
#include "qvxml/html.h"
#include "qvxml/internal/impl.h"
#include "qvxml/quote.h"
#include "qvxml/values.h"
#include "qvxml/xmlparse.h"

#define QVXML_LEGACY __attribute__((weak))

// allocate.h

QVXML_LEGACY void *allocate(int n)
{
    return qvxml::impl::allocate(n);
}

QVXML_LEGACY void *allocate_secure(int n)
{
    return qvxml::impl::allocate_secure(n);
}

QVXML_LEGACY void *liberate(void *v)
{
    return qvxml::impl::liberate(v);
}

QVXML_LEGACY void *liberate_secure(void *v)
{
    return qvxml::impl::liberate_secure(v);
}

QVXML_LEGACY char *allocate_string(const char *s)
{
    return qvxml::impl::allocate_string(s);
}

QVXML_LEGACY char *allocate_string_secure(const char *s)
{
    return qvxml::impl::allocate_string_secure(s);
}

QVXML_LEGACY char *join_string(char *rptr, const char *sptr)
{
    return qvxml::impl::join_string(rptr, sptr);
}

QVXML_LEGACY char *join_strings(char *rptr, char *sptr)
{
    return qvxml::impl::join_strings(rptr, sptr);
}

QVXML_LEGACY char *join_string_sep(char *rptr, const char *sptr, const char *sep)
{
    return qvxml::impl::join_string_sep(rptr, sptr, sep);
}

QVXML_LEGACY int set_memory_trace(int v)
{
    return qvxml::impl::set_memory_trace(v);
}

QVXML_LEGACY void allocation_trace(int mode)
{
    qvxml::impl::allocation_trace(mode);
}

QVXML_LEGACY void reset_allocate_statistics()
{
    qvxml::impl::reset_allocate_statistics();
}

QVXML_LEGACY void get_allocate_statistics(unsigned long *a, unsigned long *l, unsigned long long *t)
{
    qvxml::impl::get_allocate_statistics(a, l, t);
}

// element.h

QVXML_LEGACY xml_element *allocate_element()
{
    return qvxml::impl::allocate_element();
}

QVXML_LEGACY xml_atribut *allocate_atribut()
{
    return qvxml::impl::allocate_atribut();
}

QVXML_LEGACY void add_element(xml_element *eptr, xml_element *aptr)
{
    qvxml::impl::add_element(eptr, aptr);
}

QVXML_LEGACY void add_atribut(xml_element *eptr, xml_atribut *aptr)
{
    qvxml::impl::add_atribut(eptr, aptr);
}

QVXML_LEGACY xml_element *liberate_element(xml_element *eptr)
{
    return qvxml::impl::liberate_element(eptr);
}

QVXML_LEGACY xml_atribut *liberate_atribut(xml_atribut *aptr)
{
    return qvxml::impl::liberate_atribut(aptr);
}

QVXML_LEGACY int extend_value(char **vptr, const char *tptr, int tlen)
{
    return qvxml::impl::extend_value(vptr, tptr, tlen);
}

QVXML_LEGACY void show_element(const xml_element *eptr)
{
    qvxml::impl::show_element(eptr);
}

// document.h

QVXML_LEGACY xml_element *document_parse_file(const char *sptr)
{
    return qvxml::impl::document_parse_file(sptr);
}

QVXML_LEGACY xml_element *document_drop(xml_element *document)
{
    return qvxml::impl::document_drop(document);
}

QVXML_LEGACY int document_stream_file(const char *sptr, const document_stream *stream)
{
    return qvxml::impl::document_stream_file(sptr, stream);
}

QVXML_LEGACY xml_element *document_parse_file_outcome(const char *sptr, xml_outcome *outcome)
{
    return qvxml::impl::document_parse_file_outcome(sptr, outcome);
}

QVXML_LEGACY int document_stream_file_outcome(const char *sptr, const document_stream *stream,
                                              xml_outcome *outcome)
{
    return qvxml::impl::document_stream_file_outcome(sptr, stream, outcome);
}

QVXML_LEGACY xml_element *document_parse_buffer(const char *data, std::size_t length,
                                                const char *name, xml_outcome *outcome)
{
    return qvxml::impl::document_parse_buffer(data, length, name, outcome);
}

QVXML_LEGACY int document_stream_buffer(const char *data, std::size_t length, const char *name,
                                        const document_stream *stream, xml_outcome *outcome)
{
    return qvxml::impl::document_stream_buffer(data, length, name, stream, outcome);
}

QVXML_LEGACY xml_element *document_parse_file_with(const char *sptr, const xml_settings *settings,
                                                   xml_report *report)
{
    return qvxml::impl::document_parse_file_with(sptr, settings, report);
}

QVXML_LEGACY xml_element *document_parse_buffer_with(const char *data, std::size_t length,
                                                     const char *name, const xml_settings *settings,
                                                     xml_report *report)
{
    return qvxml::impl::document_parse_buffer_with(data, length, name, settings, report);
}

QVXML_LEGACY int document_stream_file_with(const char *sptr, const document_stream *stream,
                                           const xml_settings *settings, xml_report *report)
{
    return qvxml::impl::document_stream_file_with(sptr, stream, settings, report);
}

QVXML_LEGACY int document_stream_buffer_with(const char *data, std::size_t length, const char *name,
                                             const document_stream *stream,
                                             const xml_settings *settings, xml_report *report)
{
    return qvxml::impl::document_stream_buffer_with(data, length, name, stream, settings, report);
}

QVXML_LEGACY xml_element *document_element(const xml_element *document, const char *token)
{
    return qvxml::impl::document_element(document, token);
}

QVXML_LEGACY xml_element *nested_document_element(const xml_element *document, const char *token)
{
    return qvxml::impl::nested_document_element(document, token);
}

QVXML_LEGACY xml_atribut *document_atribut(const xml_element *element, const char *token)
{
    return qvxml::impl::document_atribut(element, token);
}

QVXML_LEGACY int document_atribut_value(const xml_atribut *aptr)
{
    return qvxml::impl::document_atribut_value(aptr);
}

QVXML_LEGACY char *document_atribut_password(const xml_atribut *aptr)
{
    return qvxml::impl::document_atribut_password(aptr);
}

QVXML_LEGACY char *document_atribut_string(const xml_atribut *aptr)
{
    return qvxml::impl::document_atribut_string(aptr);
}

QVXML_LEGACY xml_element *document_add_element(xml_element *dptr, const char *nptr)
{
    return qvxml::impl::document_add_element(dptr, nptr);
}

QVXML_LEGACY xml_element *document_prefix_element(xml_element *dptr, const char *nptr)
{
    return qvxml::impl::document_prefix_element(dptr, nptr);
}

QVXML_LEGACY xml_atribut *document_add_atribut(xml_element *eptr, const char *nptr,
                                               const char *vptr)
{
    return qvxml::impl::document_add_atribut(eptr, nptr, vptr);
}

QVXML_LEGACY int document_remove_element(xml_element *eptr)
{
    return qvxml::impl::document_remove_element(eptr);
}

QVXML_LEGACY int document_append_element(xml_element *dptr, xml_element *eptr)
{
    return qvxml::impl::document_append_element(dptr, eptr);
}

QVXML_LEGACY int document_append_elements(xml_element *dptr, xml_element *eptr)
{
    return qvxml::impl::document_append_elements(dptr, eptr);
}

QVXML_LEGACY void document_show_element(const xml_element *eptr, int level)
{
    qvxml::impl::document_show_element(eptr, level);
}

QVXML_LEGACY void document_serialise_element(FILE *h, const xml_element *eptr, int level)
{
    qvxml::impl::document_serialise_element(h, eptr, level);
}

QVXML_LEGACY int document_write_element(const document_writer *writer, const xml_element *element,
                                        int level)
{
    return qvxml::impl::document_write_element(writer, element, level);
}

QVXML_LEGACY int document_write_start(const document_writer *writer, const xml_element *element,
                                      int level)
{
    return qvxml::impl::document_write_start(writer, element, level);
}

QVXML_LEGACY int document_write_end(const document_writer *writer, const xml_element *element,
                                    int level)
{
    return qvxml::impl::document_write_end(writer, element, level);
}

QVXML_LEGACY int document_serialise_file(const xml_element *eptr, const char *filename)
{
    return qvxml::impl::document_serialise_file(eptr, filename);
}

// html.h

QVXML_LEGACY void use_html_macros()
{
    qvxml::impl::use_html_macros();
}

QVXML_LEGACY void use_xml_macros()
{
    qvxml::impl::use_xml_macros();
}

QVXML_LEGACY void convert_html_accents(char **mptr, int mode)
{
    qvxml::impl::convert_html_accents(mptr, mode);
}

// quote.h

QVXML_LEGACY std::size_t translate_string_with_string(const char *input, char *buffer,
                                                      int buffersize, const char *replace,
                                                      const char *with)
{
    return qvxml::impl::translate_string_with_string(input, buffer, buffersize, replace, with);
}

QVXML_LEGACY std::size_t translate_string_with_string_startpos(const char *startpos,
                                                               const char *input, char *buffer,
                                                               int buffersize, const char *replace,
                                                               const char *with)
{
    return qvxml::impl::translate_string_with_string_startpos(startpos, input, buffer, buffersize,
                                                              replace, with);
}

QVXML_LEGACY void fprintf_xml_string_attribute(FILE *h, const char *format, const char *attribute)
{
    qvxml::impl::fprintf_xml_string_attribute(h, format, attribute);
}

QVXML_LEGACY char *unserialize_xml_string_attribute_value(char *value)
{
    return qvxml::impl::unserialize_xml_string_attribute_value(value);
}

// values.h

QVXML_LEGACY void xml_get_word(xml_application *xptr, int *iptr)
{
    qvxml::impl::xml_get_word(xptr, iptr);
}

QVXML_LEGACY void xml_get_xy(xml_application *xptr, int *a, int *b)
{
    qvxml::impl::xml_get_xy(xptr, a, b);
}

QVXML_LEGACY void xml_get_xyz(xml_application *xptr, int *a, int *b, int *c)
{
    qvxml::impl::xml_get_xyz(xptr, a, b, c);
}

QVXML_LEGACY void xml_get_string(xml_application *xptr, char **target)
{
    qvxml::impl::xml_get_string(xptr, target);
}

QVXML_LEGACY void xml_get_filename_string(xml_application *xptr, char **target)
{
    qvxml::impl::xml_get_filename_string(xptr, target);
}

QVXML_LEGACY void xml_get_text(xml_application *xptr, char **rptr)
{
    qvxml::impl::xml_get_text(xptr, rptr);
}

QVXML_LEGACY int xml_mnemonic(const char *sptr, const char *mptr)
{
    return qvxml::impl::xml_mnemonic(sptr, mptr);
}

QVXML_LEGACY int indent(FILE *h, int margin)
{
    return qvxml::impl::indent(h, margin);
}

QVXML_LEGACY void xml_linefeed(FILE *h)
{
    qvxml::impl::xml_linefeed(h);
}

QVXML_LEGACY void xml_put_string(FILE *h, const char *name, const char *value, int margin)
{
    qvxml::impl::xml_put_string(h, name, value, margin);
}

QVXML_LEGACY void xml_put_filename(FILE *h, const char *value)
{
    qvxml::impl::xml_put_filename(h, value);
}

QVXML_LEGACY void xml_put_filename_string(FILE *h, const char *name, const char *value, int margin)
{
    qvxml::impl::xml_put_filename_string(h, name, value, margin);
}

QVXML_LEGACY void xml_put_cdata(FILE *h, const char *sptr)
{
    qvxml::impl::xml_put_cdata(h, sptr);
}

QVXML_LEGACY void xml_put_word(FILE *h, const char *name, int value, int margin)
{
    qvxml::impl::xml_put_word(h, name, value, margin);
}

// xmlparse.h

QVXML_LEGACY int xml_parse(const char *nptr, xml_relay *fptr, void *aptr)
{
    return qvxml::impl::xml_parse(nptr, fptr, aptr);
}

QVXML_LEGACY int xml_parse_outcome(const char *nptr, xml_relay *fptr, void *aptr,
                                   xml_outcome *outcome)
{
    return qvxml::impl::xml_parse_outcome(nptr, fptr, aptr, outcome);
}

QVXML_LEGACY int xml_parse_buffer(const char *data, std::size_t length, const char *name,
                                  xml_relay *fptr, void *aptr, xml_outcome *outcome)
{
    return qvxml::impl::xml_parse_buffer(data, length, name, fptr, aptr, outcome);
}

QVXML_LEGACY int xml_parse_with(const char *nptr, const xml_relay *fptr, void *aptr,
                                const xml_settings *settings, xml_report *report)
{
    return qvxml::impl::xml_parse_with(nptr, fptr, aptr, settings, report);
}

QVXML_LEGACY int xml_parse_buffer_with(const char *data, std::size_t length, const char *name,
                                       const xml_relay *fptr, void *aptr,
                                       const xml_settings *settings, xml_report *report)
{
    return qvxml::impl::xml_parse_buffer_with(data, length, name, fptr, aptr, settings, report);
}

QVXML_LEGACY int xml_parse_tokens(xml_parser *sptr)
{
    return qvxml::impl::xml_parse_tokens(sptr);
}

QVXML_LEGACY xml_parser *xml_close(xml_parser *h)
{
    return qvxml::impl::xml_close(h);
}

QVXML_LEGACY void set_xml_eof(int v)
{
    qvxml::impl::set_xml_eof(v);
}

QVXML_LEGACY void set_xml_echo(int v)
{
    qvxml::impl::set_xml_echo(v);
}

QVXML_LEGACY int xml_reset(xml_application *xptr, int e, void *payload)
{
    return qvxml::impl::xml_reset(xptr, e, payload);
}

QVXML_LEGACY int xml_check_buffer(xml_application *xptr, int n)
{
    return qvxml::impl::xml_check_buffer(xptr, n);
}

QVXML_LEGACY void xml_use_relays(xml_parser *sptr, xml_relay *fptr)
{
    qvxml::impl::xml_use_relays(sptr, fptr);
}

QVXML_LEGACY xml_application *liberate_xml_application(xml_application *aptr)
{
    return qvxml::impl::liberate_xml_application(aptr);
}
