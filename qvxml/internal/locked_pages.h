#pragma once
// Locked memory for the allocator's secure blocks. mlock and munlock do not nest: a
// page is locked or not, whoever asked, so unlocking one block's pages would unlock
// every other block on them. Secure blocks therefore live on pages the pool owns: a
// page is locked once when the pool takes it from the system allocator and unlocked
// once when it gives it back, never while a block on it lives. Small blocks share pages
// of one size class; a larger block gets a run of pages to itself. A few emptied pages
// and runs stay locked while any block lives, so that releasing one item's blocks and
// allocating the next item's costs no system call; when the last block goes, every page
// goes back to the system allocator.
//
// The caller holds allocation_control around every call.

#include <cstddef>

// total bytes of locked memory, aligned for any object; their contents are left as the
// last user wiped them (or unspecified on a fresh page). Null when the system allocator
// refuses a page. A lock the system refuses is ignored: the memory is handed out as is.
void *take_locked(std::size_t total);
// Takes back p, obtained from take_locked with the same total; the caller has wiped it.
void give_locked(void *p, std::size_t total);
