// The system list values as the repairs show and rewrite them: the bytes a
// value held when read and the bytes it gets, side by side at the write.
#pragma once

#include "platform/win32.h"

// Room the write uses after the new bytes (see WriteListValue).
const DWORD kListWriteSlackBytes = 2;

struct ListRewrite {
    DWORD type;  // the type as read, written back
    const BYTE* oldBytes;
    DWORD oldSize;
    BYTE* newBytes;  // followed by kListWriteSlackBytes of room
    DWORD newSize;
};

// Writes exactly the new bytes over the value `name` of the open key
// root\path. RegSetValueExW counts one more unit into a string whose last unit
// is not NUL when the unit after it is NUL, so the unit after the new bytes is
// made non-NUL first. In a wipe pass the old bytes go to the undo file first,
// when the new ones differ.
LONG WriteListValue(HKEY root, const wchar_t* path, HKEY key, const wchar_t* name, const ListRewrite& rewrite);

// Prints the units, a NUL as a blank.
void PrintListUnits(const wchar_t* units, size_t count);
