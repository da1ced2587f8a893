// Removal of values whose names contain a text, under HKEY_LOCAL_MACHINE.
#pragma once

#include "platform/win32.h"

// In a wipe pass each value is recorded in the undo file before it goes.
u32 RemoveMatchingValues(const wchar_t* subkey, const wchar_t* pattern, int wipe, int warn);
