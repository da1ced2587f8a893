// Bounded path text for the fixed MAX_PATH buffers of the file operations.
#pragma once

#include "platform/win32.h"

// The longest path the buffers hold with its terminator.
const size_t kLongestPath = MAX_PATH - 1;
// The longest temporary name: "csp", four hexadecimal digits, ".tmp".
const size_t kLongestTempName = 11;
// The longest directory in which GetTempFileNameW may be asked for a name:
// Windows documents MAX_PATH - 14 and refuses longer ones; Wine writes the name
// past a MAX_PATH buffer instead.
const size_t kLongestTempNameDirectory = MAX_PATH - 14;

// Appends `tail` to the text in `buffer` (MAX_PATH units). False, with the
// buffer unchanged, when the result and its terminator would not fit.
inline bool AppendToPath(wchar_t* buffer, const wchar_t* tail) {
    size_t used = wcslen(buffer);
    size_t added = wcslen(tail);
    if (used + added >= MAX_PATH) return false;
    memcpy(buffer + used, tail, (added + 1) * sizeof(wchar_t));
    return true;
}

// `buffer` = `head` followed by `tail`; false when it would not fit.
inline bool JoinPath(wchar_t* buffer, const wchar_t* head, const wchar_t* tail) {
    buffer[0] = L'\0';
    return AppendToPath(buffer, head) && AppendToPath(buffer, tail);
}
