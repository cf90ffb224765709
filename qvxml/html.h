#pragma once
// Conversion between the accented letters of IBM code page 437 (and, at the XML
// extent, the four markup characters) and their HTML entity names.

#include "qvxml/allocate.h"
#include "qvxml/records.h"

// The fixed table; its order decides which rows belong to the HTML extent.
QVXML_API extern const macro_conversions MacMan[xml_macro_rows];
// Rows in force for lookups: 22 at start (HTML extent) or 26 (XML extent).
QVXML_API extern int MaxMacMan;

// Puts the HTML extent (the first 22 rows) in force.
QVXML_API void use_html_macros();
// Puts the XML extent (all 26 rows) in force.
QVXML_API void use_xml_macros();
// Mode 1: entity names in *mptr (a tracked block) become characters, in place.
// Mode 2: characters with a name become entity names; *mptr is replaced by a new
// block and the old one released, unless nothing converts or memory is exhausted.
// A null *mptr, an empty text or any other mode changes nothing.
QVXML_API void convert_html_accents(char **mptr, int mode);
