// The install command: options, cleanup passes in both registry views, key
// settings removal and the reboot prompt.
#pragma once

#include "platform/win32.h"

u32 RunInstallCommand(int argc, wchar_t** argv);
// The file plan, then the registry plan, with the same pass flags.
u32 RunCleanupPass(int wipe, int warn);
void PrintUsage();
