// The hive an undo record names a key by: the one the key was read from,
// whichever root the plan reached it by, so that an import puts it back there
// and not into the hive of whoever imports it.
//   HKEY_LOCAL_MACHINE                   a key of HKEY_LOCAL_MACHINE, as the plan spells it
//                                        (reg import's /reg:32 or /reg:64 chooses the view, so
//                                        the Wow6432Node of a kernel name is no part of it)
//   HKEY_LOCAL_MACHINE\SOFTWARE\Classes  a key of HKEY_CLASSES_ROOT's machine half
//   HKEY_USERS\<SID>_Classes             a key of its user half
//   HKEY_USERS\<SID>                     a key of HKEY_CURRENT_USER, or of a user's hive
// The kernel name of the key tells the halves and the user apart.
#pragma once

#include "platform/win32.h"

// Room for a hive's name: HKEY_USERS, a separator, a hive's name below it, the NUL.
const size_t kHiveNameUnits = 300;

// Writes into `name` (kHiveNameUnits) the hive of `key`, an open key read under
// `root` (a predefined root or an open key). `key` may be null where the root
// alone tells. False when the hive cannot be told.
bool RecordHiveName(HKEY root, HKEY key, wchar_t* name);
