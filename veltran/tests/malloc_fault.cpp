// Linked into veltran_faulty with -Wl,--wrap=malloc: every call of the system
// allocator made by the converter and the library passes through here.
//
//   VELTRAN_FAIL_MALLOC_AT=N    refuse the N-th call (0: refuse none)
//   VELTRAN_FAIL_MALLOC_AT=N+   refuse every call from the N-th on
//
// While the variable is set, the program reports on standard error at exit how many
// calls it made and how many tracked blocks and bytes were still in use:
// "mallocs 123 blocks 0 bytes 0".

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "qvxml/allocate.h"

extern "C" void *__real_malloc(std::size_t n);

namespace {

struct fault_plan {
    bool active = false;
    bool onward = false;
    unsigned long at = 0;
};

unsigned long calls = 0;

// Read on the first call, which may come before main; getenv allocates nothing.
const fault_plan &plan()
{
    static const fault_plan p = [] {
        fault_plan f;
        const char *v = std::getenv("VELTRAN_FAIL_MALLOC_AT");
        if (!v) return f;
        char *end = nullptr;
        f.active = true;
        f.at = std::strtoul(v, &end, 10);
        f.onward = end && *end == '+';
        return f;
    }();
    return p;
}

// Runs after main has returned: by then every tracked block must be back.
__attribute__((destructor)) void report()
{
    if (!plan().active) return;
    unsigned long a = 0, l = 0;
    unsigned long long t = 0;
    get_allocate_statistics(&a, &l, &t);
    char line[128];
    const int n = std::snprintf(line, sizeof line, "mallocs %lu blocks %lu bytes %llu\n", calls, a - l, t);
    if (n > 0) (void)!write(STDERR_FILENO, line, static_cast<std::size_t>(n));
}

} // namespace

extern "C" void *__wrap_malloc(std::size_t n)
{
    const fault_plan &p = plan();
    ++calls;
    if (p.at != 0 && (calls == p.at || (p.onward && calls > p.at))) return nullptr;
    return __real_malloc(n);
}
