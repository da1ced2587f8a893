// Probing, listing and bottom-up removal of registry key trees.
#pragma once

#include "platform/win32.h"

// Lists the tree of root\subkey; in wipe mode removes it. A missing or
// inaccessible key is a printed line, not a failure.
u32 CleanRegKey(HKEY root, const wchar_t* subkey, int wipe, int warn);

// Prints "Key:" and "ValName:" lines of an open key's whole tree, depth-first.
// Counts: each key counts itself; values are summed through the recursion.
u32 ListRegTree(HKEY key, const wchar_t* path, int level, u32* keyCount, u32* valueCount);
u32 ListRegValues(HKEY key, int level, u32* valueCount);

// Removes parent\subkey with everything below it, taking over each key's
// security first. 0 = gone; 0xFFFFFFFF = could not be opened for full access.
u32 RecurseWipeRegTree(HKEY parent, const wchar_t* subkey);
const u32 kWipeOpenFailed = 0xFFFFFFFF;

// Deletes one key in the current registry view; returns the system error code.
LONG DeleteRegKey(HKEY parent, const wchar_t* subkey);

// True when the path lies under SYSTEM (the first six characters, any case).
bool IsUnderSystem(const wchar_t* path);
