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
#include <unistd.h>

#include "qvxml/allocate.h"

extern "C" void *__real_malloc(std::size_t n);
extern "C" void __real_free(void *p);

namespace
{

long calls = 0;
long fail_at = 0;
bool fail_onward = false;
bool armed_from_outside = false;
bool watch_free = false;
unsigned char freed[malloc_fault_freed_size];

// Read on the first call, which may come before main; getenv allocates nothing.
void read_environment_once()
{
    static bool read = false;
    if (read) return;
    read = true;
    const char *v = std::getenv("VELTRAN_FAIL_MALLOC_AT");
    if (!v) return;
    char *end = nullptr;
    fail_at = std::strtol(v, &end, 10);
    fail_onward = end && *end == '+';
    armed_from_outside = true;
}

// Runs after main has returned: by then every tracked block must be back. A run that
// never called malloc (the banner) still reports.
__attribute__((destructor)) void report()
{
    read_environment_once();
    if (!armed_from_outside) return;
    unsigned long a = 0, l = 0;
    unsigned long long t = 0;
    get_allocate_statistics(&a, &l, &t);
    char line[128];
    const int n =
        std::snprintf(line, sizeof line, "mallocs %ld blocks %lu bytes %llu\n", calls, a - l, t);
    if (n > 0) (void)!write(STDERR_FILENO, line, static_cast<std::size_t>(n));
}

} // namespace

extern "C" void *__wrap_malloc(std::size_t n)
{
    read_environment_once();
    ++calls;
    if (fail_at != 0 && (calls == fail_at || (fail_onward && calls > fail_at))) return nullptr;
    return __real_malloc(n);
}

extern "C" void __wrap_free(void *p)
{
    if (watch_free && p) std::memcpy(freed, p, sizeof freed);
    __real_free(p);
}

const unsigned char *malloc_fault_watch_free(bool on)
{
    return watch_free = on, freed;
}

void malloc_fault_arm(long at, bool onward)
{
    read_environment_once();
    calls = 0;
    fail_at = at;
    fail_onward = onward;
}

long malloc_fault_calls()
{
    return calls;
}
