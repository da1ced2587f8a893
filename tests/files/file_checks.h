// Helpers shared by the file-operation tests: expected report text, the
// reboot-time deletion list, temporary names and UTF-16 file content.
#pragma once

#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/machine.h"

// Captured output with the line numbers of reports replaced by "#", so that
// "install:2546:" reads "install:#:".
std::string WithoutLineNumbers(const std::string& output);

// The lines ErrorReport prints for `message` with last error `error` (without
// colour marks), line number as "#".
std::string ReportText(const std::string& message, DWORD error);

// Paths scheduled for deletion at the next reboot, in the order they were
// registered, without the "\??\" prefix.
std::vector<std::wstring> ScheduledDeletions();
// Position of `path` in ScheduledDeletions() (compared without letter case), or -1.
int ScheduledPosition(const std::wstring& path);
inline bool IsScheduled(const std::wstring& path) { return ScheduledPosition(path) >= 0; }

// True when `path` is `directory` + "\csp" + 1 to 4 hex digits + ".tmp".
bool IsTempNameIn(const std::wstring& path, const std::wstring& directory);

// Entries of `directory` of the temporary-name form.
std::vector<std::wstring> TempNamesIn(const std::wstring& directory);

// The targets of "Rename: X into Y success." lines, in the order printed.
std::vector<std::wstring> RenameTargets(const std::string& output);

// UTF-16LE bytes of `text` (no byte-order mark, no terminator).
std::string Utf16Bytes(const std::wstring& text);

// A copy of a system library at `path`, loaded into this process: Windows and
// Wine then refuse to delete the file but let it be renamed.
HMODULE LoadCopyOfSystemLibrary(const std::wstring& path);
