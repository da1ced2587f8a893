// The system list values as the repairs show and rewrite them: the bytes a
// value held when read and the bytes it gets, side by side at the write.
#pragma once

#include <string.h>

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

inline bool RewriteChangesValue(const ListRewrite& rewrite) {
    return rewrite.newSize != rewrite.oldSize || memcmp(rewrite.newBytes, rewrite.oldBytes, rewrite.oldSize) != 0;
}

// Writes exactly the new bytes. RegSetValueExW counts one more unit into a
// string whose last unit is not NUL when the unit after it is NUL, so the unit
// after the new bytes is made non-NUL first.
LONG WriteListValue(HKEY key, const wchar_t* name, const ListRewrite& rewrite);

// Prints the units, a NUL as a blank.
void PrintListUnits(const wchar_t* units, size_t count);
