// Removal of driver setup files ("oem*.inf" and their ".pnf") that name the maker.
#pragma once

#include "platform/win32.h"

u32 CleanOemInfFiles(int wipe);

// `path` is a buffer of MAX_PATH units whose last three characters are
// overwritten to name the companion.
u32 ProcessOemInf(wchar_t* path, int wipe, const WIN32_FIND_DATAW* entry);
