// Editing of REG_MULTI_SZ lists read from the machine, whatever their shape.
//
// A list is read as UTF-16 units and split at every NUL: each entry is the
// units before its NUL, and units after the last NUL form a last entry without
// one. Empty entries are entries like any other and do not end the list:
// Windows itself often stores "" alone, and installers append after it. A
// well-formed list thus ends in an empty entry, whose NUL closes the list.
//
// Edits keep every unit that is not theirs to change, so a list keeps its
// shape. Nothing here reads or writes outside the counts it is given.
#pragma once

#include <stddef.h>
#include <wchar.h>

const size_t kNoEntry = static_cast<size_t>(-1);
// Returned by the edits when the output does not fit its room.
const size_t kNoRoom = static_cast<size_t>(-1);

// Offset of the first entry equal to `entry` (whole and case-sensitive),
// wherever it stands, or kNoEntry. An empty `entry` matches nothing.
size_t FindMultiStringEntry(const wchar_t* units, size_t count, const wchar_t* entry);

// Copies the list to `out` without every entry equal to `entry` and its NUL;
// all other units stay, in order. Returns the units written (never more than
// `count`), or kNoRoom when `capacity` is too small.
size_t CopyMultiStringWithout(const wchar_t* units, size_t count, const wchar_t* entry, wchar_t* out,
                              size_t capacity);

// Adds `entry` at the end of the list of `length` units in `list` when no entry
// equals it: before the closing NUL when the list has one; otherwise after the
// last entry, which gets its NUL if it lacks one, followed by a closing NUL.
// Returns the new length, or kNoRoom when it does not fit (the list unchanged).
size_t EnsureMultiStringEntry(wchar_t* list, size_t length, size_t capacity, const wchar_t* entry);

// Room beyond a list's length that EnsureMultiStringEntry may need for
// `entry`: its own NUL, a NUL for an unterminated last entry, a closing NUL.
inline size_t MultiStringAppendUnits(const wchar_t* entry) { return wcslen(entry) + 3; }
