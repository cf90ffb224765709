// The one malloc wrapper of both fault-injection sweeps: the library's tests arm it
// in-process; a program (the converter's veltran_faulty) is armed from outside by
//
//   VELTRAN_FAIL_MALLOC_AT=N    refuse the N-th call (0: refuse none)
//   VELTRAN_FAIL_MALLOC_AT=N+   refuse every call from the N-th on
//
// and with VELTRAN_MALLOC_REPORT=FILE it writes to FILE at exit how many calls it made
// and how many tracked blocks and bytes were still in use: "mallocs 123 blocks 0 bytes
// 0" (a file of its own, so the program's standard error stays the program's).

#include "malloc_fault.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "properties.h"

extern "C" void *__real_malloc(std::size_t n);
extern "C" void *__real_aligned_alloc(std::size_t alignment, std::size_t n);
extern "C" void __real_free(void *p);
extern "C" void *__real__Z11take_lockedm(std::size_t n); // take_locked(std::size_t)

static long calls = 0, fail_at = 0, fail_onward = 0, pages = 0;
static bool in_pool = false;
static const void *watched = nullptr;
static unsigned char freed[malloc_fault_freed_size];

// Runs after main has returned: by then every tracked block must be back. A run that
// never called malloc (the banner) still reports.
__attribute__((destructor)) static void report()
{
    const allocation_balance now; // the allocator's counters
    const char *name = std::getenv("VELTRAN_MALLOC_REPORT");
    const int fd = name ? open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (fd < 0) return;
    char line[128]; // written without stdio, which could call malloc
    const int n = std::snprintf(line, sizeof line, "mallocs %ld blocks %lu bytes %llu\n", calls,
                                now.a - now.l, now.t);
    if (write(fd, line, std::size_t(n)) != n) line[0] = '\0';
    close(fd);
}

static bool refuse_this_call()
{
    // the plan is read on the first call, which may come before main; getenv allocates nothing
    if (const char *plan = calls == 0 ? std::getenv("VELTRAN_FAIL_MALLOC_AT") : nullptr) {
        fail_at = std::atol(plan);
        fail_onward = std::strchr(plan, '+') != nullptr;
    }
    return ++calls == fail_at || (fail_onward && fail_at > 0 && calls > fail_at);
}

extern "C" void *__wrap_malloc(std::size_t n)
{
    if (in_pool) ++pages;
    return refuse_this_call() ? nullptr : __real_malloc(n);
}

// The pool of locked pages takes its pages page-aligned.
extern "C" void *__wrap_aligned_alloc(std::size_t alignment, std::size_t n)
{
    if (in_pool) ++pages;
    return refuse_this_call() ? nullptr : __real_aligned_alloc(alignment, n);
}

// Secure blocks mostly come from locked pages the pool already holds, without a malloc
// call: each take from the pool is a call that can be refused too.
extern "C" void *__wrap__Z11take_lockedm(std::size_t n)
{
    if (refuse_this_call()) return nullptr;
    in_pool = true;
    void *p = __real__Z11take_lockedm(n);
    in_pool = false;
    return p;
}

extern "C" void __wrap_free(void *p)
{
    const auto *start = static_cast<const char *>(p);
    if (p && watched >= start && watched < start + malloc_usable_size(p))
        std::memcpy(freed, watched, sizeof freed);
    __real_free(p);
}

const unsigned char *malloc_fault_watch_free(const void *block)
{
    watched = block;
    std::memset(freed, 0xff, sizeof freed);
    return freed;
}

long malloc_fault_arm(long at, bool onward)
{
    const long counted = calls;
    calls = pages = 0;
    fail_at = at;
    fail_onward = onward;
    return counted;
}

long malloc_fault_pages()
{
    return pages;
}
