// What waits in the reboot-time rename list for the family.
//
// Early at each start Windows carries out what MoveFileEx registered with
// MOVEFILE_DELAY_UNTIL_REBOOT, listed in the values PendingFileRenameOperations
// and PendingFileRenameOperations2 of
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager: pairs of strings, a
// source "\??\C:\path" and a destination, empty for a deletion. The wipe
// passes put there what is in use: under temporary names ("csp*.tmp") beside
// where it was, and folders moved aside with what they held.
//
// kvscan loads the list once, before its passes; each pass's file plan then
// notes the deletions waiting at the family's places of its view. With no
// list loaded (kvclean) noting does nothing.
#pragma once

#include "platform/win32.h"

// How a deletion waiting for the reboot lies at a place of the family.
enum class WaitingAt {
    // the place itself, or anything inside it: a folder or file of the family
    Place,
    // a temporary name directly in the place, or anything inside it: what
    // kvclean moved aside in a folder that holds the family's folders or files
    MovedAside,
};

// Reads both values, keeping the deletions among their entries: the sources
// with the prefix "\??\" whose destination is empty; a rename to elsewhere is
// none. 0, or the report of a value that could not be read. An absent key or
// value is an empty list.
u32 LoadWaitingDeletions();
void ForgetWaitingDeletions();

// Each deletion of the loaded list at the place, `folder` or `name` in it when
// given (as `at` says, without regard to the case of ASCII letters), whose
// path names something that exists prints "Deletion waits for the next
// reboot: <path>" and is counted, once however many places, passes or entries
// name it (run/run_summary.h). 0, or the report of a path that could not be
// probed.
u32 NoteWaitingDeletions(const wchar_t* folder, const wchar_t* name, WaitingAt at);
