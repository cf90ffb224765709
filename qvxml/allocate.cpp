#include "qvxml/internal/impl.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "qvxml/internal/grow.h"
#include "qvxml/internal/locked_pages.h"

using namespace qvxml::impl;

namespace
{

unsigned long acounter = 0;
unsigned long lcounter = 0;
unsigned long long tcounter = 0;
int areport = 0;
int memtrace = 0;

constexpr std::size_t header_size = sizeof(mem_header);
constexpr std::size_t log_message_capacity = 2024;
constexpr const char *memory_log_name = "qv-mem-log";

static_assert(header_size % alignof(std::max_align_t) == 0);

// Holds allocation_control for one scope; nothing done under it calls back into
// the allocator, so the non-recursive mutex cannot deadlock on itself.
class allocation_lock
{
  public:
    allocation_lock() { pthread_mutex_lock(&allocation_control); }
    ~allocation_lock() { pthread_mutex_unlock(&allocation_control); }
    allocation_lock(const allocation_lock &) = delete;
    allocation_lock &operator=(const allocation_lock &) = delete;
};

void memory_log_message(const char *message)
{
    FILE *h = std::fopen(memory_log_name, "a");
    if (!h) return;
    std::fprintf(h, "%u:%u:%s\n", static_cast<unsigned>(std::time(nullptr)),
                 static_cast<unsigned>(getpid()), message);
    std::fclose(h);
}

void log_allocate(unsigned long count, const void *v, int n)
{
    if (!memtrace) return;
    char message[log_message_capacity];
    std::snprintf(message, sizeof message, "%u:memory:allocate:%lu:%lu:%u",
                  static_cast<unsigned>(getpid()), count,
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(v)),
                  static_cast<unsigned>(n));
    memory_log_message(message);
}

void log_liberate(const void *v, std::size_t size)
{
    if (!memtrace) return;
    char message[log_message_capacity];
    std::snprintf(message, sizeof message, "%u:memory:liberate:%lu:%lu:%u",
                  static_cast<unsigned>(getpid()), lcounter,
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(v)),
                  static_cast<unsigned>(size));
    memory_log_message(message);
}

// A block of n bytes, zero-filled unless the caller writes every byte of it at once
// (filled: a copy), which then need not be cleared first.
void *allocate_block(int n, bool secure, bool filled = false)
{
    if (n < 0) return nullptr;
    const std::size_t total = header_size + static_cast<std::size_t>(n);
    void *data = nullptr;
    unsigned long count = 0;
    {
        allocation_lock lock;
        auto *h = static_cast<mem_header *>(secure ? take_locked(total) : std::malloc(total));
        if (h) {
            count = ++acounter;
            tcounter += static_cast<unsigned long long>(n);
            h->secure = secure ? 1 : 0;
            h->size = static_cast<std::size_t>(n);
            data = reinterpret_cast<char *>(h) + header_size;
            if (!filled) std::memset(data, 0, static_cast<std::size_t>(n));
            if (!secure && areport) {
                std::printf("%lu allocate %u %lu\n", count, static_cast<unsigned>(n),
                            static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(data)));
            }
        } else {
            count = acounter;
        }
    }
    log_allocate(count, data, n);
    return data;
}

// A terminated copy of the len bytes at s.
char *copy_string(const char *s, std::size_t len, bool secure)
{
    if (!fits_block(len + 1)) return nullptr;
    auto *p = static_cast<char *>(allocate_block(static_cast<int>(len + 1), secure, true));
    if (!p) return nullptr;
    std::memcpy(p, s, len);
    p[len] = '\0';
    return p;
}

} // namespace

pthread_mutex_t allocation_control = PTHREAD_MUTEX_INITIALIZER;

void *qvxml::impl::allocate(int n)
{
    return allocate_block(n, false);
}

void *qvxml::impl::allocate_secure(int n)
{
    return allocate_block(n, true);
}

void *qvxml::impl::liberate(void *v)
{
    return liberate_secure(v);
}

namespace
{

// One release, the caller holding allocation_control: a secure block is wiped and its
// memory goes back to the locked pages, an ordinary one to the system allocator.
void release_held(void *v)
{
    auto *h = reinterpret_cast<mem_header *>(static_cast<char *>(v) - header_size);
    const int secure = h->secure;
    const std::size_t size = h->size;
    if (secure) {
        // explicit_bzero is never removed as a dead store
        explicit_bzero(h, header_size + size);
    }
    ++lcounter;
    tcounter -= static_cast<unsigned long long>(size);
    log_liberate(v, size);
    if (secure)
        give_locked(h, header_size + size); // the page stays locked while others live on it
    else
        std::free(h);
}

} // namespace

void *qvxml::impl::liberate_secure(void *v)
{
    if (!v) return nullptr;
    allocation_lock lock;
    release_held(v);
    return nullptr;
}

std::size_t qvxml::impl::liberate_blocks(void *const *blocks, std::size_t n)
{
    if (n == 0) return 0;
    allocation_lock lock;
    for (std::size_t i = 0; i < n; ++i)
        release_held(blocks[i]);
    return 0;
}

char *qvxml::impl::allocate_string(const char *s)
{
    return s ? copy_string(s, std::strlen(s), false) : nullptr;
}

char *qvxml::impl::allocate_string_secure(const char *s)
{
    return s ? copy_string(s, std::strlen(s), true) : nullptr;
}

char *qvxml::impl::allocate_string_secure(const char *s, std::size_t len)
{
    return copy_string(s, len, true);
}

char *qvxml::impl::join_string(char *rptr, const char *sptr)
{
    if (!sptr) return rptr;
    if (!rptr) return allocate_string(sptr);
    const std::size_t rlen = std::strlen(rptr);
    const std::size_t slen = std::strlen(sptr);
    auto *p = static_cast<char *>(regrow_block(rptr, rlen, rlen + slen + 1, false));
    if (p) std::memcpy(p + rlen, sptr, slen + 1);
    return p;
}

char *qvxml::impl::join_strings(char *rptr, char *sptr)
{
    char *result = join_string(rptr, sptr);
    if (!result) return nullptr;
    liberate(sptr);
    return result;
}

char *qvxml::impl::join_string_sep(char *rptr, const char *sptr, const char *sep)
{
    if (!rptr) return allocate_string(sptr);
    char *with_sep = join_string(rptr, sep);
    if (!with_sep) return nullptr;
    char *result = join_string(with_sep, sptr);
    if (!result) liberate(with_sep); // rptr is already consumed; do not leak the intermediate
    return result;
}

int qvxml::impl::set_memory_trace(int v)
{
    const int previous = memtrace;
    memtrace = v;
    return previous;
}

void qvxml::impl::allocation_trace(int mode)
{
    areport = mode;
}

void qvxml::impl::reset_allocate_statistics()
{
    acounter = 0;
    lcounter = 0;
    tcounter = 0;
}

void qvxml::impl::get_allocate_statistics(unsigned long *a, unsigned long *l, unsigned long long *t)
{
    *a = acounter;
    *l = lcounter;
    *t = tcounter;
}
