// Process-wide state shared across the program.
#pragma once

#include "platform/win32.h"

// 0, or KEY_WOW64_64KEY while the 64-bit passes run. ORed into every registry
// open and key deletion; it also chooses the folders of the file plan.
extern u32 g_registryView;

// Set when a pass removed something under SYSTEM or rewrote the LSA package
// list; never cleared. Read once at the end of the install command.
extern u32 g_rebootNeeded;

// Element 0 of the entry point's arguments, for the usage text.
extern const wchar_t* g_programName;
