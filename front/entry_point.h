// The program as started: locale, confirmation dialogs, and the choice of the
// install command's argument vector. The user's own arguments never reach the
// install command; only the first one is searched for a few words.
#pragma once

#include "platform/win32.h"

typedef u32 (*InstallCommandFn)(int argc, wchar_t** argv);

// Returns the process exit code: the install command's result, or 1 when the
// user declined or asked for help. kvclean.exe passes RunInstallCommand.
u32 RunEntryPoint(int argc, wchar_t** argv, InstallCommandFn install);

// True when the argument contains one of the words that ask for help: "help",
// "-h", "\h", "/h" or "?".
bool AsksForHelp(const wchar_t* argument);
