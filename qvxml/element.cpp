#include "qvxml/internal/impl.h"

#include <cstring>

#include "qvxml/internal/grow.h"
#include "qvxml/internal/walk.h"

using namespace qvxml::impl;

xml_element *qvxml::impl::allocate_element()
{
    auto *e = static_cast<xml_element *>(allocate(sizeof(xml_element)));
    if (e) *e = xml_element{};
    return e;
}

xml_atribut *qvxml::impl::allocate_atribut()
{
    auto *a = static_cast<xml_atribut *>(allocate(sizeof(xml_atribut)));
    if (a) *a = xml_atribut{};
    return a;
}

void qvxml::impl::add_element(xml_element *eptr, xml_element *aptr)
{
    if (eptr && aptr) link_last_child(eptr, aptr);
}

void qvxml::impl::add_atribut(xml_element *eptr, xml_atribut *aptr)
{
    if (!eptr || !aptr) return;
    aptr->previous = eptr->lastatb;
    if (eptr->lastatb)
        eptr->lastatb->next = aptr;
    else
        eptr->firstatb = aptr;
    eptr->lastatb = aptr;
}

// Releases children first (in document order, each whole subtree before the next
// sibling), then attributes, name, value and the record. The walk climbs back through
// parent links that it sets itself on the way down, so it needs no stack however
// deep the tree is, and trusts no parent link it did not write.
xml_element *qvxml::impl::liberate_element(xml_element *eptr)
{
    if (!eptr) return nullptr;
    xml_element *cur = eptr;
    for (;;) {
        if (xml_element *child = cur->first) {
            cur->first = child->next;
            child->parent = cur;
            cur = child;
            continue;
        }
        while (xml_atribut *a = cur->firstatb) {
            cur->firstatb = a->next;
            liberate_atribut(a);
        }
        liberate(cur->name);
        liberate(cur->value);
        xml_element *up = cur == eptr ? nullptr : cur->parent;
        liberate(cur);
        if (!up) return nullptr;
        cur = up;
    }
}

xml_atribut *qvxml::impl::liberate_atribut(xml_atribut *aptr)
{
    if (!aptr) return nullptr;
    liberate(aptr->name);
    liberate(aptr->value);
    liberate(aptr);
    return nullptr;
}

int qvxml::impl::extend_value(char **vptr, const char *tptr, int tlen)
{
    if (!vptr || !tptr) return status_missing;
    if (tlen <= 0) return 0;
    const std::size_t old_len = *vptr ? std::strlen(*vptr) : 0;
    const std::size_t new_len = old_len + static_cast<std::size_t>(tlen);
    auto *block = static_cast<char *>(regrow_block(*vptr, old_len, new_len + 1, false));
    if (!block) return status_no_memory;
    // never read past tptr's terminator, whatever tlen says; the block is zero-filled
    std::memcpy(block + old_len, tptr, strnlen(tptr, static_cast<std::size_t>(tlen)));
    *vptr = block;
    return 0;
}
