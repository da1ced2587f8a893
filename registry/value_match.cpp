#include "registry/value_match.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "platform/owned.h"
#include "registry/key_path.h"
#include "registry/key_wipe.h"
#include "undo/undo_file.h"

u32 RemoveMatchingValues(const wchar_t* subkey, const wchar_t* pattern, int wipe, int warn) {
    WidePrint(L"Searching for ValName: %ls\\*%ls*\n", subkey, pattern);
    OwnedBlock buffer = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* name = BlockAs<wchar_t>(buffer);

    u32 result = 0;
    OwnedKey key;
    // A link anywhere on the path, the key itself included, makes another key: skipped.
    LONG status = OpenKeyPath(HKEY_LOCAL_MACHINE, subkey, KEY_ALL_ACCESS, 0, key.put());
    if (status != ERROR_SUCCESS) {
        PrintUnopenedKey(status, subkey);
        result |= CouldNotOpen(status, HKEY_LOCAL_MACHINE, subkey, subkey);
    } else {
        bool found = false;
        for (DWORD i = 0;;) {
            DWORD size = kValueNameUnits;
            status = win32.RegEnumValueW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) break;
            if (!TextContains(name, pattern)) {
                ++i;
                continue;
            }
            found = true;
            WidePrint(L"ValName: %ls\\%ls\n", subkey, name);
            CountFoundValue(key.get(), name);
            if (warn) result |= REPORT("Redundant data found");
            if (!wipe) {
                ++i;
                continue;
            }
            UndoRecordValue(HKEY_LOCAL_MACHINE, subkey, key.get(), name);
            LONG deleted = win32.RegDeleteValueW(key.get(), name);
            if (deleted == ERROR_SUCCESS) CountRemoved(kCountedValue);
            if (deleted != ERROR_SUCCESS) {
                KeepStatusAsLastError(deleted);
                result |= REPORT("Can not RegDeleteValue (%S\\%S)", subkey, name);
                ++i;
            } else if (IsUnderSystem(subkey)) {
                // The next value has moved into this index.
                g_rebootNeeded = 1;
            }
        }
        if (status != ERROR_NO_MORE_ITEMS) result |= ReportValueEnumFailure(status);
        if (!found) WidePrint(L"Matching ValName not exist: %ls\\*%ls*\n", subkey, pattern);
        result |= CloseKeyReported(key, subkey);
    }
    WidePrint(L"\n");
    return result;
}
