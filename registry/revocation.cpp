#include "registry/revocation.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "platform/owned.h"
#include "registry/key_path.h"
#include "registry/key_wipe.h"
#include "registry/list_value.h"
#include "registry/multi_string.h"

namespace {

const wchar_t kRevocationKey[] =
    L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";
const wchar_t kProviderValue[] = L"Dll";
const wchar_t kSystemProvider[] = L"cryptnet.dll";
// The system provider alone, as a one-entry list: its NUL and the closing NUL.
const wchar_t kSystemProviderList[] = L"cryptnet.dll\0";
// The family's own revocation provider (the file plan removes the module itself).
const wchar_t kFamilyProvider[] = L"kvocsp.dll";
const DWORD kWorkUnits = 305;
// Room past the value's size: an empty value still gets a block.
const DWORD kValueExtraBytes = 4;

// Prints the list's entries separated by blanks, without its closing NULs.
void PrintProviders(const wchar_t* units, size_t count) {
    while (count > 0 && units[count - 1] == L'\0') --count;
    PrintListUnits(units, count);
}

}  // namespace

u32 CertDllVerifyRevocationRegUninstall(int wipe, int warn) {
    OwnedBlock workBuffer = AllocateBlock(kWorkUnits * sizeof(wchar_t));
    if (!workBuffer) return REPORT("Not enough memory.");
    wchar_t* work = BlockAs<wchar_t>(workBuffer);
    memset(work, 0, kWorkUnits * sizeof(wchar_t));

    WidePrint(L"CertDllVerifyRevocationRegUninstall\n");
    wcsncpy(work, kRevocationKey, kWorkUnits - 1);
    OwnedKey key;
    LONG status = OpenKeyPath(HKEY_LOCAL_MACHINE, work, KEY_ALL_ACCESS, 0, key.put());
    if (status != ERROR_SUCCESS) {
        // Reached only through a link: another key than the system's list, left alone.
        if (status == kLinkOnThePath)
            PrintUnopenedKey(status, work);
        else
            WidePrint(L"Key not exist: %ls\n", work);
        WidePrint(L"\n");
        return CouldNotOpen(status, HKEY_LOCAL_MACHINE, work, work);
    }

    u32 keyCount = 0, valueCount = 0;
    u32 result = ListRegTree(key.get(), work, 0, &keyCount, &valueCount);

    DWORD type = REG_NONE, bytes = 0;
    status = win32.RegQueryValueExW(key.get(), kProviderValue, nullptr, &type, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) {
        // No list: nothing of the family's is in it.
        WidePrint(L"    Value not exist: %ls\n", kProviderValue);
        WidePrint(L"\n");
        return result;
    }
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegQueryValueEx failed");
    }
    // The edit: the system provider alone, or the value without the family's provider, then the write's slack.
    OwnedBlock valueBuffer, editBuffer;
    if (bytes <= MAXDWORD - kValueExtraBytes - sizeof(kSystemProviderList) - kListWriteSlackBytes) {
        valueBuffer = AllocateBlock(bytes + kValueExtraBytes);
        editBuffer = AllocateBlock(bytes + sizeof(kSystemProviderList) + kListWriteSlackBytes);
    }
    if (!valueBuffer || !editBuffer) return result | REPORT("Not enough memory");
    memset(valueBuffer.get(), 0, bytes + kValueExtraBytes);
    DWORD readBytes = bytes;
    status = win32.RegQueryValueExW(key.get(), kProviderValue, nullptr, &type, static_cast<BYTE*>(valueBuffer.get()),
                                    &readBytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegQueryValueEx failed");
    }

    // An odd last byte is no whole unit and is not part of the text.
    if (readBytes > bytes) readBytes = bytes;
    const BYTE* oldBytes = BlockAs<BYTE>(valueBuffer);
    const wchar_t* units = BlockAs<wchar_t>(valueBuffer);
    size_t count = readBytes / sizeof(wchar_t);
    const wchar_t* firstEnd = wmemchr(units, L'\0', count);
    size_t firstLength = firstEnd ? static_cast<size_t>(firstEnd - units) : count;
    WidePrint(L"    Value: ");
    PrintListUnits(units, firstLength);
    WidePrint(L"\n");

    ListRewrite rewrite = {type, oldBytes, readBytes, BlockAs<BYTE>(editBuffer), 0};
    wchar_t* edit = BlockAs<wchar_t>(editBuffer);
    size_t length = 0;
    bool systemFirst = firstLength == wcslen(kSystemProvider) && wmemcmp(units, kSystemProvider, firstLength) == 0;
    if (!systemFirst) {
        if (warn) result |= REPORT("Redundant data found: cryptnet.dll expected");
        // The list as a whole is the item: it is reset.
        CountFoundListEntry(key.get(), kProviderValue, kSystemProvider);
        length = sizeof(kSystemProviderList) / sizeof(wchar_t);
        wmemcpy(edit, kSystemProviderList, length);
        rewrite.newSize = sizeof(kSystemProviderList);
    } else {
        if (FindMultiStringEntry(units, count, kFamilyProvider) == kNoEntry) {
            WidePrint(L"\n");
            return result;
        }
        WidePrint(L"    found: %ls\n", kFamilyProvider);
        if (warn) result |= REPORT("Redundant data found: %S", kFamilyProvider);
        CountFoundListEntry(key.get(), kProviderValue, kFamilyProvider);
        length = CopyMultiStringWithout(units, count, kFamilyProvider, edit, count);
        rewrite.newSize = static_cast<DWORD>(length * sizeof(wchar_t));
        // The odd byte stays after the list, as it was.
        if (readBytes % sizeof(wchar_t)) rewrite.newBytes[rewrite.newSize++] = oldBytes[readBytes - 1];
    }
    WidePrint(L"    NewValue: ");
    PrintProviders(edit, length);
    WidePrint(L"\n");
    if (!wipe) {
        WidePrint(L"\n");
        return result;
    }
    status = WriteListValue(HKEY_LOCAL_MACHINE, kRevocationKey, key.get(), kProviderValue, rewrite);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegSetValueEx failed");
    }
    CountRemoved(kCountedListEntry);
    WidePrint(L"\n");
    return result;
}
