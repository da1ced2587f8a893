#include "registry/key_wipe.h"

#include "front/error_report.h"
#include "front/process_state.h"
#include "front/run_summary.h"
#include "platform/owned.h"
#include "registry/key_security.h"

namespace {

const wchar_t kLinkValueName[] = L"SymbolicLinkValue";

// parent "\" child, cut to at most kKeyNameUnits - 1 characters.
void JoinDisplayPath(wchar_t* out, const wchar_t* parent, const wchar_t* child) {
    size_t used = 0;
    const wchar_t* parts[] = {parent, L"\\", child};
    for (const wchar_t* part : parts) {
        for (; *part && used < kKeyNameUnits - 1; ++part) out[used++] = *part;
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

u32 DeleteThroughHandle(OwnedKey& key, const wchar_t* subkey) {
    LONG status = DeleteOpenKey(key.get());
    u32 result = CloseKeyReported(key, subkey);
    return result | ReportDeletion(status, subkey);
}

// Lists the values of an open key; tells whether they make it a registry link.
u32 ListValues(HKEY key, int level, u32* valueCount, bool* isLink) {
    *valueCount = 0;
    *isLink = false;
    OwnedBlock buffer = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* name = BlockAs<wchar_t>(buffer);
    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kValueNameUnits, type = 0;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, &type, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        ++*valueCount;
        if (type == REG_LINK && wcscmp(name, kLinkValueName) == 0) *isLink = true;
        PrintIndent(level);
        WidePrint(L"ValName: %ls\n", name);
    }
    if (status == ERROR_NO_MORE_ITEMS) return 0;
    KeepStatusAsLastError(status);
    return REPORT("RegEnumValue failed: SUCCESS or NO_MORE_ITEMS expected.");
}

// Bottom-up removal. The starting key is opened by its path (which may pass
// through links) and deleted by name in the current view; keys below it are
// opened as themselves and deleted through their own handle, so that neither a
// planted link nor a key swapped for one midway leads the removal elsewhere.
u32 WipeKey(HKEY parent, const wchar_t* subkey, bool belowStart) {
    OwnedBlock buffer = AllocateBlock(kKeyNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");

    OwnedKey key;
    if (belowStart && OpenChildKey(parent, subkey, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS &&
        IsRegistryLink(key.get()))
        return DeleteThroughHandle(key, subkey);

    u32 result = 0;
    if (ChangeRightWithOptions(parent, subkey, belowStart ? REG_OPTION_OPEN_LINK : 0) != 0)
        result = REPORT("Can not ChangeRight: %S", subkey);
    else
        WidePrint(L"Right changed %ls\n", subkey);

    if (!key) {
        LONG status = belowStart ? OpenChildKey(parent, subkey, KEY_ALL_ACCESS, key.put())
                                 : win32.RegOpenKeyExW(parent, subkey, 0, KEY_ALL_ACCESS | g_registryView, key.put());
        if (status != ERROR_SUCCESS) {
            KeepStatusAsLastError(status);
            return kWipeOpenFailed;
        }
        // Only a link that refused us at first gets here: its own security was written, not its target's.
        if (belowStart && IsRegistryLink(key.get())) return result | DeleteThroughHandle(key, subkey);
    }

    WidePrint(L"Enum keys in %ls\n", subkey);
    wchar_t* name = BlockAs<wchar_t>(buffer);
    LONG status;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        u32 childResult = RecurseWipeRegSubtree(key.get(), name);
        result |= childResult;
        // A removed child's next sibling has moved into its index; one that stayed is stepped over.
        if (childResult != 0) ++i;
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        KeepStatusAsLastError(status);
        result |= REPORT("RegEnumKeyEx failed: SUCCESS or NO_MORE_ITEMS expected.");
    }

    if (belowStart) return result | DeleteThroughHandle(key, subkey);
    result |= CloseKeyReported(key, subkey);
    return result | ReportDeletion(DeleteRegKey(parent, subkey), subkey);
}

}  // namespace

void KeepStatusAsLastError(LONG status) { win32.SetLastError(static_cast<DWORD>(status)); }

bool TextContains(const wchar_t* text, const wchar_t* part) { return !*part || win32.wcsstr(text, part); }

void PrintIndent(int level) {
    for (int i = 0; i < level; ++i) WidePrint(L"  ");
}

void PrintUnopenedKey(LONG status, const wchar_t* name) {
    if (status == ERROR_ACCESS_DENIED)
        WidePrint(L"Access denied (skipping): %ls\n", name);
    else
        WidePrint(L"Key not exist: %ls\n", name);
}

u32 CloseKeyReported(OwnedKey& key, const wchar_t* name) {
    LONG status = win32.RegCloseKey(key.release());
    if (status == ERROR_SUCCESS) return 0;
    KeepStatusAsLastError(status);
    return REPORT("Can not RegCloseKey: %S", name);
}

LONG OpenChildKey(HKEY parent, const wchar_t* child, REGSAM access, HKEY* key) {
    return win32.RegOpenKeyExW(parent, child, REG_OPTION_OPEN_LINK, access | g_registryView, key);
}

bool IsRegistryLink(HKEY key) {
    DWORD type = REG_NONE;
    LONG status = win32.RegQueryValueExW(key, kLinkValueName, nullptr, &type, nullptr, nullptr);
    return status == ERROR_SUCCESS && type == REG_LINK;
}

u32 CleanRegKey(HKEY root, const wchar_t* subkey, int wipe, int warn) {
    u32 result = 0;
    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(root, subkey, 0, KEY_READ | g_registryView, key.put());
    if (status != ERROR_SUCCESS) {
        PrintUnopenedKey(status, subkey);
    } else {
        u32 keyCount = 0, valueCount = 0;
        result = ListRegTree(key.get(), subkey, 0, &keyCount, &valueCount);
        CountFoundKey(key.get());
        if (warn) result |= REPORT("Redundant data found");
        result |= CloseKeyReported(key, subkey);
        if (wipe) {
            if (RecurseWipeRegTree(root, subkey) != 0) result |= REPORT("Can not RecurseWipeRegTree: %S", subkey);
            else CountRemoved(kCountedKey);
            if (IsUnderSystem(subkey)) g_rebootNeeded = 1;
        }
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
    bool isLink = false;
    u32 result = ListValues(key, level + 1, &values, &isLink);
    *valueCount += values;
    // A link is listed as itself and never descended into.
    if (isLink) return result;

    OwnedBlock pathBuffer = AllocateBlock(kKeyNameUnits * sizeof(wchar_t));
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
    if (status != ERROR_NO_MORE_ITEMS) {
        KeepStatusAsLastError(status);
        result |= REPORT("RegEnumKeyEx failed: SUCCESS or NO_MORE_ITEMS expected.");
    }
    return result;
}

u32 ListRegValues(HKEY key, int level, u32* valueCount) {
    bool isLink = false;
    return ListValues(key, level, valueCount, &isLink);
}

u32 RecurseWipeRegTree(HKEY parent, const wchar_t* subkey) { return WipeKey(parent, subkey, false); }

u32 RecurseWipeRegSubtree(HKEY parent, const wchar_t* child) { return WipeKey(parent, child, true); }

LONG DeleteRegKey(HKEY parent, const wchar_t* subkey) {
    RegDeleteKeyExWFn deleteKeyEx = LookUpFunction<RegDeleteKeyExWFn>(L"advapi32.dll", "RegDeleteKeyExW");
    if (deleteKeyEx) return deleteKeyEx(parent, subkey, g_registryView, 0);
    return win32.RegDeleteKeyW(parent, subkey);
}

bool IsUnderSystem(const wchar_t* path) { return win32._wcsnicmp(path, L"SYSTEM", 6) == 0; }
