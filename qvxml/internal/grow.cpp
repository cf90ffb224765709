#include "qvxml/internal/grow.h"

#include <cassert>
#include <cstring>

#include "qvxml/internal/impl.h"

using namespace qvxml::impl;

void *regrow_block(void *old, std::size_t keep, std::size_t size, bool secure)
{
    assert(keep <= size && (old || keep == 0));
    if (!fits_block(size)) return nullptr;
    const int n = static_cast<int>(size);
    void *block = secure ? allocate_secure(n) : allocate(n);
    if (!block) return nullptr;
    if (keep) std::memcpy(block, old, keep);
    liberate(old);
    return block;
}
