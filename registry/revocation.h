// Repair of the default certificate revocation provider list.
#pragma once

#include "platform/win32.h"

u32 CertDllVerifyRevocationRegUninstall(int wipe, int warn);
