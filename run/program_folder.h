// The program's own folders and files on the machine, for the undo files and
// the run's log:
//   <common application data>\kvclean\<folder>\kvclean-YYYYMMDD-HHMMSS[-N]<ending>
// named by the run's local date and time; when a name exists, -2, -3, ...
// follows the time, so an earlier file is never overwritten or written through.
//
// Both folders are made the program's own before a file goes in them, whoever
// made them: each is created when missing, and then, created or found, opened
// as itself (a link or junction in its place is not followed, and is not used)
// and given owner Administrators and the protected Administrators and SYSTEM
// list through that handle, which stays open without delete sharing until the
// file exists, so that neither folder can be removed, renamed or replaced
// meanwhile. The file grants Administrators and SYSTEM only.
#pragma once

#include "platform/owned.h"

const size_t kProgramPathUnits = MAX_PATH + 64;

// Takes the run's local date and time for the names; a file made before any
// run time was taken takes it itself.
void TakeRunTime();
bool RunTimeTaken();

struct ProgramFile {
    OwnedFile file;
    wchar_t path[kProgramPathUnits];
};

// Creates a new file for writing (others may read it) in `folder` ("\\undo")
// under the first free name with `ending` ("-64.reg"). Every failure is
// reported once, naming the file by `what` ("undo": "the undo folder", "the
// undo file"), and returned; nothing is created in a folder that could not be
// made the program's own.
u32 CreateProgramFile(const wchar_t* folder, const wchar_t* ending, const char* what, ProgramFile* made);
