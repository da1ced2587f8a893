// The file plan: install folders, system-directory modules and drivers, Start
// Menu folders, driver setup files.
#pragma once

#include "platform/win32.h"

u32 RunFilePlan(int wipe, int warn);
