// Blocks that end exactly where an inaccessible page begins: reading or
// writing one unit past a block's end faults at once.
#pragma once

#include <map>

#include "tests/support/hooks.h"

void* GuardedBlock(size_t bytes);
void ReleaseGuardedBlock(void* block);

// While it lives, the table's VirtualAlloc and malloc hand out guarded blocks
// filled with 0xCD (so nothing relies on fresh memory being zero).
class GuardedAllocations {
public:
    GuardedAllocations();
    int blocks() const { return blocks_; }

private:
    int blocks_ = 0;
    ScopedHook<&Win32Api::VirtualAlloc> virtualAlloc_;
    ScopedHook<&Win32Api::VirtualFree> virtualFree_;
    ScopedHook<&Win32Api::malloc> malloc_;
    ScopedHook<&Win32Api::free> free_;
};
