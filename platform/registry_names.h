// What the registry allows in names, and how it marks a link: shared by the
// rooms that read keys (the undo records and the removals).
#pragma once

#include "platform/win32.h"

// Buffer sizes in UTF-16 units: the longest names the registry allows (255
// for a key, 16383 for a value) and the NUL.
const DWORD kKeyNameUnits = 256;
const DWORD kValueNameUnits = 16384;

// A registry link is a key whose value of this name, of type REG_LINK, holds
// the full NT path of its target.
const wchar_t kLinkValueName[] = L"SymbolicLinkValue";
