#pragma once
// The document tree: element and attribute records with public fields, linked in
// doubly linked lists, and their primitive operations. Every record and string is a
// block of the tracked allocator. Including this header also gives the tree's
// builder, queries and writers (document.h).

#include <cstdio>

#include "qvxml/allocate.h"

struct xml_atribut;

// One node of the tree. An element owns its name, value, attributes and children.
struct xml_element {
    xml_element *previous; // preceding sibling; null for the first child
    xml_element *next;     // following sibling; null for the last child
    xml_element *parent;   // containing element; null at the top level
    xml_element *first;    // first child, or null
    xml_element *last;     // last child, or null
    xml_atribut *firstatb; // first attribute, or null
    xml_atribut *lastatb;  // last attribute, or null
    char *name;            // the tag name
    char *value;           // the element's text, or null when it has none
    void *payload;         // the application's; never read, changed or released by the library
};

// One attribute of an element; it owns its name and value and has no link back.
struct xml_atribut {
    xml_atribut *previous;
    xml_atribut *next;
    char *name;
    char *value; // null for an attribute without a value
};

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
// the old one released. Returns 0 (tlen 0 changes nothing); 118 when vptr or tptr is
// null; 27 when memory is exhausted. On 118 and 27, *vptr is left as it was.
QVXML_API int extend_value(char **vptr, const char *tptr, int tlen);
// Prints eptr and its subtree to standard output in the compact form: no
// indentation, a line feed after each element's end. A null eptr prints nothing.
QVXML_API void show_element(const xml_element *eptr);

#include "qvxml/document.h"
