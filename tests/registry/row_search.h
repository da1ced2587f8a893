// The search of one row alone, walking its tree for itself, as the program ran
// every search before the searches from one starting key shared a walk. Kept
// in the tests as the oracle that the shared walk is compared with; it prints,
// tests, reports and removes through the program's own steps of a search
// (registry/tree_search.h), so the two differ only in how they walk.
#pragma once

#include "registry/tree_search.h"

u32 RowSearch(HKEY root, const wchar_t* path, const SearchPatterns& patterns, int wipe, int warn);
