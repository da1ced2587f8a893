// Probing, listing and bottom-up removal of registry key trees.
#pragma once

#include "platform/owned.h"
#include "platform/registry_names.h"
#include "platform/win32.h"
#include "registry/key_path.h"

// Lists the tree of root\subkey; in wipe mode removes it. A missing key, one
// reached only through a link, and in list mode one that refuses reading, are
// a printed line, not a failure (but for a scan, one left unread is: see
// CouldNotOpen); in wipe mode a key that refuses us is taken over and removed,
// and a takeover that fails is the row's failure.
u32 CleanRegKey(HKEY root, const wchar_t* subkey, int wipe, int warn);

// Prints "Key:" and "ValName:" lines of an open key's whole tree, depth-first.
// Counts: each key counts itself; values are summed through the recursion.
u32 ListRegTree(HKEY key, const wchar_t* path, int level, u32* keyCount, u32* valueCount);

// Registry links are never followed, from a row's root down: a starting key
// is reached only through the links Windows itself keeps on such paths
// (registry/key_path.h), and every key is opened with REG_OPTION_OPEN_LINK,
// so a link at a starting key or below it is the link key itself: listed as
// itself, never descended into, and removed itself, through its own handle.

// Where a starting key sits: the key it is opened from, and its name there.
struct KeyPlace {
    HKEY parent = nullptr;          // the root itself, or the parent path's own handle
    OwnedKey parentKey;             // the parent path's handle, when the parent could be read
    const wchar_t* name = nullptr;  // the last component within the path, or the whole path
};

// Opens the parent path of root\path (checked, for querying only), then the
// starting key itself with `access`, as itself. A parent that refuses even that
// is not needed: the key is then opened by its whole path, checked, from the
// root. Result: 0, or the report of a memory shortage; *status: the status of
// the open that failed (absent, refused, kLinkOnThePath, kKeyNameUnknown), or
// ERROR_SUCCESS with the key open. On ERROR_ACCESS_DENIED, `place` is the
// key's, for a takeover.
u32 OpenStartingKey(HKEY root, const wchar_t* path, REGSAM access, KeyPlace* place, OwnedKey* key, LONG* status);

// What a removal takes: the key with its whole tree, or the key only when it
// is a registry link (anything else there stays untouched).
enum WipeScope { kWholeTree, kLinkOnly };

// Takes over and removes parent\name, opened as itself, printing it as
// `shown`; a link goes through its own handle, never its target. `name` may be
// a single component below an open key, or a whole path below a root: every
// open of such a path, and every handle security is written through, is
// checked by its kernel name (registry/key_path.h). A key that refuses us
// even reading is taken over first, as every key is, so a search can hand
// here a subkey it could not open. root\path is the same key by its root and
// full path, for the undo file: in a wipe pass each key is recorded as the
// removal reaches it (a link as a comment line). A failed record is the undo
// file's to report and return; the removal goes on. Result: 0 when the whole
// tree is gone, kWipeOpenFailed when the key could not be opened for full
// access, else the failures ORed; *removed: the key itself is gone (deleted
// through its own handle), so whatever lists its parent finds the next
// sibling at its index.
u32 WipeKeyAt(HKEY root, const wchar_t* path, HKEY parent, const wchar_t* name, const wchar_t* shown,
              WipeScope scope, bool* removed);
const u32 kWipeOpenFailed = 0xFFFFFFFF;

// Opens parent\child itself, a link included, in the current registry view.
// A child given as a path of several components is checked (OpenKeyPath).
LONG OpenChildKey(HKEY parent, const wchar_t* child, REGSAM access, HKEY* key);

// Registry calls return their error instead of leaving it behind; this leaves
// it as the last error, for the report that follows.
void KeepStatusAsLastError(LONG status);
// The reports of a subkey or value enumeration that ended otherwise than at its end.
u32 ReportSubkeyEnumFailure(LONG status);
u32 ReportValueEnumFailure(LONG status);

// Case-sensitive substring test. An empty text is in every text, the empty
// one included (not every runtime's wcsstr agrees for an empty text).
bool TextContains(const wchar_t* text, const wchar_t* part);

// `level` times two blanks, the indentation of nested lines.
void PrintIndent(int level);
// "Access denied (skipping): ", "Link on the path (skipping): ", "Key name
// unknown (skipping): " or "Key not exist: " and the name, by the open's error.
void PrintUnopenedKey(LONG status, const wchar_t* name);
// What an open of parent\name that failed leaves a list pass with: an absent
// key, or a path through a link (it leads elsewhere: no trace of the family
// lies there), is an answer; any other failure left the key unread, a place
// the pass could not look (run/run_summary.h), unless it lies inside a key
// tree found before. `shown` names it. Result: CouldNotLook's.
u32 CouldNotOpen(LONG status, HKEY parent, const wchar_t* name, const wchar_t* shown);
// Closes the key; a failure is reported as "Can not RegCloseKey: " with the name.
u32 CloseKeyReported(OwnedKey& key, const wchar_t* name);

// True when the path lies under SYSTEM (the first six characters, any case).
bool IsUnderSystem(const wchar_t* path);
