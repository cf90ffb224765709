#pragma once
// The one walk of a subtree in document order, without recursion: from an element
// the step goes to its first child, else to the next sibling of the element or of its
// nearest ancestor inside the subtree that has one. It climbs by parent links.

#include "qvxml/tree.h"

struct leave_nothing {
    void operator()(const xml_element *) const noexcept {}
};

// The element after e in document order inside top's subtree; null after the last.
// Each element whose subtree ends at this step is handed to leave, innermost first:
// e itself when it has no children, then the ancestors climbed through.
template <typename Element, typename Leave = leave_nothing>
Element *next_in_document_order(Element *e, const xml_element *top, Leave &&leave = {})
{
    if (e->first) return e->first;
    for (;;) {
        leave(e);
        if (e == top) return nullptr;
        if (e->next) return e->next;
        e = e->parent;
    }
}

// Links child in as parent's last child; both non-null. Inline, for the builder, which
// does it once per element read.
inline void link_last_child(xml_element *parent, xml_element *child)
{
    child->previous = parent->last;
    if (parent->last)
        parent->last->next = child;
    else
        parent->first = child;
    parent->last = child;
    child->parent = parent;
}
