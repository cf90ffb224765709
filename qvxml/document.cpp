#include "qvxml/internal/impl.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qvxml/internal/grow.h"
#include "qvxml/internal/walk.h"

using namespace qvxml::impl;

namespace
{

// ---------------------------------------------------------------------------
// Queries

bool has_name(const xml_element *e, const char *token)
{
    return e->name && std::strcmp(e->name, token) == 0;
}

bool is_quote(char c)
{
    return c == '"' || c == '\'';
}

// Hexadecimal digits up to the first other character; from the ninth digit on the
// leading ones are shifted out of the 32-bit result.
int hatoi(const char *sptr)
{
    std::uint32_t v = 0;
    for (;; ++sptr) {
        const char c = *sptr;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<int>(v);
}

// Decimal conversion as the C library's atoi reads it (leading white space, a sign,
// digits), saturating instead of overflowing.
int decimal_value(const char *sptr)
{
    const long v = std::strtol(sptr, nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

char *unquoted_copy(const xml_atribut *aptr, bool secure)
{
    if (!aptr || !aptr->value) return nullptr;
    const char *v = aptr->value;
    if (!is_quote(v[0])) return secure ? allocate_string_secure(v) : allocate_string(v);
    const std::size_t n = std::strlen(v) - 1; // without the opening mark
    if (!fits_block(n + 1)) return nullptr;
    // a lone quotation mark still gets a terminated (empty) block
    const int size = static_cast<int>(n == 0 ? 1 : n);
    auto *copy = static_cast<char *>(secure ? allocate_secure(size) : allocate(size));
    if (copy && n > 1) std::memcpy(copy, v + 1, n - 1); // the last character is dropped
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------
// Queries

xml_element *qvxml::impl::document_element(const xml_element *document, const char *token)
{
    if (!document || !token) return nullptr;
    if (has_name(document, token)) return const_cast<xml_element *>(document);
    for (const xml_element *c = document->first; c; c = c->next)
        if (has_name(c, token)) return const_cast<xml_element *>(c);
    return nullptr;
}

// Visits the elements in document order, testing each one's direct children: all the
// children of an element are tested before the search descends into any of them, and
// it then descends child by child, each child's whole subtree before the next, so a
// match deep under the first child is found before a shallower one under a later child.
xml_element *qvxml::impl::nested_document_element(const xml_element *document, const char *token)
{
    if (!document || !token) return nullptr;
    if (has_name(document, token)) return const_cast<xml_element *>(document);
    for (const xml_element *e = document; e; e = next_in_document_order(e, document))
        for (const xml_element *c = e->first; c; c = c->next)
            if (has_name(c, token)) return const_cast<xml_element *>(c);
    return nullptr;
}

xml_atribut *qvxml::impl::document_atribut(const xml_element *element, const char *token)
{
    if (!element || !token) return nullptr;
    for (const xml_atribut *a = element->firstatb; a; a = a->next)
        if (a->name && std::strcmp(a->name, token) == 0) return const_cast<xml_atribut *>(a);
    return nullptr;
}

int qvxml::impl::document_atribut_value(const xml_atribut *aptr)
{
    if (!aptr || !aptr->value) return 0;
    const char *v = aptr->value;
    if (v[0] == '0' && v[1] == 'x') return hatoi(v + 2);
    if (is_quote(v[0])) return decimal_value(v + 1);
    return decimal_value(v);
}

char *qvxml::impl::document_atribut_password(const xml_atribut *aptr)
{
    return unquoted_copy(aptr, true);
}

char *qvxml::impl::document_atribut_string(const xml_atribut *aptr)
{
    return unquoted_copy(aptr, false);
}

// ---------------------------------------------------------------------------
// Editing

xml_element *qvxml::impl::document_add_element(xml_element *dptr, const char *nptr)
{
    xml_element *e = allocate_element();
    if (!e) return nullptr;
    e->name = allocate_string(nptr);
    if (!e->name) return liberate_element(e);
    add_element(dptr, e);
    return e;
}

xml_element *qvxml::impl::document_prefix_element(xml_element *dptr, const char *nptr)
{
    if (!dptr) return nullptr;
    xml_element *e = allocate_element();
    if (!e) return nullptr;
    e->name = allocate_string(nptr);
    if (!e->name) return liberate_element(e);
    e->next = dptr->first;
    if (dptr->first)
        dptr->first->previous = e;
    else
        dptr->last = e;
    dptr->first = e;
    e->parent = dptr;
    return e;
}

xml_atribut *qvxml::impl::document_add_atribut(xml_element *eptr, const char *nptr,
                                               const char *vptr)
{
    xml_atribut *a = allocate_atribut();
    if (!a) return nullptr;
    a->name = allocate_string(nptr);
    if (!a->name) return liberate_atribut(a);
    a->value = allocate_string(vptr);
    if (!a->value) return liberate_atribut(a);
    add_atribut(eptr, a);
    return a;
}

int qvxml::impl::document_remove_element(xml_element *eptr)
{
    if (!eptr) return 0;
    if (eptr->previous)
        eptr->previous->next = eptr->next;
    else if (eptr->parent)
        eptr->parent->first = eptr->next;
    if (eptr->next)
        eptr->next->previous = eptr->previous;
    else if (eptr->parent)
        eptr->parent->last = eptr->previous;
    liberate_element(eptr);
    return 0;
}

int qvxml::impl::document_append_element(xml_element *dptr, xml_element *eptr)
{
    if (!dptr || !eptr) return 0;
    eptr->next = dptr->next;
    if (eptr->next)
        eptr->next->previous = eptr;
    else if (dptr->parent)
        dptr->parent->last = eptr;
    dptr->next = eptr;
    eptr->previous = dptr;
    eptr->parent = dptr->parent;
    return 0;
}

int qvxml::impl::document_append_elements(xml_element *dptr, xml_element *eptr)
{
    if (!dptr) return 0;
    while (eptr) {
        xml_element *following = eptr->next;
        eptr->next = nullptr;
        eptr->previous = nullptr;
        document_append_element(dptr, eptr);
        dptr = eptr;
        eptr = following;
    }
    return 0;
}
