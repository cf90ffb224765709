#pragma once
// The one way the library replaces a tracked block by a larger (or exact) one: a new
// block, the bytes worth keeping copied over, the old block released. The allocator
// takes sizes as an int, so every size computed in size_t is checked by fits_block
// before it is asked for.

#include <climits>
#include <cstddef>

// Whether a block of n bytes can be asked of the allocator.
constexpr bool fits_block(std::size_t n)
{
    return n <= static_cast<std::size_t>(INT_MAX);
}

// A new zero-filled block of size bytes, secure or ordinary, holding the first keep
// bytes of old (keep <= size; old may be null when keep is 0), old then released.
// Null, with old left as it was, when size does not fit or memory is exhausted.
void *regrow_block(void *old, std::size_t keep, std::size_t size, bool secure);
