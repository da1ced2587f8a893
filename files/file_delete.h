// Single-file operations: deletion with a reboot-time fallback.
#pragma once

#include "platform/win32.h"

// Probes one file; with warn reports it; in wipe mode deletes it.
u32 CleanFile(const wchar_t* path, int wipe, int warn);

// 1 = deleted, or moved to a temporary name and scheduled for deletion at the
// next reboot; 0 = failed.
int MyDeleteFile(const wchar_t* path);

// Moves a file or directory to a fresh "csp*.tmp" name in its own parent,
// written into `tempName` (MAX_PATH units). 1 = moved; 0 = failed.
int RenameToTmpName(const wchar_t* source, wchar_t* tempName);

// Clears the read-only attribute. 0 = success.
u32 ChangeFileAttrib(const wchar_t* path);

// True for names of the "csp*.tmp" form that this program gives the items it
// moves aside: any name that contains both "csp" and ".tmp".
bool LooksLikeTempName(const wchar_t* name);
