// Repairs of the LSA "Security Packages" list: the family's entries go, the rest stays.
#pragma once

#include "platform/win32.h"

u32 TlsRegUninstall(int wipe, int warn);
u32 SslRegUninstall(int wipe, int warn);
