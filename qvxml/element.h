#pragma once
// The document tree's primitive operations on its records (tree.h). Including this
// header also gives the tree's builder, queries and writers (document.h), so that it
// declares the whole tree.

#include "qvxml/allocate.h"
#include "qvxml/document.h"
#include "qvxml/status.h"
#include "qvxml/tree.h"

// A new detached element (or attribute) with every field null; null when memory is
// exhausted. The caller owns it until it is linked into a tree.
QVXML_API xml_element *allocate_element();
QVXML_API xml_atribut *allocate_atribut();
// Appends the detached element aptr as the last child of eptr; does nothing when
// either is null.
QVXML_API void add_element(xml_element *eptr, xml_element *aptr);
// Appends the detached attribute aptr as the last attribute of eptr; does nothing
// when either is null.
QVXML_API void add_atribut(xml_element *eptr, xml_atribut *aptr);
// Releases eptr and everything it owns: children (in document order, each with its
// subtree), attributes, name and value. Does not unlink eptr. Null is ignored.
// Always returns null, so callers write e = liberate_element(e). Uses no stack in
// proportion to the depth of the tree.
QVXML_API xml_element *liberate_element(xml_element *eptr);
// Releases aptr with its name and value; null is ignored. Always returns null.
QVXML_API xml_atribut *liberate_atribut(xml_atribut *aptr);
// Appends tptr (tlen bytes) to the string in *vptr: a new exact block is stored and
// the old one released. Returns 0 (tlen 0 changes nothing); status_missing (118) when
// vptr or tptr is null; status_no_memory (27) when memory is exhausted. On either,
// *vptr is left as it was.
QVXML_API int extend_value(char **vptr, const char *tptr, int tlen);
// Prints eptr and its subtree to standard output in the compact form: no
// indentation, a line feed after each element's end. A null eptr prints nothing.
QVXML_API void show_element(const xml_element *eptr);
