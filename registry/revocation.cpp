#include "registry/revocation.h"

#include "front/error_report.h"
#include "front/process_state.h"
#include "front/run_summary.h"
#include "platform/owned.h"
#include "registry/key_wipe.h"

namespace {

const wchar_t kRevocationKey[] =
    L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";
const wchar_t kProviderValue[] = L"Dll";
const wchar_t kSystemProvider[] = L"cryptnet.dll";
// The system provider alone, as a one-entry list: its NUL and the closing NUL.
const wchar_t kSystemProviderList[] = L"cryptnet.dll\0";
const DWORD kWorkUnits = 305;
// Zeros after the value's bytes, so that its text always ends in whole NUL units.
const DWORD kValueExtraBytes = 4;

}  // namespace

u32 CertDllVerifyRevocationRegUninstall(int wipe, int warn) {
    OwnedBlock workBuffer = AllocateBlock(kWorkUnits * sizeof(wchar_t));
    if (!workBuffer) return REPORT("Not enough memory.");
    wchar_t* work = BlockAs<wchar_t>(workBuffer);
    memset(work, 0, kWorkUnits * sizeof(wchar_t));

    WidePrint(L"CertDllVerifyRevocationRegUninstall\n");
    wcsncpy(work, kRevocationKey, kWorkUnits - 1);
    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, work, 0, KEY_ALL_ACCESS | g_registryView, key.put());
    if (status != ERROR_SUCCESS) {
        WidePrint(L"Key not exist: %ls\n", work);
        WidePrint(L"\n");
        return 0;
    }

    u32 keyCount = 0, valueCount = 0;
    u32 result = ListRegTree(key.get(), work, 0, &keyCount, &valueCount);

    DWORD type = REG_NONE, bytes = 0;
    status = win32.RegQueryValueExW(key.get(), kProviderValue, nullptr, &type, nullptr, &bytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegQueryValueEx failed");
    }
    OwnedBlock valueBuffer = bytes <= MAXDWORD - kValueExtraBytes ? AllocateBlock(bytes + kValueExtraBytes) : OwnedBlock();
    if (!valueBuffer) return result | REPORT("Not enough memory");
    memset(valueBuffer.get(), 0, bytes + kValueExtraBytes);
    DWORD readBytes = bytes;
    status = win32.RegQueryValueExW(key.get(), kProviderValue, nullptr, &type, static_cast<BYTE*>(valueBuffer.get()),
                                    &readBytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegQueryValueEx failed");
    }

    // The first entry: the text up to its NUL, which the zeros after the data
    // guarantee. An odd last byte is no whole unit and is not part of the text.
    if (readBytes > bytes) readBytes = bytes;
    if (readBytes % sizeof(wchar_t)) BlockAs<char>(valueBuffer)[readBytes - 1] = '\0';
    const wchar_t* value = BlockAs<wchar_t>(valueBuffer);
    WidePrint(L"    Value: %ls\n", value);
    wcsncpy(work, kSystemProvider, kWorkUnits - 2);
    if (wcscmp(value, work) == 0) {
        WidePrint(L"\n");
        return result;
    }

    if (warn) result |= REPORT("Redundant data found: cryptnet.dll expected");
    CountFoundListEntry(key.get(), kProviderValue, value);
    WidePrint(L"    NewValue: %ls\n", work);
    if (!wipe) {
        WidePrint(L"\n");
        return result;
    }
    status = win32.RegSetValueExW(key.get(), kProviderValue, 0, type, reinterpret_cast<const BYTE*>(kSystemProviderList),
                                  sizeof(kSystemProviderList));
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return result | REPORT("RegSetValueEx failed");
    }
    CountRemoved(kCountedListEntry);
    WidePrint(L"\n");
    return result;
}
