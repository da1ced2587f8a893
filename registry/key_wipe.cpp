#include "registry/key_wipe.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "platform/owned.h"
#include "registry/key_security.h"
#include "undo/undo_file.h"

namespace {

// The display path of a nested key: at most 254 characters and the NUL.
const DWORD kDisplayPathUnits = 255;

// parent "\" child, cut to at most kDisplayPathUnits - 1 characters.
void JoinDisplayPath(wchar_t* out, const wchar_t* parent, const wchar_t* child) {
    size_t used = 0;
    const wchar_t* parts[] = {parent, L"\\", child};
    for (const wchar_t* part : parts) {
        for (; *part && used < kDisplayPathUnits - 1; ++part) out[used++] = *part;
    }
    out[used] = L'\0';
}

u32 ReportDeletion(LONG status, const wchar_t* subkey) {
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return REPORT("Can not RegDeleteKey: %S", subkey);
    }
    WidePrint(L"Deleted %ls\n", subkey);
    return 0;
}

// Deletes the key behind the handle itself: a link goes, never its target.
LONG DeleteOpenKey(HKEY key) {
    NtDeleteKeyFn ntDeleteKey = LookUpFunction<NtDeleteKeyFn>(L"ntdll.dll", "NtDeleteKey");
    if (!ntDeleteKey) return ERROR_PROC_NOT_FOUND;
    LONG ntStatus = ntDeleteKey(key);
    if (ntStatus == 0) return ERROR_SUCCESS;
    RtlNtStatusToDosErrorFn toSystemError = LookUpFunction<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    return toSystemError ? static_cast<LONG>(toSystemError(ntStatus)) : ERROR_ACCESS_DENIED;
}

// Deletes the key behind the handle and closes it; `removed` tells whether it is gone.
u32 DeleteThroughHandle(OwnedKey& key, const wchar_t* shown, bool* removed) {
    LONG status = DeleteOpenKey(key.get());
    *removed = status == ERROR_SUCCESS;
    u32 result = CloseKeyReported(key, shown);
    return result | ReportDeletion(status, shown);
}

// Lists the values of an open key.
u32 ListValues(HKEY key, int level, u32* valueCount) {
    *valueCount = 0;
    OwnedBlock buffer = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* name = BlockAs<wchar_t>(buffer);
    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kValueNameUnits;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        ++*valueCount;
        PrintIndent(level);
        WidePrint(L"ValName: %ls\n", name);
    }
    return status == ERROR_NO_MORE_ITEMS ? 0 : ReportValueEnumFailure(status);
}

// Opens the parent path of root\path for querying only (the root itself for a
// one-component path), checked: any link on it but Windows' own makes
// kLinkOnThePath. A parent that refuses us is not needed: the key is then
// named by its whole path from the root, and every open of it is checked.
// Result: 0, or the report of a memory shortage.
u32 OpenKeyPlace(HKEY root, const wchar_t* path, KeyPlace* place, LONG* status) {
    *status = ERROR_SUCCESS;
    const wchar_t* lastSeparator = wcsrchr(path, L'\\');
    place->parent = root;
    place->name = lastSeparator ? lastSeparator + 1 : path;
    if (!lastSeparator) return 0;

    size_t units = static_cast<size_t>(lastSeparator - path);
    OwnedBlock buffer = AllocateBlock((units + 1) * sizeof(wchar_t));
    if (!buffer) {
        *status = ERROR_NOT_ENOUGH_MEMORY;
        return REPORT("Not enough memory.");
    }
    wchar_t* parentPath = BlockAs<wchar_t>(buffer);
    memcpy(parentPath, path, units * sizeof(wchar_t));
    parentPath[units] = L'\0';
    *status = OpenKeyPath(root, parentPath, KEY_QUERY_VALUE, 0, place->parentKey.put());
    if (*status == ERROR_SUCCESS) {
        place->parent = place->parentKey.get();
    } else if (*status == ERROR_ACCESS_DENIED) {
        place->name = path;
        *status = ERROR_SUCCESS;
    } else if (*status == ERROR_NOT_ENOUGH_MEMORY) {
        return REPORT("Not enough memory.");
    }
    return 0;
}

// Deletes a registry link through its own handle, its comment line in the
// undo file first.
u32 DeleteLink(HKEY root, const wchar_t* path, OwnedKey& link, const wchar_t* shown, bool* removed) {
    UndoRecordLink(root, path, link.get());
    return DeleteThroughHandle(link, shown, removed);
}

}  // namespace

// Bottom-up removal of root\path, the key `name` below the open `parent`,
// printed as `shown`. Every key is opened as itself and deleted through its
// own handle, so that neither a planted link nor a key swapped for one midway
// leads the removal elsewhere. Each key is recorded for undo once its security
// is taken over and it is open for full access, before its subkeys: a key
// whose security refuses reading is read then. Its subkeys' full paths are its
// own, a separator and their names, in a block per level (a full path is not
// limited to the 255 units of a name). `removed` tells the caller whether the
// key is gone: its enumeration goes on from there.
u32 WipeKeyAt(HKEY root, const wchar_t* path, HKEY parent, const wchar_t* name, const wchar_t* shown,
              WipeScope scope, bool* removed) {
    *removed = false;
    size_t pathUnits = wcslen(path);
    OwnedBlock buffer = AllocateBlock((pathUnits + 1 + kKeyNameUnits) * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");

    OwnedKey key;
    bool opened = OpenChildKey(parent, name, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS;
    if (opened && IsRegistryLink(key.get())) return DeleteLink(root, path, key, shown, removed);
    if (opened && scope == kLinkOnly) return 0;

    u32 result = 0;
    if (ChangeRightWithOptions(parent, name, REG_OPTION_OPEN_LINK) != 0)
        result = REPORT("Can not ChangeRight: %S", shown);
    else
        WidePrint(L"Right changed %ls\n", shown);

    if (!opened) {
        LONG status = OpenChildKey(parent, name, KEY_ALL_ACCESS, key.put());
        if (status != ERROR_SUCCESS) {
            KeepStatusAsLastError(status);
            return kWipeOpenFailed;
        }
        // Only a link that refused us at first gets here: its own security was written, not its target's.
        if (IsRegistryLink(key.get())) return result | DeleteLink(root, path, key, shown, removed);
        if (scope == kLinkOnly) return result;
    }

    UndoRecordOpenKey(root, path, key.get());
    WidePrint(L"Enum keys in %ls\n", shown);
    wchar_t* childPath = BlockAs<wchar_t>(buffer);
    memcpy(childPath, path, pathUnits * sizeof(wchar_t));
    childPath[pathUnits] = L'\\';
    wchar_t* child = childPath + pathUnits + 1;
    LONG status;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key.get(), i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        bool childRemoved = false;
        result |= WipeKeyAt(root, childPath, key.get(), child, child, kWholeTree, &childRemoved);
        // A removed child's next sibling has moved into its index; one that stayed is
        // stepped over, whatever its result (a failed takeover may still end in a removal).
        if (!childRemoved) ++i;
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(status);
    return result | DeleteThroughHandle(key, shown, removed);
}

void KeepStatusAsLastError(LONG status) { win32.SetLastError(static_cast<DWORD>(status)); }

u32 ReportSubkeyEnumFailure(LONG status) {
    KeepStatusAsLastError(status);
    return REPORT("RegEnumKeyEx failed: SUCCESS or NO_MORE_ITEMS expected.");
}

u32 ReportValueEnumFailure(LONG status) {
    KeepStatusAsLastError(status);
    return REPORT("RegEnumValue failed: SUCCESS or NO_MORE_ITEMS expected.");
}

bool TextContains(const wchar_t* text, const wchar_t* part) { return !*part || win32.wcsstr(text, part); }

void PrintIndent(int level) {
    for (int i = 0; i < level; ++i) WidePrint(L"  ");
}

void PrintUnopenedKey(LONG status, const wchar_t* name) {
    if (status == kLinkOnThePath)
        WidePrint(L"Link on the path (skipping): %ls\n", name);
    else if (status == kKeyNameUnknown)
        WidePrint(L"Key name unknown (skipping): %ls\n", name);
    else if (status == ERROR_ACCESS_DENIED)
        WidePrint(L"Access denied (skipping): %ls\n", name);
    else
        WidePrint(L"Key not exist: %ls\n", name);
}

u32 CouldNotOpen(LONG status, HKEY parent, const wchar_t* name, const wchar_t* shown) {
    bool answer = status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND || status == ERROR_KEY_DELETED ||
                  status == kLinkOnThePath;
    return answer || InCountedKey(parent, name) ? 0 : CouldNotLook(status, shown);
}

u32 CloseKeyReported(OwnedKey& key, const wchar_t* name) {
    LONG status = win32.RegCloseKey(key.release());
    if (status == ERROR_SUCCESS) return 0;
    KeepStatusAsLastError(status);
    return REPORT("Can not RegCloseKey: %S", name);
}

LONG OpenChildKey(HKEY parent, const wchar_t* child, REGSAM access, HKEY* key) {
    if (wcschr(child, L'\\')) return OpenKeyPath(parent, child, access, REG_OPTION_OPEN_LINK, key);
    return win32.RegOpenKeyExW(parent, child, REG_OPTION_OPEN_LINK, access | g_registryView, key);
}

u32 OpenStartingKey(HKEY root, const wchar_t* path, REGSAM access, KeyPlace* place, OwnedKey* key, LONG* status) {
    u32 result = OpenKeyPlace(root, path, place, status);
    if (*status == ERROR_SUCCESS) *status = OpenChildKey(place->parent, place->name, access, key->put());
    return result;
}

namespace {

// A key row's removal of its key, in the place it was found.
u32 RemoveRowKey(HKEY root, const wchar_t* subkey, const KeyPlace& place) {
    bool removed = false;
    u32 result = 0;
    if (WipeKeyAt(root, subkey, place.parent, place.name, subkey, kWholeTree, &removed) != 0)
        result = REPORT("Can not RecurseWipeRegTree: %S", subkey);
    else
        CountRemoved(kCountedKey);
    if (IsUnderSystem(subkey)) g_rebootNeeded = 1;
    return result;
}

}  // namespace

u32 CleanRegKey(HKEY root, const wchar_t* subkey, int wipe, int warn) {
    KeyPlace place;
    OwnedKey key;
    LONG status = ERROR_SUCCESS;
    u32 result = OpenStartingKey(root, subkey, KEY_READ, &place, &key, &status);
    if (result == 0 && status == ERROR_ACCESS_DENIED && wipe) {
        // A key of the family that refuses us: taken over, as its subkeys are, and removed.
        WidePrint(L"Access denied (taking over): %ls\n", subkey);
        result |= RemoveRowKey(root, subkey, place);
    } else if (result == 0 && status != ERROR_SUCCESS) {
        PrintUnopenedKey(status, subkey);
        result |= CouldNotOpen(status, place.parent, place.name, subkey);
    }
    if (key) {
        u32 keyCount = 0, valueCount = 0;
        result = ListRegTree(key.get(), subkey, 0, &keyCount, &valueCount);
        CountFoundKey(key.get());
        if (warn) result |= REPORT("Redundant data found");
        result |= CloseKeyReported(key, subkey);
        // Where a key row removes its key: the one it listed, in the same place.
        if (wipe) result |= RemoveRowKey(root, subkey, place);
    }
    WidePrint(L"\n");
    return result;
}

u32 ListRegTree(HKEY key, const wchar_t* path, int level, u32* keyCount, u32* valueCount) {
    *keyCount = 1;
    *valueCount = 0;
    PrintIndent(level);
    WidePrint(L"Key: %ls\n", path);

    u32 values = 0;
    u32 result = ListValues(key, level + 1, &values);
    *valueCount += values;
    // A link is listed as itself and never descended into.
    if (IsRegistryLink(key)) return result;

    OwnedBlock pathBuffer = AllocateBlock(kDisplayPathUnits * sizeof(wchar_t));
    if (!pathBuffer) return result | REPORT("Not enough memory.");
    OwnedBlock nameBuffer = AllocateBlock(kKeyNameUnits * sizeof(wchar_t));
    if (!nameBuffer) return result | REPORT("Not enough memory.");
    wchar_t* childPath = BlockAs<wchar_t>(pathBuffer);
    wchar_t* name = BlockAs<wchar_t>(nameBuffer);

    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        JoinDisplayPath(childPath, path, name);
        OwnedKey child;
        if (OpenChildKey(key, name, KEY_READ, child.put()) != ERROR_SUCCESS) continue;
        u32 childKeys = 0, childValues = 0;
        result |= ListRegTree(child.get(), childPath, level + 1, &childKeys, &childValues);
        *keyCount += childKeys;
        *valueCount += childValues;
        result |= CloseKeyReported(child, childPath);
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(status);
    return result;
}

bool IsUnderSystem(const wchar_t* path) { return win32._wcsnicmp(path, L"SYSTEM", 6) == 0; }
