// The one malloc wrapper of both fault-injection sweeps: the library's tests arm it
// in-process; a program (the converter's veltran_faulty) is armed from outside by
//
//   VELTRAN_FAIL_MALLOC_AT=N    refuse the N-th call (0: refuse none)
//   VELTRAN_FAIL_MALLOC_AT=N+   refuse every call from the N-th on
//
// and while that variable is set it reports on standard error at exit how many calls
// it made and how many tracked blocks and bytes were still in use:
// "mallocs 123 blocks 0 bytes 0".

#include "malloc_fault.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qvxml/allocate.h"

extern "C" void *__real_malloc(std::size_t n);
extern "C" void __real_free(void *p);

namespace
{

long calls = 0, fail_at = 0;
bool fail_onward = false;
const void *watched = nullptr;
unsigned char freed[malloc_fault_freed_size];

// Read on the first call, which may come before main; getenv allocates nothing.
bool armed_from_outside()
{
    static const char *const plan = std::getenv("VELTRAN_FAIL_MALLOC_AT");
    static const bool armed =
        plan && (fail_at = std::atol(plan), fail_onward = std::strchr(plan, '+'), true);
    return armed;
}

// Runs after main has returned: by then every tracked block must be back. A run that
// never called malloc (the banner) still reports.
__attribute__((destructor)) void report()
{
    unsigned long a = 0, l = 0;
    unsigned long long t = 0;
    get_allocate_statistics(&a, &l, &t);
    if (armed_from_outside())
        std::fprintf(stderr, "mallocs %ld blocks %lu bytes %llu\n", calls, a - l, t);
}

} // namespace

extern "C" void *__wrap_malloc(std::size_t n)
{
    armed_from_outside();
    const bool refused = ++calls == fail_at || (fail_onward && fail_at > 0 && calls > fail_at);
    return refused ? nullptr : __real_malloc(n);
}

extern "C" void __wrap_free(void *p)
{
    if (p && p == watched) std::memcpy(freed, p, sizeof freed);
    __real_free(p);
}

const unsigned char *malloc_fault_watch_free(const void *block)
{
    return watched = block, freed;
}

long malloc_fault_arm(long at, bool onward)
{
    armed_from_outside();
    const long counted = calls;
    calls = 0, fail_at = at, fail_onward = onward;
    return counted;
}
