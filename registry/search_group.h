// Recursive searches that remove keys found by key name, value name or value
// data; consecutive searches from the same starting key share one walk.
#pragma once

#include "registry/tree_search.h"

// One search: the path of its starting key under the group's root, and its texts.
struct SearchRow {
    const wchar_t* path;
    SearchPatterns patterns;
};

// The most searches one walk serves (a bit each in its sets of searches).
const int kMaxSearchGroup = 32;

// Runs rows[0..count), searches that all start at the same key of `root`, as
// if each ran alone, one after another: the same lines in the same order, the
// same results, the same keys removed. A search's starting key is searched
// below and never removed itself; a registry link in its place is listed as
// itself, never searched, and in wipe mode removed itself.
//
// The tree is read once: the first search walks it live, reading each key's
// name, subkeys and values once, and tests the others' texts at every key it
// reads; for them it keeps only the keys where one of them has something to
// print or to look below (inner keys, matches, keys it could not open), never
// a key for its values alone. They then run in turn from what was kept,
// opening live only the keys they print, remove or look below. A key that a
// search removed is gone for the searches after it; one whose removal failed,
// wholly or in part, and one that could not be opened, are read again from the
// registry by each search that comes to it.
u32 SearchRegTreeGroup(HKEY root, const SearchRow* rows, int count, int wipe, int warn);

// One search alone.
u32 SearchRegTree(HKEY root, const wchar_t* path, const wchar_t* lpKeyNameMatch, const wchar_t* lpValNameMatch,
                  const wchar_t* lpValDataMatch, int wipe, int warn);
