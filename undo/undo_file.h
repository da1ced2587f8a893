// The undo file: before a wipe pass removes a key tree or a value, or rewrites
// a value, it records what is about to go in a .reg file that Windows' own
// `reg import` puts back.
//
// One file per registry view per run, created on the first record of a pass
// that has something to record, never over an earlier file:
//   <common application data>\kvclean\undo\kvclean-YYYYMMDD-HHMMSS-VV.reg
// with the run's local date and time and VV = 64 or 32, the view; when that
// name exists, -2, -3, ... follows the time. The folders are made the
// administrators' own before the file goes in (run/program_folder.h), and the
// file grants Administrators and SYSTEM only. Creating the file prints
// "Undo file: <path>".
//
// Each record goes to the file before the function returns. A record returns 0
// when it is written or when no pass is active; a folder or file that cannot
// be created or written is reported once, that record returns the failure, and
// the later records of the pass do nothing. The removal that a record precedes
// goes on whatever the record returned (the removal is the job): its caller
// leaves the failure to UndoEndPass, which returns every failure of the pass's
// records once more, for the pass's result.
#pragma once

#include "platform/win32.h"

// Takes the run's local date and time for the file names; the first pass of a
// run that has none takes it itself.
void UndoBeginRun();

// Starts recording for a pass in the view (KEY_WOW64_64KEY: the 64-bit view,
// 0: the program's own 32-bit view). Creates nothing yet.
void UndoBeginPass(REGSAM view);

// One key as a bottom-up removal reaches it, after taking it over and before
// going down into its subkeys: the line of root\path and the values of its
// open `key`. The subkeys are recorded as the removal reaches each of them.
u32 UndoRecordOpenKey(HKEY root, const wchar_t* path, HKEY key);

// A comment line naming the registry link root\path (open as itself) and its
// target, before the link's own key is removed.
u32 UndoRecordLink(HKEY root, const wchar_t* path, HKEY link);

// The value `name` of the open key root\path, before it is removed.
u32 UndoRecordValue(HKEY root, const wchar_t* path, HKEY key, const wchar_t* name);

// The old bytes of the value `name` of root\path, before newData is written
// over them; nothing when the bytes stay the same, nor when the pass recorded
// the value's old bytes before: an import brings back the bytes from before
// the pass, not those between two of its rewrites.
u32 UndoRecordRewrite(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* oldData,
                      DWORD oldBytes, const void* newData, DWORD newBytes);

// Closes the pass's file; records do nothing until the next pass begins.
// Returns what the pass's records returned and a failure to close the file.
u32 UndoEndPass();

// The path of the file of the current or last pass; empty while it created none.
const wchar_t* UndoFilePath();
