// Takeover of a key's owner and DACL before its removal.
#pragma once

#include "platform/win32.h"

// Reads the owner and the DACL of HKLM\SOFTWARE\Classes\CLSID, the template.
// Buffers may be null with sizes 0 to learn the sizes (result 122 then).
u32 GetRights(void* owner, void* dacl, DWORD* ownerSize, DWORD* daclSize);

// Gives parent\subkey the template's owner, then its DACL. 0 = both written.
u32 ChangeRight(HKEY parent, const wchar_t* subkey);
// The same, with options for the opens of parent\subkey: REG_OPTION_OPEN_LINK
// for a key taken as itself, so that a link's own security is written, never its target's.
u32 ChangeRightWithOptions(HKEY parent, const wchar_t* subkey, DWORD openOptions);
