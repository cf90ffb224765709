#pragma once
// The streaming XML reader: a lenient state machine that hands tags, attributes and
// element content to a table of callbacks (relays), with a per-parse application
// context that collects text. Including it also gives the quote substitution
// (quote.h) and the value readers and writers (values.h).

#include <cstddef>
#include <cstdio>

#include "qvxml/allocate.h"
#include "qvxml/html.h"
#include "qvxml/quote.h"
#include "qvxml/records.h"
#include "qvxml/status.h"
#include "qvxml/values.h"

// Parses the file nptr with the relays of fptr (required); aptr goes into the first
// payload slot of the application context. A comment (<!-- to -->) is skipped whole.
// A CDATA section (<![CDATA[ to ]]>) inside an element reaches the content relays as
// escaped text in its place would: its &, < and > as &amp;, &lt; and &gt;, its words
// as tokens (the section's start and end cut words); outside every element it is
// skipped. Quotation marks inside either open no quoted token. Without its end either
// runs to the end of the input. Returns 0; status_syntax (2);
// status_unclosed (3), input ended with elements open (0 with set_xml_eof);
// status_cannot_open (4), file cannot be opened or no memory for the parser;
// status_token_too_long (5); or a relay's stopping status (status_no_element (48)
// counts as 0). On failures other than 3 and 4, fptr->failure (when set) is called
// and its result returned. fptr->result receives the context's root whenever the
// file was opened.
QVXML_API int xml_parse(const char *nptr, xml_relay *fptr, void *aptr);

// xml_parse, and fills outcome (may be null) with how the parse ended. The status
// returned is xml_parse's, the failure hook's result included. (Since 1.1.)
QVXML_API int xml_parse_outcome(const char *nptr, xml_relay *fptr, void *aptr,
                                xml_outcome *outcome);
// xml_parse_outcome on length bytes at data instead of a file: the same relay calls,
// content runs cut at the same places, statuses, line counts and outcome as a file
// holding those bytes gives. The reader reads the bytes where they are, so they must
// stay unchanged until the call returns; nothing is copied. name is what the failure
// hook receives (a null name stands for ""). A null data with length 0 reads as
// empty input; with a length above 0 it is refused with status_cannot_open (4),
// outcome->error_number EINVAL, before any relay or hook runs. The parser's handle
// is null during the parse. (Since 1.1.)
QVXML_API int xml_parse_buffer(const char *data, std::size_t length, const char *name,
                               xml_relay *fptr, void *aptr, xml_outcome *outcome);

// xml_parse_outcome with the settings of the call: the relay table is only read, so
// one table may serve many parses at once, and the root comes back in report->root
// instead of the table's result. A null fptr keeps every default relay. settings
// may be null (the process-wide switches). Returns what xml_parse returns, the
// failure callback's result included; status_missing (118), before anything is
// opened or called, for settings whose size is below 1.2's record. (Since 1.2.)
QVXML_API int xml_parse_with(const char *nptr, const xml_relay *fptr, void *aptr,
                             const xml_settings *settings, xml_report *report);
// xml_parse_with on length bytes at data, as xml_parse_buffer reads them. (Since 1.2.)
QVXML_API int xml_parse_buffer_with(const char *data, std::size_t length, const char *name,
                                    const xml_relay *fptr, void *aptr, const xml_settings *settings,
                                    xml_report *report);

// Runs the state machine over an open parser to the end of input or the first
// stopping status, which it returns (status_no_element (48) is returned as is;
// xml_parse maps it to 0).
QVXML_API int xml_parse_tokens(xml_parser *sptr);
// Closes the file and releases the parser with everything it owns; null is ignored.
// Always returns null.
QVXML_API xml_parser *xml_close(xml_parser *h);
// Process-wide switches, read by later parses: allow end of input with elements open;
// echo every character read and every default relay event to standard output.
QVXML_API void set_xml_eof(int v);
QVXML_API void set_xml_echo(int v);

// Prepares a context for a parse: the first text buffer (8192 bytes) when it has
// none, strict from $XMLSTRICT, echo e, offset 0, all payload slots cleared and
// payload stored in the first. Returns 0, or status_no_memory (27) when the first
// buffer cannot be had. A context that already has a buffer keeps it and its
// capacity; its old text is cleared, so the buffer reads as exactly what the next
// parse collects.
QVXML_API int xml_reset(xml_application *xptr, int e, void *payload);
// Makes room for n more bytes of text plus a terminating zero, growing the buffer by
// as many 8192-byte steps as that needs. Returns 0, or status_no_memory (27) with the
// buffer unchanged.
QVXML_API int xml_check_buffer(xml_application *xptr, int n);
// Puts the non-null relays of fptr, and its failure hook, in force in the parser; a
// null fptr changes nothing.
QVXML_API void xml_use_relays(xml_parser *sptr, xml_relay *fptr);
// Releases a context and its text buffer; null is ignored. Always returns null.
QVXML_API xml_application *liberate_xml_application(xml_application *aptr);
