// Keys by their kernel names ("\REGISTRY\MACHINE\SOFTWARE\..."): the one name
// the registry gives a key, whichever root, registry view or link led to it.
#pragma once

#include "platform/owned.h"
#include "platform/win32.h"

// The kernel names of the machine's hives and of the users' hives, and the
// ending of a user's classes hive ("\REGISTRY\USER\<SID>_Classes").
const wchar_t kMachineKernelName[] = L"\\REGISTRY\\MACHINE";
const wchar_t kUsersKernelName[] = L"\\REGISTRY\\USER";
const wchar_t kClassesHiveSuffix[] = L"_Classes";

// A kernel name read from the system: in `inlineUnits` when it fits, else in
// a block of its own. `units` and `length` (in UTF-16 units, no NUL) tell it.
struct KernelName {
    ULONG inlineUnits[256];
    OwnedBlock block;
    const wchar_t* units = nullptr;
    size_t length = 0;
};

// The kernel name of an open key (NtQueryKey, KeyNameInformation: neither
// Windows nor Wine asks for any access right on the handle for it).
// ERROR_SUCCESS, ERROR_NOT_ENOUGH_MEMORY, or the system's error.
LONG ReadKernelName(HKEY key, KernelName* name);

// The kernel name of the running account's hive, the key HKEY_CURRENT_USER
// stands for ("\REGISTRY\USER\<SID>").
LONG ReadCurrentUserKernelName(KernelName* name);

// Opens the key of that kernel name, a link at it followed, asking for
// `access` (registry views play no part: the name is the key's own).
LONG OpenKernelName(const wchar_t* units, size_t length, REGSAM access, HKEY* key);

// Compares names as the registry does: without regard to case.
bool SameKernelText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);
