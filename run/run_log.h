// The log of a cleanup: everything the run prints from its start on, also in
//   <common application data>\kvclean\logs\kvclean-YYYYMMDD-HHMMSS[-N].log
// with the run's date and time, in a folder kept as the undo folder is
// (run/program_folder.h). A double-click run's console closes with it; the
// log stays.
//
// The text is UTF-16LE with a byte order mark and CRLF line ends, which every
// Notepad since Windows XP reads, as does `type` in a console: the output
// holds Russian folder names, which Windows keeps as UTF-16 anyway, and the
// narrow report lines, which are read in the console's output code page as
// the console shows them (platform/win32.h, TeePrintsTo).
#pragma once

#include "platform/win32.h"

// Creates the log, prints "Log file: <path>", and from then on writes every
// printed line to it as well. A log that cannot be created is reported once
// and its failure returned; the run goes on without it.
u32 StartRunLog();

// Stops writing and closes the log. Returns the failure of a write that was
// reported when it failed (the lines after it are missing) and of the close.
u32 EndRunLog();
