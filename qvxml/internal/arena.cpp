#include "qvxml/internal/arena.h"

#include <cstdint>

#include "qvxml/internal/impl.h"

using namespace qvxml::impl;

namespace
{

// Bump arena chunks: one tracked block of chunk_bytes unless a single take needs more.
constexpr std::size_t chunk_bytes = 64 * 1024;

} // namespace

void bump_arena::reset()
{
    while (head_ && head_->next) {
        chunk *older = head_->next;
        liberate(head_);
        head_ = older;
    }
    if (head_) head_->used = 0;
    last_ = nullptr;
}

void bump_arena::release()
{
    reset();
    head_ = static_cast<chunk *>(liberate(head_));
}

bool bump_arena::add_chunk(std::size_t n)
{
    const std::size_t size = n > chunk_bytes ? n : chunk_bytes;
    if (size > static_cast<std::size_t>(INT32_MAX) - header) return false;
    auto *c = static_cast<chunk *>(allocate(static_cast<int>(header + size)));
    if (!c) return false;
    *c = chunk{head_, size, 0};
    head_ = c;
    return true;
}
