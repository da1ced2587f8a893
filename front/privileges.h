// The process token's privileges, and the reboot prompt.
#pragma once

#include "platform/win32.h"

// Enables SeTakeOwnershipPrivilege. 0 = success, else a report's result.
u32 GetPriveleges();
// Asks whether to reboot now and starts the reboot on Yes. Nonzero when the
// prompt was handled (declined, or the reboot started), 0 on failure.
int PromptReboot();
