// What a search does at one key, the same whether it walks the tree alone or
// shares one walk with the searches beside it (registry/search_group.h): its
// tests of the key, the lines it prints, and the removal of what it found.
#pragma once

#include "platform/owned.h"
#include "platform/win32.h"
#include "registry/key_wipe.h"

// The texts a search looks for; any may be null (not tested).
struct SearchPatterns {
    const wchar_t* keyName;
    const wchar_t* valueName;
    const wchar_t* valueData;
};

// The test a key passed, of those tried in this order.
enum MatchKind { kNoMatch, kKeyNameMatch, kValueNameMatch, kValueDataMatch };

// Buffers for reading a key's values: a value name at the registry's limit,
// and a block for the data that comes along with each enumeration.
struct ValueBuffers {
    OwnedBlock name;
    OwnedBlock data;  // may be missing: every value's data is then queried by name
};
// 0, or the report of a memory shortage.
u32 AllocateValueBuffers(ValueBuffers* buffers);

// Searches as bits: bit i stands for searches[i].
inline u32 SearchBit(int search) { return 1u << search; }

// What one reading of a key's values found, by search: a value name that holds
// its valueName, a REG_SZ value whose text holds its valueData.
struct ValueHits {
    u32 byName;
    u32 byData;
};

// Reads the values of an open key once for the searches in `readers` (names,
// and the data as well when a reader tests data). `report`: the reading is one
// search's own, and each failure met is reported as met; otherwise nothing is
// reported and *failed says whether anything failed. The reading goes on past
// a failure as far as it can, the same either way.
u32 ReadValueHits(HKEY key, const SearchPatterns* searches, u32 readers, const ValueBuffers& buffers, bool report,
                  ValueHits* hits, bool* failed);

// The test one search alone passes at an open key named `name`, reporting the
// failures of its reading.
u32 MatchKey(HKEY key, const wchar_t* name, const SearchPatterns& patterns, const ValueBuffers& buffers,
             MatchKind* kind);

// The test a key passed that the search could not open: its name came with
// the listing, so a key that refuses us matches by it; any other key that did
// not open passes none.
MatchKind MatchUnopenedKey(LONG openStatus, const wchar_t* name, const SearchPatterns& patterns);

// "Searching for" with the three texts and the starting key's path.
void PrintSearchHeader(const SearchPatterns& patterns, const wchar_t* path);
// The key's line and the "^^^" line under it, naming the test it passed.
void PrintMatch(int level, const wchar_t* name, MatchKind kind);

// A key that a search found: the open handle of its parent and its own name
// there, the name its lines show, and where it is in the registry (the
// predefined root and the full path under it), for whatever records what goes.
struct FoundKey {
    HKEY parent;
    const wchar_t* name;
    const wchar_t* shown;
    HKEY root;
    const wchar_t* path;
};

// What a search's removal of a key it found came to.
enum RemovalOutcome {
    kNotRemoving,    // list mode: the key is as it was
    kRemoved,        // gone: whatever lists its parent finds the next sibling at its index
    kRemovalFailed,  // wholly or in part: the key is still there, its tree perhaps changed
};

// Where a search reports what it found (under warn) and, in wipe mode, removes
// it (its key already closed): every find of every search passes here.
u32 RemoveFound(const FoundKey& found, WipeScope scope, int wipe, int warn, bool underSystem,
                RemovalOutcome* outcome);

// A search's starting key, open for reading as `key`, at `place`; where it is
// (the predefined root and the path under it), for the undo file.
struct StartingKey {
    HKEY key;
    const KeyPlace* place;
    HKEY root;
    const wchar_t* path;
};

// The values of a starting key that the search's value tests find: the key
// itself is never removed, but such a value is. Each prints "ValName:
// path\name", counts as a value found and, under warn, is reported; in wipe
// mode it is recorded in the undo file and removed, through a handle of its
// own that may set values. The key's other values and its subkeys stay.
// *removed: a value went.
u32 RemoveFoundValues(const StartingKey& start, const SearchPatterns& patterns, const ValueBuffers& buffers, int wipe,
                      int warn, bool* removed);

// A search whose starting key (open as `key`, at `place`) is a registry link:
// the link is listed as itself, never searched, and in wipe mode removed
// itself. Closes the key.
u32 SearchStartThatIsALink(OwnedKey& key, const KeyPlace& place, HKEY root, const wchar_t* path, int wipe, int warn);
