#pragma once
// Value readers and writers for applications that parse with their own relays: the
// readers interpret the text the default relays collected in an application context,
// the writers put simple XML elements on an output stream.

#include <cstdio>

#include "qvxml/export.h"

struct xml_application;

// ---------------------------------------------------------------------------
// Value readers: interpret the text collected in an application context. A null
// context or target is ignored.

// Reads one, two or three unsigned decimal numbers separated by blanks; a missing
// number reads as 0, and any other separator ends the reading. Overflow wraps.
QVXML_API void xml_get_word(xml_application *xptr, int *iptr);
QVXML_API void xml_get_xy(xml_application *xptr, int *a, int *b);
QVXML_API void xml_get_xyz(xml_application *xptr, int *a, int *b, int *c);
// Releases what *target holds and stores a new ordinary copy of the text (null when
// memory is exhausted); the caller owns it.
QVXML_API void xml_get_string(xml_application *xptr, char **target);
// As xml_get_string, with every backslash of the copy turned into a slash.
QVXML_API void xml_get_filename_string(xml_application *xptr, char **target);
// Stores in *rptr a new copy of the text with entity names (the XML extent) turned
// into characters; what *rptr held is not released. MaxMacMan is neither read nor written.
QVXML_API void xml_get_text(xml_application *xptr, char **rptr);
// 1 when sptr begins with mptr (an empty mptr matches anything), else 0.
QVXML_API int xml_mnemonic(const char *sptr, const char *mptr);

// ---------------------------------------------------------------------------
// Value writers: simple XML elements on an output stream, nothing escaped. A null
// stream gets nothing.

// Writes the indentation for margin (one tab per level, nothing below 1); returns 0.
QVXML_API int indent(FILE *h, int margin);
// One line feed.
QVXML_API void xml_linefeed(FILE *h);
// <name>value</name> on a line of its own at margin; nothing when name or value is null.
QVXML_API void xml_put_string(FILE *h, const char *name, const char *value, int margin);
// The characters of value, unchanged, with no line feed.
QVXML_API void xml_put_filename(FILE *h, const char *value);
// As xml_put_string, the value written by xml_put_filename.
QVXML_API void xml_put_filename_string(FILE *h, const char *name, const char *value, int margin);
// sptr with characters turned into entity names (the XML extent); no line feed.
// Nothing when sptr is null or memory is exhausted. MaxMacMan is neither read nor written.
QVXML_API void xml_put_cdata(FILE *h, const char *sptr);
// <name>value</name> with value as an unsigned decimal number, on a line at margin;
// nothing when name is null.
QVXML_API void xml_put_word(FILE *h, const char *name, int value, int margin);
