#pragma once
// A fixed number of objects in one block of the tracked allocator, each constructed
// once when the block is had and destroyed with it, so that an owner holding one never
// touches the system allocator and never rebuilds an element in place.

#include <climits>
#include <cstddef>
#include <new>
#include <span>
#include <utility>

#include "qvxml/allocate.h"

template <typename T> class tracked_array
{
  public:
    tracked_array() = default;
    tracked_array(const tracked_array &) = delete;
    tracked_array &operator=(const tracked_array &) = delete;
    tracked_array(tracked_array &&other) noexcept
        : items_{std::exchange(other.items_, nullptr)}, count_{std::exchange(other.count_, 0)}
    {
    }
    ~tracked_array() { release(); }

    // Room for count default-constructed objects, what was held before released first.
    // False, with nothing held, when count is 0 or memory ran out.
    bool hold(std::size_t count)
    {
        release();
        if (count == 0 || count > std::size_t(INT_MAX) / sizeof(T)) return false;
        void *block = allocate(int(count * sizeof(T)));
        if (!block) return false;
        items_ = static_cast<T *>(block);
        for (count_ = 0; count_ < count; ++count_)
            new (&items_[count_]) T;
        return true;
    }
    std::size_t size() const { return count_; }
    T &operator[](std::size_t i) { return items_[i]; }
    const T &operator[](std::size_t i) const { return items_[i]; }
    std::span<T> items() { return {items_, count_}; }
    std::span<const T> items() const { return {items_, count_}; }

  private:
    void release()
    {
        for (std::size_t i = count_; i > 0; --i)
            items_[i - 1].~T();
        liberate(items_);
        items_ = nullptr;
        count_ = 0;
    }
    T *items_ = nullptr;
    std::size_t count_ = 0;
};
