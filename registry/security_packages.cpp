#include "registry/security_packages.h"

#include "front/error_report.h"
#include "front/process_state.h"
#include "front/run_summary.h"
#include "platform/owned.h"
#include "registry/key_wipe.h"
#include "registry/multi_string.h"

namespace {

const wchar_t kLsaKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kPackagesValue[] = L"Security Packages";
const wchar_t* const kSystemPackages[] = {L"schannel", L"kerberos", L"msv1_0"};

struct PackageRepair {
    const wchar_t* title;
    const wchar_t* entry;
    // Room beyond the value's size in the edit buffer: the SSL repair may append the system packages.
    DWORD editExtraBytes;
    bool restoresSystemPackages;
};

const PackageRepair kTlsRepair = {L"TlsRegUninstall", L"kvtls", 20, false};
const PackageRepair kSslRepair = {L"SslRegUninstall", L"kvssl", 100, true};

// Zeros after the value's bytes, so that the read buffer always ends in whole NUL units.
const DWORD kReadExtraBytes = 4;

// Prints the units between brackets, a NUL as a blank.
void PrintPackages(const wchar_t* label, const wchar_t* units, size_t count) {
    WidePrint(L"%ls[", label);
    wchar_t chunk[129];
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        chunk[used++] = units[i] ? units[i] : L' ';
        if (used == 128 || i + 1 == count) {
            chunk[used] = L'\0';
            WidePrint(L"%ls", chunk);
            used = 0;
        }
    }
    WidePrint(L"]\n");
}

OwnedPages AllocatePages(DWORD bytes) {
    return OwnedPages(win32.VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
}

// The edited list: the list's entries without the first one equal to the
// family's, each terminated and the list closed, plus the system packages
// for the SSL repair. 0 when it does not fit.
size_t EditPackages(const PackageRepair& repair, const wchar_t* units, size_t count, size_t found, wchar_t* edit,
                    size_t capacity) {
    size_t length = CopyMultiStringWithout(units, count, found, edit, capacity);
    if (!repair.restoresSystemPackages) return length;
    for (const wchar_t* package : kSystemPackages) {
        if (length == 0) break;
        length = EnsureMultiStringEntry(edit, length, capacity, package);
    }
    return length;
}

u32 RepairPackageList(const PackageRepair& repair, int wipe, int warn) {
    WidePrint(L"%ls\n", repair.title);
    OwnedKey key;
    LONG status =
        win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLsaKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | g_registryView, key.put());
    if (status != ERROR_SUCCESS) return static_cast<u32>(status);

    DWORD type = REG_NONE, bytes = 0;
    status = win32.RegQueryValueExW(key.get(), kPackagesValue, nullptr, &type, nullptr, &bytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        REPORT("RegQueryValueEx failed");
        return static_cast<u32>(status);
    }

    OwnedPages readPages, editPages;
    if (bytes <= MAXDWORD - repair.editExtraBytes) {
        readPages = AllocatePages(bytes + kReadExtraBytes);
        editPages = AllocatePages(bytes + repair.editExtraBytes);
    }
    if (!readPages || !editPages) {
        REPORT("Not enough memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    memset(readPages.get(), 0, bytes + kReadExtraBytes);
    DWORD readBytes = bytes;
    status = win32.RegQueryValueExW(key.get(), kPackagesValue, nullptr, &type, static_cast<BYTE*>(readPages.get()),
                                    &readBytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        REPORT("RegQueryValueEx failed");
        return static_cast<u32>(status);
    }
    if (readBytes > bytes) readBytes = bytes;
    // An odd last byte is no whole unit and is not part of the list.
    const wchar_t* units = static_cast<const wchar_t*>(readPages.get());
    size_t count = readBytes / sizeof(wchar_t);

    PrintPackages(L"  Old Security Packages: ", units, count);
    u32 result = 0;
    size_t found = FindMultiStringEntry(units, count, repair.entry);
    if (found != kNoEntry) {
        WidePrint(L"    found: %ls\n", repair.entry);
        CountFoundListEntry(key.get(), kPackagesValue, repair.entry);
        if (warn) result |= REPORT("Redundant data found");
    } else {
        WidePrint(L"    not found: %ls\n", repair.entry);
    }
    if (!wipe) {
        WidePrint(L"\n");
        return result;
    }

    wchar_t* edit = static_cast<wchar_t*>(editPages.get());
    size_t capacity = (bytes + repair.editExtraBytes) / sizeof(wchar_t);
    size_t length = EditPackages(repair, units, count, found, edit, capacity);
    if (length == 0) {
        REPORT("Not enough memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    PrintPackages(L"  New Security Packages: ", edit, length);
    // The list is rewritten on every wipe pass, changed or not, in its well-formed shape.
    status = win32.RegSetValueExW(key.get(), kPackagesValue, 0, type, reinterpret_cast<const BYTE*>(edit),
                                  static_cast<DWORD>(length * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        REPORT("RegSetValueEx failed");
        return static_cast<u32>(status);
    }
    if (found != kNoEntry) CountRemoved(kCountedListEntry);
    g_rebootNeeded = 1;
    WidePrint(L"\n");
    return result;
}

}  // namespace

u32 TlsRegUninstall(int wipe, int warn) { return RepairPackageList(kTlsRepair, wipe, warn); }

u32 SslRegUninstall(int wipe, int warn) { return RepairPackageList(kSslRepair, wipe, warn); }
