#pragma once
// The system allocator of a fault-injection build (malloc_fault.cpp, linked with
// -Wl,--wrap=malloc): every malloc call of the library and its callers passes through
// it and can be refused on request.

// Counts calls from here on and refuses the at-th (0 refuses none), or with onward
// every call from the at-th on.
void malloc_fault_arm(long at, bool onward);
// The calls counted since the last malloc_fault_arm, or since the start.
long malloc_fault_calls();
