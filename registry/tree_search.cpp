#include "registry/tree_search.h"

#include "front/error_report.h"
#include "front/process_state.h"
#include "front/run_summary.h"
#include "platform/owned.h"
#include "registry/key_wipe.h"

namespace {

struct SearchPatterns {
    const wchar_t* keyName;
    const wchar_t* valueName;
    const wchar_t* valueData;
};

const wchar_t* Shown(const wchar_t* pattern) { return pattern ? pattern : L""; }

// Value data that an enumeration carries along with the name: room for a long
// path. Four zero bytes beyond the data end the text in whole units, also when
// the stored size is odd or the text lacks its NUL.
const DWORD kEnumeratedDataBytes = 4096;
const DWORD kTerminatorBytes = 4;

// A value whose data did not come with its enumeration: its type and size by
// name, then, for REG_SZ only, its data into a zeroed block of its own.
u32 QueryValueText(HKEY key, const wchar_t* name, const wchar_t* pattern, bool* contains) {
    *contains = false;
    DWORD type = REG_NONE, bytes = 0;
    LONG queried = win32.RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (queried != ERROR_SUCCESS) {
        KeepStatusAsLastError(queried);
        return REPORT("RegQueryValueEx failed");
    }
    if (type != REG_SZ) return 0;

    OwnedBlock data = bytes <= MAXDWORD - kTerminatorBytes ? AllocateBlock(bytes + kTerminatorBytes) : OwnedBlock();
    if (!data) return REPORT("Not enough memory");
    memset(data.get(), 0, bytes + kTerminatorBytes);
    DWORD read = bytes;
    queried = win32.RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(data.get()), &read);
    if (queried != ERROR_SUCCESS) {
        KeepStatusAsLastError(queried);
        return REPORT("RegQueryValueEx failed");
    }
    *contains = type == REG_SZ && TextContains(BlockAs<wchar_t>(data), pattern);
    return 0;
}

// The key `name` below the open `parent`; `path` is its full path from the
// predefined `root`, for the undo file. `underSystem`: the search started
// under SYSTEM, so every removal in it is. `removalTried` tells the caller
// that this key may be gone.
u32 SearchKey(HKEY root, const wchar_t* path, HKEY parent, const wchar_t* name, int level,
              const SearchPatterns& patterns, int wipe, int warn, bool underSystem, bool* removalTried);

// Searches the subkeys of a key that is not removed. A removed child's next
// sibling moves into its index; any other child is stepped over, so each
// subkey is visited once. The key's own line comes before its first child,
// unless `namePrinted` says it has been printed already. Each child's full
// path is the key's `path`, a separator and its name, in a block per level.
u32 SearchSubkeys(HKEY root, const wchar_t* path, HKEY key, const wchar_t* name, int level,
                  const SearchPatterns& patterns, int wipe, int warn, bool underSystem, bool namePrinted) {
    size_t pathUnits = wcslen(path);
    OwnedBlock buffer = AllocateBlock((pathUnits + 1 + kKeyNameUnits) * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    OwnedBlock previousBuffer = AllocateBlock(kKeyNameUnits * sizeof(wchar_t));
    if (!previousBuffer) return REPORT("Not enough memory.");
    wchar_t* childPath = BlockAs<wchar_t>(buffer);
    memcpy(childPath, path, pathUnits * sizeof(wchar_t));
    childPath[pathUnits] = L'\\';
    wchar_t* child = childPath + pathUnits + 1;
    wchar_t* previous = BlockAs<wchar_t>(previousBuffer);

    u32 result = 0;
    LONG status;
    bool first = true;
    bool indexKept = false;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (indexKept && wcscmp(child, previous) == 0) {
            // The child looked removed but is still listed here: never visit it twice.
            indexKept = false;
            ++i;
            continue;
        }
        if (first) {
            // A link below the starting key is never descended into (the
            // starting key is no link once its subkeys are searched).
            if (level > 0 && IsRegistryLink(key)) {
                status = ERROR_NO_MORE_ITEMS;
                break;
            }
            if (!namePrinted) {
                PrintIndent(level);
                WidePrint(L"%ls\n", name);
            }
            first = false;
        }
        bool removalTried = false;
        result |= SearchKey(root, childPath, key, child, level + 1, patterns, wipe, warn, underSystem, &removalTried);

        indexKept = false;
        if (!removalTried) {
            // Nothing tried to remove this child (in list mode nothing ever
            // does): it is still at this index, so there is no need to reopen it.
            ++i;
            continue;
        }
        OwnedKey reopened;
        LONG reopen = OpenChildKey(key, child, KEY_READ, reopened.put());
        if (reopen == ERROR_SUCCESS) {
            result |= CloseKeyReported(reopened, child);
            ++i;
        } else if (reopen == ERROR_ACCESS_DENIED) {
            // Still there, but no longer openable: stepped over.
            ++i;
        } else {
            // Removed: the next sibling has moved into this index.
            wcscpy(previous, child);
            indexKept = true;
        }
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        KeepStatusAsLastError(status);
        result |= REPORT("RegEnumKeyEx failed: SUCCESS or NO_MORE_ITEMS expected.");
    }
    return result;
}

// Which test the open key passes, if any: its name, then its value names, then
// its plain string data.
const wchar_t* MatchOf(HKEY key, const wchar_t* name, const SearchPatterns& patterns, u32* result) {
    if (patterns.keyName && TextContains(name, patterns.keyName)) return L"lpKeyNameMatch";
    u32 count = 0;
    if (patterns.valueName) {
        *result |= CountMatchingValueNames(key, patterns.valueName, &count);
        if (count) return L"lpValNameMatch";
    }
    if (patterns.valueData) {
        *result |= CountMatchingValueData(key, patterns.valueData, &count);
        if (count) return L"lpValDataMatch";
    }
    return nullptr;
}

void PrintMatch(int level, const wchar_t* name, const wchar_t* matchedBy) {
    PrintIndent(level);
    WidePrint(L"%ls\n", name);
    PrintIndent(level);
    WidePrint(L"^^^ %ls\n", matchedBy);
}

// Where a search removes what it found, `name` below the open `parent` and
// root\path in full (its own key already closed): every removal of a search,
// and every find that warn reports, passes here.
u32 RemoveFound(HKEY root, const wchar_t* path, HKEY parent, const wchar_t* name, const wchar_t* shown,
                WipeScope scope, int wipe, int warn, bool underSystem, bool* removalTried) {
    u32 result = 0;
    if (warn) result |= REPORT("Redundant data found");
    if (!wipe) return result;
    *removalTried = true;
    if (WipeKeyAt(root, path, parent, name, shown, scope) != 0)
        result |= REPORT("Can not RecurseWipeRegTree: %S", shown);
    else CountRemoved(kCountedKey);
    if (underSystem) g_rebootNeeded = 1;
    return result;
}

u32 SearchKey(HKEY root, const wchar_t* path, HKEY parent, const wchar_t* name, int level,
              const SearchPatterns& patterns, int wipe, int warn, bool underSystem, bool* removalTried) {
    *removalTried = false;
    OwnedKey key;
    LONG status = OpenChildKey(parent, name, KEY_READ, key.put());
    if (status != ERROR_SUCCESS) {
        PrintIndent(level);
        PrintUnopenedKey(status, name);
        return 0;
    }
    u32 result = 0;
    const wchar_t* matchedBy = MatchOf(key.get(), name, patterns, &result);
    if (!matchedBy) {
        result |= SearchSubkeys(root, path, key.get(), name, level, patterns, wipe, warn, underSystem, false);
        return result | CloseKeyReported(key, name);
    }
    PrintMatch(level, name, matchedBy);
    CountFoundKey(key.get());
    result |= CloseKeyReported(key, name);
    return result | RemoveFound(root, path, parent, name, name, kWholeTree, wipe, warn, underSystem, removalTried);
}

// The search's starting key looks for the family below it and is never
// removed itself: when it matches, that is said, and its subkeys are searched
// all the same. A link in its place is listed as itself, never searched, and
// in wipe mode removed itself.
u32 SearchFromStart(HKEY root, const wchar_t* path, const SearchPatterns& patterns, int wipe, int warn) {
    bool underSystem = IsUnderSystem(path);
    KeyPlace place;
    OwnedKey key;
    LONG status = ERROR_SUCCESS;
    u32 result = OpenStartingKey(root, path, KEY_READ, &place, &key, &status);
    if (result == 0 && status != ERROR_SUCCESS) PrintUnopenedKey(status, path);
    if (key) {
        WidePrint(L"Searching for\n    KeyName: '%ls'\n or ValName: '%ls'\n or ValData: '%ls'\n in '%ls'\n",
                  Shown(patterns.keyName), Shown(patterns.valueName), Shown(patterns.valueData), path);
        bool removalTried = false;
        if (IsRegistryLink(key.get())) {
            u32 keyCount = 0, valueCount = 0;
            result |= ListRegTree(key.get(), path, 0, &keyCount, &valueCount);
            CountFoundKey(key.get());
            result |= CloseKeyReported(key, path);
            result |= RemoveFound(root, path, place.parent, place.name, path, kLinkOnly, wipe, warn, underSystem,
                                  &removalTried);
        } else {
            const wchar_t* matchedBy = MatchOf(key.get(), path, patterns, &result);
            if (matchedBy) PrintMatch(0, path, matchedBy);
            result |= SearchSubkeys(root, path, key.get(), path, 0, patterns, wipe, warn, underSystem,
                                    matchedBy != nullptr);
            result |= CloseKeyReported(key, path);
        }
    }
    WidePrint(L"\n");
    return result;
}

}  // namespace

u32 SearchRegTree(HKEY parent, const wchar_t* name, int level, const wchar_t* lpKeyNameMatch,
                  const wchar_t* lpValNameMatch, const wchar_t* lpValDataMatch, int wipe, int warn) {
    SearchPatterns patterns = {lpKeyNameMatch, lpValNameMatch, lpValDataMatch};
    if (level == 0) return SearchFromStart(parent, name, patterns, wipe, warn);
    bool removalTried = false;
    return SearchKey(parent, name, parent, name, level, patterns, wipe, warn, IsUnderSystem(name), &removalTried);
}

u32 CountMatchingValueNames(HKEY key, const wchar_t* pattern, u32* count) {
    *count = 0;
    OwnedBlock buffer = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* name = BlockAs<wchar_t>(buffer);
    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kValueNameUnits;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (TextContains(name, pattern)) ++*count;
    }
    if (status == ERROR_NO_MORE_ITEMS) return 0;
    KeepStatusAsLastError(status);
    return REPORT("RegEnumValue failed: SUCCESS or NO_MORE_ITEMS expected.");
}

u32 CountMatchingValueData(HKEY key, const wchar_t* pattern, u32* count) {
    *count = 0;
    OwnedBlock buffer = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* name = BlockAs<wchar_t>(buffer);
    // Data up to this block's size comes with the enumeration itself, in the
    // same call as the name; longer data, or all of it when the block is not
    // to be had, is queried by name.
    OwnedBlock dataBuffer = AllocateBlock(kEnumeratedDataBytes + kTerminatorBytes);
    BYTE* data = static_cast<BYTE*>(dataBuffer.get());
    u32 result = 0;
    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kValueNameUnits, type = REG_NONE, bytes = kEnumeratedDataBytes;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, data ? &type : nullptr, data, data ? &bytes : nullptr);
        if (status == ERROR_SUCCESS && data && bytes <= kEnumeratedDataBytes) {
            if (type != REG_SZ) continue;
            memset(data + bytes, 0, kTerminatorBytes);
            if (TextContains(reinterpret_cast<const wchar_t*>(data), pattern)) ++*count;
            continue;
        }
        if (status == ERROR_MORE_DATA && data) {
            // The name may not have come with it either: enumerated again, alone.
            size = kValueNameUnits;
            status = win32.RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        }
        if (status != ERROR_SUCCESS) break;
        bool contains = false;
        result |= QueryValueText(key, name, pattern, &contains);
        if (contains) ++*count;
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        KeepStatusAsLastError(status);
        result |= REPORT("RegEnumValue failed: SUCCESS or NO_MORE_ITEMS expected.");
    }
    return result;
}
