// The hive an undo record names a key by: the one the key was read from,
// whichever root the plan reached it by, so that an import puts it back there
// and not into the hive of whoever imports it.
//   HKEY_LOCAL_MACHINE                   a key of HKEY_LOCAL_MACHINE, as the plan spells it
//                                        (reg import's /reg:32 or /reg:64 chooses the view, so
//                                        the Wow6432Node of a kernel name is no part of it)
//   HKEY_LOCAL_MACHINE\SOFTWARE\Classes  a key of HKEY_CLASSES_ROOT's machine half
//   HKEY_USERS\<SID>_Classes             a key of its user half
//   HKEY_USERS\<SID>                     a key of HKEY_CURRENT_USER, or of a user's hive
//   HKEY_USERS\<name>                    a key of a hive the run loaded itself under that name
// The kernel name of the key tells the halves and the user apart.
#pragma once

#include "platform/win32.h"
#include "undo/reg_format.h"

// Room for a hive's name: HKEY_USERS, a separator, a hive's name below it, the NUL.
const size_t kHiveNameUnits = 300;
// Room for a hive's file: a profile's folder, the file's place in it, the NUL.
const size_t kHiveFileUnits = MAX_PATH + 100;

// Writes into `name` (kHiveNameUnits) the hive of `key`, an open key read under
// `root` (a predefined root or an open key). `key` may be null where the root
// alone tells. False when the hive cannot be told.
bool RecordHiveName(HKEY root, HKEY key, wchar_t* name);

// Hives the run loaded itself (a user's hive that was not loaded,
// registry/user_hives.h): the name each has below HKEY_USERS until it is
// unloaded, and its file. False when no more can be kept.
bool NoteLoadedHive(const wchar_t* loadName, const wchar_t* file);
void ForgetLoadedHive(const wchar_t* loadName);

// Before the first record of a key in such a hive after its load: when
// `hiveName` (as RecordHiveName wrote it) is one, the comment lines that say
// how to load its file under that name before the import, and to unload it
// after.
void AnnounceLoadedHive(RegText* text, const wchar_t* hiveName);
