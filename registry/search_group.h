// Recursive searches that remove keys found by key name, value name or value
// data; consecutive searches from the same starting key share one walk.
#pragma once

#include "registry/tree_search.h"

// One search: the path of its starting key under the group's root, and its texts.
struct SearchRow {
    const wchar_t* path;
    SearchPatterns patterns;
};

// The most searches one walk serves (a bit each in the walk's record).
const int kMaxSearchGroup = 32;

// One search alone: it reads every key of its tree from the registry as it
// goes, and removes what it finds (in wipe mode) as it goes.
u32 SearchRegTree(HKEY root, const wchar_t* path, const wchar_t* lpKeyNameMatch, const wchar_t* lpValNameMatch,
                  const wchar_t* lpValDataMatch, int wipe, int warn);

// Runs rows[0..count), searches that all start at the same key of `root`, as
// if each ran alone, one after another (SearchRegTree): the same lines in the
// same order, the same results, the same keys removed. A search's starting
// key is searched below and never removed itself (only the values on it that
// a search's value tests find, RemoveFoundValues); a registry link in its
// place is listed as itself, never searched, and in wipe mode removed itself.
// A subkey that refuses opening is found by its name alone, by the searches
// whose key-name text it holds (MatchUnopenedKey).
//
// The tree is read once. The first search whose starting key opens (and is no
// link) walks it, reading each key's subkeys and values once for itself and
// the searches after it, and records only the keys where one of them has
// something to do: print a line, remove the key, look below it, read its
// values again (their reading failed: each search reports its own failures)
// or say that it did not open. Every search, the first included, then runs
// from that record, opening only the keys it removes, reads again or looks
// below. A key that a search removed is gone for the searches after it; one
// whose removal failed, wholly or in part, they read from the registry with
// everything below it. When the record cannot be kept (no memory for it),
// each search reads the whole tree from the registry, as alone.
//
// Where the sameness ends, the searches see the tree as the walk met it:
// - a subkey list that breaks off midway in wipe mode: alone, each search
//   would list again after the removals before it, from other indices; here
//   each search stops where the walk's list stopped (a list that always breaks
//   off before the same key gives the same result both ways);
// - a key that the walk listed but could not open: each search says so as the
//   walk's open failed, without trying the key again itself;
// - other processes' changes to the tree while the group runs;
// - a failure to close a key that only the walk opened is not reported.
u32 SearchRegTreeGroup(HKEY root, const SearchRow* rows, int count, int wipe, int warn);

// The record is kept in blocks of this size, taken as it grows.
const size_t kRecordBlockBytes = 16 * 1024;
