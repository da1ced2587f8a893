// Recursive search that removes keys found by key name, value name or value data.
#pragma once

#include "platform/win32.h"

// Any of the three texts may be null (not tested). Level 0 at the top: the
// starting key, searched below and never removed itself (a link in its place
// is removed itself, never followed).
// `parent` is a predefined root: the undo file names every removed key by it
// and the key's full path (at a level above 0, `name` is that path).
u32 SearchRegTree(HKEY parent, const wchar_t* name, int level, const wchar_t* lpKeyNameMatch,
                  const wchar_t* lpValNameMatch, const wchar_t* lpValDataMatch, int wipe, int warn);

// Counts the value names of an open key that contain the text.
u32 CountMatchingValueNames(HKEY key, const wchar_t* pattern, u32* count);
// Counts the REG_SZ values of an open key whose text contains the text.
u32 CountMatchingValueData(HKEY key, const wchar_t* pattern, u32* count);
