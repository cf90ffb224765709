#pragma once
// Bump allocation beside the tracked allocator, for records that are built, used and
// thrown away together: they are carved from a few large tracked blocks that are
// reused after a reset, instead of costing one locked allocation and release apiece.
// The builder's streamed load keeps one item (a child of a top-level element) here.

#include <cstddef>
#include <cstring>

class bump_arena
{
  public:
    bump_arena() = default;
    bump_arena(const bump_arena &) = delete;
    bump_arena &operator=(const bump_arena &) = delete;
    ~bump_arena() { release(); }

    // n uninitialised bytes aligned for any object; null when memory is exhausted.
    void *take(std::size_t n)
    {
        if (void *p = take_here(n)) return p;
        return add_chunk(round_up(n)) ? take_here(n) : nullptr;
    }
    // What take gives when the chunk being filled has room for n bytes; null, with
    // nothing taken, when it has not. Free of calls, for the builder's common case.
    void *take_here(std::size_t n)
    {
        n = round_up(n);
        if (!head_ || head_->size - head_->used < n) return nullptr;
        void *p = data(head_) + head_->used;
        head_->used += n;
        last_ = p;
        last_size_ = n;
        return p;
    }
    // The block p of old_size bytes grown to n bytes: in place when it is the latest
    // block taken and there is room after it, else a copy. Null when memory is exhausted.
    void *regrow(void *p, std::size_t old_size, std::size_t n)
    {
        if (p && p == last_ && head_->used - last_size_ + round_up(n) <= head_->size) {
            head_->used += round_up(n) - last_size_;
            last_size_ = round_up(n);
            return p;
        }
        void *q = take(n);
        if (q && p) std::memcpy(q, p, old_size);
        return q;
    }
    // Forgets every block taken and keeps one chunk for what comes next.
    void reset();
    // Returns every chunk to the tracked allocator.
    void release();

  private:
    struct chunk {
        chunk *next;
        std::size_t size; // bytes of data after the header
        std::size_t used;
    };
    static constexpr std::size_t alignment = alignof(std::max_align_t);
    static constexpr std::size_t header = (sizeof(chunk) + alignment - 1) / alignment * alignment;
    static std::size_t round_up(std::size_t n)
    {
        return (n + alignment - 1) / alignment * alignment;
    }
    static unsigned char *data(chunk *c) { return reinterpret_cast<unsigned char *>(c) + header; }
    bool add_chunk(std::size_t n);

    chunk *head_ = nullptr; // the chunk being filled; older ones follow
    void *last_ = nullptr;
    std::size_t last_size_ = 0;
};
