#pragma once
// The library's operations under internal names. Every source of the library calls
// these, never the exported names: the exported names (exports.cpp) are thin wrappers
// over them that a program may replace with functions of its own, with the same
// names, without the library's own calls reaching the program's functions. They have
// hidden visibility, so the shared object binds its calls to them at link time.
// A library source includes this header (which brings qvxml/records.h) instead of the
// public headers that declare the exported names, says "using namespace qvxml::impl",
// and defines an operation by its qualified name (qvxml::impl::allocate). A public
// header included beside it makes the calls ambiguous, so they fail to compile, and an
// operation defined under its bare name leaves the internal one undefined at link.
// The declarations follow the public headers' order; their comments there say what
// each does.

#include <cstddef>
#include <cstdio>
#include <pthread.h>

#include "qvxml/export.h"
#include "qvxml/records.h"

// The library's variables keep their exported names.
QVXML_API extern pthread_mutex_t allocation_control;
QVXML_API extern const macro_conversions MacMan[xml_macro_rows];
QVXML_API extern int MaxMacMan;

namespace qvxml::impl
{

// allocate.h
void *allocate(int n);
void *allocate_secure(int n);
void *liberate(void *v);
void *liberate_secure(void *v);
// Releases the n blocks at blocks (none null) in turn, as liberate would one by one,
// taking the allocator's lock once for them all. Returns 0.
std::size_t liberate_blocks(void *const *blocks, std::size_t n);
char *allocate_string(const char *s);
char *allocate_string_secure(const char *s);
// A secure, terminated copy of the len bytes at s, for a caller that knows len.
char *allocate_string_secure(const char *s, std::size_t len);
char *join_string(char *rptr, const char *sptr);
char *join_strings(char *rptr, char *sptr);
char *join_string_sep(char *rptr, const char *sptr, const char *sep);
int set_memory_trace(int v);
void allocation_trace(int mode);
void reset_allocate_statistics();
void get_allocate_statistics(unsigned long *a, unsigned long *l, unsigned long long *t);

// element.h
xml_element *allocate_element();
xml_atribut *allocate_atribut();
void add_element(xml_element *eptr, xml_element *aptr);
void add_atribut(xml_element *eptr, xml_atribut *aptr);
xml_element *liberate_element(xml_element *eptr);
xml_atribut *liberate_atribut(xml_atribut *aptr);
int extend_value(char **vptr, const char *tptr, int tlen);
void show_element(const xml_element *eptr);

// document.h
xml_element *document_parse_file(const char *sptr);
xml_element *document_drop(xml_element *document);
int document_stream_file(const char *sptr, const document_stream *stream);
xml_element *document_parse_file_outcome(const char *sptr, xml_outcome *outcome);
int document_stream_file_outcome(const char *sptr, const document_stream *stream,
                                 xml_outcome *outcome);
xml_element *document_parse_buffer(const char *data, std::size_t length, const char *name,
                                   xml_outcome *outcome);
int document_stream_buffer(const char *data, std::size_t length, const char *name,
                           const document_stream *stream, xml_outcome *outcome);
xml_element *document_parse_file_with(const char *sptr, const xml_settings *settings,
                                      xml_report *report);
xml_element *document_parse_buffer_with(const char *data, std::size_t length, const char *name,
                                        const xml_settings *settings, xml_report *report);
int document_stream_file_with(const char *sptr, const document_stream *stream,
                              const xml_settings *settings, xml_report *report);
int document_stream_buffer_with(const char *data, std::size_t length, const char *name,
                                const document_stream *stream, const xml_settings *settings,
                                xml_report *report);
xml_element *document_element(const xml_element *document, const char *token);
xml_element *nested_document_element(const xml_element *document, const char *token);
xml_atribut *document_atribut(const xml_element *element, const char *token);
int document_atribut_value(const xml_atribut *aptr);
char *document_atribut_password(const xml_atribut *aptr);
char *document_atribut_string(const xml_atribut *aptr);
xml_element *document_add_element(xml_element *dptr, const char *nptr);
xml_element *document_prefix_element(xml_element *dptr, const char *nptr);
xml_atribut *document_add_atribut(xml_element *eptr, const char *nptr, const char *vptr);
int document_remove_element(xml_element *eptr);
int document_append_element(xml_element *dptr, xml_element *eptr);
int document_append_elements(xml_element *dptr, xml_element *eptr);
void document_show_element(const xml_element *eptr, int level);
void document_serialise_element(FILE *h, const xml_element *eptr, int level);
int document_write_element(const document_writer *writer, const xml_element *element, int level);
int document_write_start(const document_writer *writer, const xml_element *element, int level);
int document_write_end(const document_writer *writer, const xml_element *element, int level);
int document_serialise_file(const xml_element *eptr, const char *filename);

// html.h
void use_html_macros();
void use_xml_macros();
void convert_html_accents(char **mptr, int mode);

// quote.h
std::size_t translate_string_with_string(const char *input, char *buffer, int buffersize,
                                         const char *replace, const char *with);
std::size_t translate_string_with_string_startpos(const char *startpos, const char *input,
                                                  char *buffer, int buffersize, const char *replace,
                                                  const char *with);
void fprintf_xml_string_attribute(FILE *h, const char *format, const char *attribute);
char *unserialize_xml_string_attribute_value(char *value);
// The same for a value whose length the caller knows.
char *unserialize_xml_string_attribute_value(char *value, std::size_t length);

// values.h
void xml_get_word(xml_application *xptr, int *iptr);
void xml_get_xy(xml_application *xptr, int *a, int *b);
void xml_get_xyz(xml_application *xptr, int *a, int *b, int *c);
void xml_get_string(xml_application *xptr, char **target);
void xml_get_filename_string(xml_application *xptr, char **target);
void xml_get_text(xml_application *xptr, char **rptr);
int xml_mnemonic(const char *sptr, const char *mptr);
int indent(FILE *h, int margin);
void xml_linefeed(FILE *h);
void xml_put_string(FILE *h, const char *name, const char *value, int margin);
void xml_put_filename(FILE *h, const char *value);
void xml_put_filename_string(FILE *h, const char *name, const char *value, int margin);
void xml_put_cdata(FILE *h, const char *sptr);
void xml_put_word(FILE *h, const char *name, int value, int margin);

// xmlparse.h
int xml_parse(const char *nptr, xml_relay *fptr, void *aptr);
int xml_parse_outcome(const char *nptr, xml_relay *fptr, void *aptr, xml_outcome *outcome);
int xml_parse_buffer(const char *data, std::size_t length, const char *name, xml_relay *fptr,
                     void *aptr, xml_outcome *outcome);
int xml_parse_with(const char *nptr, const xml_relay *fptr, void *aptr,
                   const xml_settings *settings, xml_report *report);
int xml_parse_buffer_with(const char *data, std::size_t length, const char *name,
                          const xml_relay *fptr, void *aptr, const xml_settings *settings,
                          xml_report *report);
int xml_parse_tokens(xml_parser *sptr);
xml_parser *xml_close(xml_parser *h);
void set_xml_eof(int v);
void set_xml_echo(int v);
int xml_reset(xml_application *xptr, int e, void *payload);
int xml_check_buffer(xml_application *xptr, int n);
void xml_use_relays(xml_parser *sptr, xml_relay *fptr);
xml_application *liberate_xml_application(xml_application *aptr);

} // namespace qvxml::impl
