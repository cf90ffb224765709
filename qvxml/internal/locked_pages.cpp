#include "qvxml/internal/locked_pages.h"

#include <array>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QVXML_POOL_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVXML_POOL_POISON 1
#endif
#endif
#if defined(QVXML_POOL_POISON)
#include <sanitizer/asan_interface.h>
#endif

namespace
{

// Every page and run starts with its record; blocks follow at this offset, which keeps
// them aligned for any object.
constexpr std::size_t record_bytes = 64;
// Slots of the size classes: 32, 64, ... 1024 bytes. A larger block gets a run.
constexpr std::size_t smallest_slot = 32;
constexpr int class_count = 6;
constexpr std::size_t largest_slot = smallest_slot << (class_count - 1);
// Emptied pages and released runs kept locked while other blocks live: room for an
// emptied page of every class at once, so that an item whose blocks filled classes of
// their own costs no system call when the next one takes them again.
constexpr int kept_pages_limit = class_count + 2;
constexpr int kept_runs_limit = 2;

static_assert(record_bytes % alignof(std::max_align_t) == 0);
static_assert(smallest_slot % alignof(std::max_align_t) == 0);

// A page of one size class, or a run of pages holding one block.
struct page_record {
    page_record *previous; // neighbours in its class's list of pages with room, or in
    page_record *next;     // the list of kept runs
    std::size_t bytes;     // length of the page or run, a whole number of pages
    void *free_slots;      // slots given back, each holding the address of the next
    std::size_t fresh;     // offset of the first slot never handed out
    std::size_t live;      // slots handed out and not given back
    int size_class;        // -1 for a run
};
static_assert(sizeof(page_record) <= record_bytes);

struct page_list {
    page_record *first = nullptr;
    int count = 0;

    void push(page_record *p)
    {
        p->previous = nullptr;
        p->next = first;
        if (first) first->previous = p;
        first = p;
        ++count;
    }
    void remove(page_record *p)
    {
        (p->previous ? p->previous->next : first) = p->next;
        if (p->next) p->next->previous = p->previous;
        p->previous = p->next = nullptr;
        --count;
    }
};

struct pool_state {
    std::array<page_list, class_count> roomy; // pages with a free slot, per class
    page_list kept_runs;                      // released runs, still locked
    int kept_pages = 0;                       // pages in roomy with no live slot
    std::size_t live = 0;                     // blocks handed out, of every kind
};
pool_state pool;

// The sanitizer's view: bytes not handed out are unreadable, so an overrun from one
// secure block into its neighbour shows as it would between two system blocks.
void hide(const void *p, std::size_t n)
{
#if defined(QVXML_POOL_POISON)
    ASAN_POISON_MEMORY_REGION(p, n);
#else
    (void)p, (void)n;
#endif
}

void expose(const void *p, std::size_t n)
{
#if defined(QVXML_POOL_POISON)
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
    (void)p, (void)n;
#endif
}

std::size_t page_bytes()
{
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t slot_bytes(int size_class)
{
    return smallest_slot << size_class;
}

// The smallest class whose slots hold total bytes, or -1 when a run is needed.
int class_of(std::size_t total)
{
    if (total > largest_slot || largest_slot > page_bytes() - record_bytes) return -1;
    int c = 0;
    while (slot_bytes(c) < total)
        ++c;
    return c;
}

// A new locked region of bytes (a whole number of pages) that shares no page with any
// other memory, as a page-aligned block of the system allocator.
page_record *take_region(std::size_t bytes, int size_class)
{
    auto *r = static_cast<page_record *>(std::aligned_alloc(page_bytes(), bytes));
    if (!r) return nullptr;
    (void)mlock(r, bytes); // a refused lock is accepted: the memory is still usable
    hide(r, bytes);
    expose(r, record_bytes);
    *r = page_record{.previous = nullptr,
                     .next = nullptr,
                     .bytes = bytes,
                     .free_slots = nullptr,
                     .fresh = record_bytes,
                     .live = 0,
                     .size_class = size_class};
    return r;
}

void give_region(page_record *r)
{
    expose(r, r->bytes);
    (void)munlock(r, r->bytes);
    std::free(r);
}

bool is_full(const page_record *r)
{
    return !r->free_slots && r->fresh + slot_bytes(r->size_class) > r->bytes;
}

void *take_slot(int size_class)
{
    page_list &roomy = pool.roomy[static_cast<std::size_t>(size_class)];
    page_record *r = roomy.first;
    if (!r) {
        r = take_region(page_bytes(), size_class);
        if (!r) return nullptr;
        roomy.push(r);
        ++pool.kept_pages; // empty until the slot below is handed out
    }
    const std::size_t slot = slot_bytes(size_class);
    void *p = nullptr;
    if (r->free_slots) {
        p = r->free_slots;
        expose(p, sizeof(void *));
        r->free_slots = *static_cast<void **>(p);
    } else {
        p = reinterpret_cast<char *>(r) + r->fresh;
        r->fresh += slot;
    }
    if (r->live++ == 0) --pool.kept_pages;
    if (is_full(r)) roomy.remove(r);
    return p;
}

void give_slot(void *p, int size_class)
{
    const auto at = reinterpret_cast<std::uintptr_t>(p) & ~(page_bytes() - 1);
    auto *r = reinterpret_cast<page_record *>(at);
    assert(r->size_class == size_class && r->live > 0);
    page_list &roomy = pool.roomy[static_cast<std::size_t>(size_class)];
    if (is_full(r)) roomy.push(r);
    *static_cast<void **>(p) = r->free_slots;
    r->free_slots = p;
    hide(p, slot_bytes(size_class));
    if (--r->live > 0) return;
    if (pool.kept_pages < kept_pages_limit) {
        ++pool.kept_pages;
        return;
    }
    roomy.remove(r);
    give_region(r);
}

// A kept run long enough for bytes and not more than twice as long, else a new one.
void *take_run(std::size_t total)
{
    const std::size_t page = page_bytes();
    const std::size_t bytes = (record_bytes + total + page - 1) & ~(page - 1);
    page_record *r = pool.kept_runs.first;
    while (r && (r->bytes < bytes || r->bytes / 2 > bytes))
        r = r->next;
    if (r)
        pool.kept_runs.remove(r);
    else if (!(r = take_region(bytes, -1)))
        return nullptr;
    assert(record_bytes + total <= r->bytes);
    return reinterpret_cast<char *>(r) + record_bytes;
}

void give_run(void *p, std::size_t total)
{
    auto *r = reinterpret_cast<page_record *>(static_cast<char *>(p) - record_bytes);
    hide(p, total);
    if (pool.kept_runs.count < kept_runs_limit)
        pool.kept_runs.push(r);
    else
        give_region(r);
}

// With no block left, nothing is kept: every page is empty and goes back.
void give_everything()
{
    for (page_list &roomy : pool.roomy)
        while (page_record *r = roomy.first) {
            roomy.remove(r);
            give_region(r);
        }
    while (page_record *r = pool.kept_runs.first) {
        pool.kept_runs.remove(r);
        give_region(r);
    }
    pool.kept_pages = 0;
}

} // namespace

void *take_locked(std::size_t total)
{
    const int size_class = class_of(total);
    void *p = size_class < 0 ? take_run(total) : take_slot(size_class);
    if (!p) return nullptr;
    expose(p, total);
    ++pool.live;
    return p;
}

void give_locked(void *p, std::size_t total)
{
    assert(pool.live > 0);
    const int size_class = class_of(total);
    if (size_class < 0)
        give_run(p, total);
    else
        give_slot(p, size_class);
    if (--pool.live == 0) give_everything();
}
