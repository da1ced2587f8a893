// Editing of REG_MULTI_SZ lists read from the machine, whatever their shape.
//
// A list is read as UTF-16 units. Its entries end at the first empty entry (two
// NULs in a row) or at the end of the units, so the last entry may lack its NUL
// and a list without any NUL is one entry; what follows an empty entry is not
// part of the list. Lists written here are well-formed: each entry followed by
// its NUL, the list closed by a further NUL (an empty list is one NUL).
//
// Nothing here reads or writes outside the counts it is given.
#pragma once

#include <stddef.h>
#include <wchar.h>

const size_t kNoEntry = static_cast<size_t>(-1);

// Offset of the first entry equal to `entry` (whole and case-sensitive), or kNoEntry.
size_t FindMultiStringEntry(const wchar_t* units, size_t count, const wchar_t* entry);

// Writes the list's entries to `out` as a well-formed list, leaving out the one
// that starts at offset `skip` (kNoEntry: none). Returns the units written,
// closing NUL included, or 0 when `capacity` is too small.
size_t CopyMultiStringWithout(const wchar_t* units, size_t count, size_t skip, wchar_t* out, size_t capacity);

// Appends `entry` to the well-formed list of `length` units in `list` when the
// list does not hold it yet. Returns the new length, or 0 when it does not fit.
size_t EnsureMultiStringEntry(wchar_t* list, size_t length, size_t capacity, const wchar_t* entry);

// Units needed for a well-formed copy of any list of `count` units: each entry
// gains at most its NUL, and the list its closing NUL.
inline size_t MultiStringCopyUnits(size_t count) { return count + 2; }
