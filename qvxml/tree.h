#pragma once
// The records of the document tree, with public fields: elements and attributes
// linked in doubly linked lists. Every record and string is a block of the tracked
// allocator. The operations on them are declared in element.h, which gives the whole
// tree API; this header includes neither it nor document.h, so both can include it.

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
