#include "run/process_state.h"

u32 g_registryView = 0;
u32 g_rebootNeeded = 0;
const wchar_t* g_programName = L"kvclean.exe";
