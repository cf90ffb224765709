#pragma once
// Tracked allocator: every heap block of the library comes from here and goes back
// through liberate. Blocks are zero-filled; secure blocks are also locked in memory
// while they live and wiped when released. One process-wide mutex guards it all.

#include <cstddef>
#include <pthread.h>

#include "qvxml/export.h"
#include "qvxml/records.h"
#include "qvxml/status.h"

// The allocator's lock: a default, non-recursive mutex, never destroyed.
QVXML_API extern pthread_mutex_t allocation_control;

// A new ordinary block of n zero bytes; null when n is negative or memory is exhausted.
// The caller owns it and releases it with liberate.
QVXML_API void *allocate(int n);
// A new secure block of n zero bytes, locked into memory (a refused lock is ignored);
// null when n is negative or memory is exhausted. Wiped with zeros when released.
QVXML_API void *allocate_secure(int n);
// Releases a block of either kind; a null v is ignored. Always returns null,
// so callers write p = liberate(p).
QVXML_API void *liberate(void *v);
// The same operation as liberate, under its other name.
QVXML_API void *liberate_secure(void *v);

// A new ordinary (or secure) block holding a copy of s; null when s is null or
// memory is exhausted.
QVXML_API char *allocate_string(const char *s);
QVXML_API char *allocate_string_secure(const char *s);

// rptr followed by sptr in a new ordinary block. rptr (a tracked block or null) is
// consumed on success; sptr is only read. A null sptr returns rptr itself; a null
// rptr returns a copy of sptr. On failure returns null and rptr is still the caller's.
QVXML_API char *join_string(char *rptr, const char *sptr);
// As join_string, and sptr (a tracked block or null) is released on success too.
QVXML_API char *join_strings(char *rptr, char *sptr);
// rptr, sep and sptr joined; rptr consumed, sep and sptr only read. A null rptr
// gives a copy of sptr (sep unused). Null on failure; a failure in the second join
// has already consumed rptr (the intermediate text is released).
QVXML_API char *join_string_sep(char *rptr, const char *sptr, const char *sep);

// Switches the trace log "qv-mem-log" on or off; returns the previous setting.
QVXML_API int set_memory_trace(int v);
// Non-zero makes every ordinary allocation print one report line on standard output.
QVXML_API void allocation_trace(int mode);
// Zeros the allocation, release and bytes-in-use counters.
QVXML_API void reset_allocate_statistics();
// Reads the counters; all three pointers must be non-null.
QVXML_API void get_allocate_statistics(unsigned long *a, unsigned long *l, unsigned long long *t);
