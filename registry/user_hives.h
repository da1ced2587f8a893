// Every other user of the machine: the profiles of ProfileList
// (HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList) but the
// running account's, then the default profile, the one new accounts are made
// from (ProfileList's "Default" value, or the profiles folder's "Default", or
// its "DefaultUserProfile" on XP).
//
// Each profile has two hives: its own (NTUSER.DAT, what HKEY_CURRENT_USER is
// to its user) and its classes (UsrClass.dat in AppData\Local\Microsoft\Windows,
// on XP in Local Settings\Application Data\Microsoft\Windows: the user's half
// of HKEY_CLASSES_ROOT). A hive already loaded (a user logged on, a service's
// profile) is used as it is: HKEY_USERS\<SID>, HKEY_USERS\<SID>_Classes. One
// that is not is loaded from its file under a name of the program's own,
// HKEY_USERS\kvclean-<SID> or kvclean-<SID>_Classes (kvclean-Default for the
// default profile), with the backup and restore privileges enabled, and
// unloaded once every handle into it is closed; the "_Classes" ending makes
// the 32-bit view of 64-bit Windows redirect its keys as it does a logged-on
// user's classes. One hive is loaded at a time.
//
// Printed, for each hive, before what is done in it:
//   Hive of <SID> (HKEY_USERS\<SID>): <file>
//   Hive of <SID> (loaded as HKEY_USERS\kvclean-<SID>): <file>
// ("the default profile" in place of the SID), or, when it is not loaded and
// its file is missing (a stale profile entry; a machine without a default
// profile), one line, absence and no failure:
//   Hive file not found (skipping): <SID>: <file>
// A profile whose own hive is missing is skipped whole (its classes too). A
// hive file that is there but cannot be loaded (held open elsewhere), and an
// unload that fails, are reported.
#pragma once

#include "platform/win32.h"

enum UserHiveKind {
    kUserHive,     // NTUSER.DAT: the rows of HKEY_CURRENT_USER
    kClassesHive,  // UsrClass.dat: the rows of HKEY_CLASSES_ROOT
};

// What runs in one hive, `root` being its open root key; returns its failures.
typedef u32 (*HiveWork)(HKEY root, UserHiveKind kind, void* context);

// Runs `work` in each hive of every other user of the machine, as above, and
// returns what the runs and the loading returned, ORed.
u32 ForEachOtherUserHive(HiveWork work, void* context);
