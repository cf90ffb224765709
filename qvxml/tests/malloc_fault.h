#pragma once
// The system allocator of a fault-injection build (malloc_fault.cpp, linked with
// -Wl,--wrap=malloc): every malloc call of the library and its callers passes through
// it and can be refused on request.

// The calls counted are those of malloc and aligned_alloc, and of the pool of locked
// pages that serves secure blocks (take_locked), whose own calls for pages count too.
//
// Counts calls from here on and refuses the at-th (0 refuses none), or with onward
// every call from the at-th on. Returns the calls counted before.
long malloc_fault_arm(long at, bool onward);
// The calls the pool made for pages of its own since the last arming.
long malloc_fault_pages();
// The next free of the system block that holds block copies the first bytes at block
// (it must be that long) to the returned store, filled with 0xff until then.
constexpr int malloc_fault_freed_size = 48;
const unsigned char *malloc_fault_watch_free(const void *block);
