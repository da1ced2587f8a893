// Single-file operations: deletion with a reboot-time fallback.
#pragma once

#include "platform/win32.h"

// What became of an item of the family, from best to worst: removed now;
// deferred (it, and everything in it, is scheduled for deletion at the next
// reboot); left (something of it stays, and was reported).
enum class Fate { Removed, Deferred, Left };

// Probes one file; with warn reports it; in wipe mode deletes it (a link
// itself, never what it names).
u32 CleanFile(const wchar_t* path, int wipe, int warn);

// True for the errors that say a path names nothing: a probe that failed
// otherwise could not look, and reports that.
bool MeansAbsent(DWORD error);

// Deletes one file or, when that is refused, moves it to a temporary name
// beside itself and schedules that name for deletion at the next reboot; the
// path it was scheduled under goes to `scheduledAs` (MAX_PATH units) when
// given. A file that cannot be scheduled keeps (or gets back) its own name.
Fate DeleteOrDeferFile(const wchar_t* path, wchar_t* scheduledAs = nullptr);

// 1 = deleted, or moved to a temporary name and scheduled for deletion at the
// next reboot; 0 = failed.
int MyDeleteFile(const wchar_t* path);

// Moves a file or directory to a fresh "csp*.tmp" name in its own parent,
// written into `tempName` (MAX_PATH units). 1 = moved; 0 = failed.
int RenameToTmpName(const wchar_t* source, wchar_t* tempName);

// Clears the read-only attribute. 0 = success.
u32 ChangeFileAttrib(const wchar_t* path);

// True for the names GetTempFileNameW gives the items this program moves
// aside: "csp", one to four hexadecimal digits (all in one letter case), ".tmp".
bool LooksLikeTempName(const wchar_t* name);
