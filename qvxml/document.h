#pragma once
// Loading a file into a tree, finding and editing elements and attributes, and
// writing a tree back out as indented XML.

#include <cstddef>
#include <cstdio>

#include "qvxml/allocate.h"
#include "qvxml/records.h"
#include "qvxml/status.h"
#include "qvxml/tree.h"

// Loads the file sptr and returns the root: the last top-level element closed. The
// caller owns the tree and releases it with document_drop. Null when the file cannot
// be opened, holds no element, or the parse fails before a top-level element closed;
// whatever a failed parse built is released before returning.
QVXML_API xml_element *document_parse_file(const char *sptr);
// Releases document and its subtree (not its following siblings); null is ignored.
// Always returns null.
QVXML_API xml_element *document_drop(xml_element *document);

// Loads the file sptr as document_parse_file does, but hands over each child of a
// top-level element as soon as it closes instead of keeping the tree, so memory holds
// one such child at a time. Returns the number of top-level elements that closed:
// with document_parse_file, the root is the last of them, and 0 means the file could
// not be loaded. A failure stops the load where it occurs; what was reported before
// stands, so a caller that needs all or nothing holds back its results until the end.
QVXML_API int document_stream_file(const char *sptr, const document_stream *stream);

// document_parse_file and document_stream_file, filling outcome (may be null) with
// how the load ended: its status (status_ok, a reader status, status_no_memory (27),
// a callback's stopping status, or status_missing (118) for a null stream), the line
// and the errno of a failed open or read (see xml_outcome). A load that returns null
// or 0 with status_ok met no complete element. During a streamed load's callbacks,
// outcome->element_line holds the line on which the element handed over began.
// (Since 1.1.)
QVXML_API xml_element *document_parse_file_outcome(const char *sptr, xml_outcome *outcome);
QVXML_API int document_stream_file_outcome(const char *sptr, const document_stream *stream,
                                           xml_outcome *outcome);
// The same loads of length bytes at data instead of a file, with the same trees,
// callbacks, results and outcome as a file holding those bytes gives. The bytes are
// read where they are (nothing is copied), so they must stay unchanged until the call
// returns; the tree returned shares nothing with them. name names the input for the
// caller's messages and may be null. A null data with length 0 loads as empty input;
// with a length above 0 it is refused as an input that cannot be opened
// (status_cannot_open (4), errno EINVAL): null, or 0. (Since 1.1.)
QVXML_API xml_element *document_parse_buffer(const char *data, std::size_t length, const char *name,
                                             xml_outcome *outcome);
QVXML_API int document_stream_buffer(const char *data, std::size_t length, const char *name,
                                     const document_stream *stream, xml_outcome *outcome);

// The four loads above with the settings of the call (see xml_settings): settings may
// be null (the process-wide switches), report may be null. The report's line counts
// are whole; during a streamed load's callbacks report->element_line holds the line
// on which the element handed over began. A load's own relays take the element
// content, so the echo holds only the characters read. Results as the loads above
// give, and null or 0 with status_missing (118) for settings whose size is below
// 1.2's record. (Since 1.2.)
QVXML_API xml_element *document_parse_file_with(const char *sptr, const xml_settings *settings,
                                                xml_report *report);
QVXML_API xml_element *document_parse_buffer_with(const char *data, std::size_t length,
                                                  const char *name, const xml_settings *settings,
                                                  xml_report *report);
QVXML_API int document_stream_file_with(const char *sptr, const document_stream *stream,
                                        const xml_settings *settings, xml_report *report);
QVXML_API int document_stream_buffer_with(const char *data, std::size_t length, const char *name,
                                          const document_stream *stream,
                                          const xml_settings *settings, xml_report *report);

// document itself when its name is token, else its first direct child of that name,
// else null (also for a null document or token).
QVXML_API xml_element *document_element(const xml_element *document, const char *token);
// The first element named token at or below document: each element's direct
// children are tested before the search descends into them, child by child. Null
// when there is none, or document or token is null.
QVXML_API xml_element *nested_document_element(const xml_element *document, const char *token);
// The first attribute of element named token; null when none, or either is null.
QVXML_API xml_atribut *document_atribut(const xml_element *element, const char *token);
// The attribute's value as a number: "0x" followed by hexadecimal digits, or a
// decimal number (after one leading quotation mark or apostrophe, if any). 0 for a
// null attribute or value.
QVXML_API int document_atribut_value(const xml_atribut *aptr);
// A new copy of the value without its enclosing quotation marks, in secure memory
// (password) or ordinary memory (string); the caller releases it with liberate.
// Null for a null attribute or value, or when memory is exhausted. A lone
// quotation mark gives the empty text.
QVXML_API char *document_atribut_password(const xml_atribut *aptr);
QVXML_API char *document_atribut_string(const xml_atribut *aptr);
// A new element named nptr, appended as last child of dptr (detached when dptr is
// null). Null, with nothing left behind, when nptr is null or memory is exhausted.
QVXML_API xml_element *document_add_element(xml_element *dptr, const char *nptr);
// A new element named nptr, inserted as the first child of dptr; null when dptr or
// nptr is null or memory is exhausted.
QVXML_API xml_element *document_prefix_element(xml_element *dptr, const char *nptr);
// A new attribute with copies of nptr and vptr (stored exactly as given), appended
// to eptr (detached when eptr is null). Null when either text is null or memory is
// exhausted.
QVXML_API xml_atribut *document_add_atribut(xml_element *eptr, const char *nptr, const char *vptr);
// Unlinks eptr from its parent and siblings and releases it with its subtree.
// Returns 0; a null eptr is ignored.
QVXML_API int document_remove_element(xml_element *eptr);
// Inserts the detached element eptr directly after dptr, under dptr's parent.
// Returns 0; does nothing when either is null.
QVXML_API int document_append_element(xml_element *dptr, xml_element *eptr);
// Inserts the chain that starts at eptr (linked by next) after dptr, in its order.
// The chain's former parent is not changed. Returns 0; a null dptr does nothing.
QVXML_API int document_append_elements(xml_element *dptr, xml_element *eptr);

// Write eptr and its following siblings at depth level (tabs), with their subtrees,
// as indented XML: to standard output, or to the open stream h. Null writes nothing.
// Uses no stack in proportion to the depth of the tree.
QVXML_API void document_show_element(const xml_element *eptr, int level);
QVXML_API void document_serialise_element(FILE *h, const xml_element *eptr, int level);

// document_show_element's text in pieces, so that a tree can be written as it is read
// (with document_stream_file, say) byte for byte as the whole tree would be shown:
// - document_write_element: element and its subtree, not its following siblings, at
//   depth level;
// - document_write_start: the start tag of an element with content (children or
//   text): level tabs, "<name", each attribute on a line of its own at level + 1,
//   then ">" and a line feed, whatever element holds at the time;
// - document_write_end: the end of such an element once its children were written at
//   level + 1: its text (if any) on a line of its own at level, then "</name>" and a
//   line feed at level.
// An element without content is written whole by document_write_element (as
// "<name/>"). Each writes its text in as few calls to write as it can, and returns 0,
// the first non-zero result of write (nothing more is written after it), or
// status_missing (118) for a null writer or write. A null element writes nothing.
// Uses no stack in proportion to the depth of the tree. (Since 1.1.)
QVXML_API int document_write_element(const document_writer *writer, const xml_element *element,
                                     int level);
QVXML_API int document_write_start(const document_writer *writer, const xml_element *element,
                                   int level);
QVXML_API int document_write_end(const document_writer *writer, const xml_element *element,
                                 int level);
// Creates (or truncates) filename and writes the XML declaration and the chain from
// eptr at depth 0. Returns 0, or status_cannot_create (46) when the file cannot be created
// or the text cannot all be written to it (a full device, say).
QVXML_API int document_serialise_file(const xml_element *eptr, const char *filename);
