// Recursive removal of directory trees, deferring what is in use to the next reboot.
#pragma once

#include "platform/win32.h"

u32 CleanDirectory(const wchar_t* path, int wipe, int warn);

// 0 = everything removed or scheduled; nonzero = something failed. What stays
// keeps its own name and that of every folder above it.
u32 RecurseWipeTree(const wchar_t* path);
