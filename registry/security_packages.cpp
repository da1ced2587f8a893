#include "registry/security_packages.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "platform/owned.h"
#include "registry/key_path.h"
#include "registry/key_wipe.h"
#include "registry/list_value.h"
#include "registry/multi_string.h"

namespace {

const wchar_t kLsaKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kPackagesValue[] = L"Security Packages";
const wchar_t* const kSystemPackages[] = {L"schannel", L"kerberos", L"msv1_0"};

struct PackageRepair {
    const wchar_t* title;
    const wchar_t* entry;
    bool restoresSystemPackages;
};

const PackageRepair kTlsRepair = {L"TlsRegUninstall", L"kvtls", false};
const PackageRepair kSslRepair = {L"SslRegUninstall", L"kvssl", true};

// Room past the value's size in the read buffer: an empty value still gets a block.
const DWORD kReadExtraBytes = 4;

// Prints the units between brackets, a NUL as a blank.
void PrintPackages(const wchar_t* label, const wchar_t* units, size_t count) {
    WidePrint(L"%ls[", label);
    PrintListUnits(units, count);
    WidePrint(L"]\n");
}

OwnedPages AllocatePages(DWORD bytes) {
    return OwnedPages(win32.VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
}

// Units the edit may add to the list: room for the system packages the SSL repair puts back.
size_t AddedUnits(const PackageRepair& repair) {
    size_t units = 0;
    if (repair.restoresSystemPackages)
        for (const wchar_t* package : kSystemPackages) units += MultiStringAppendUnits(package);
    return units;
}

// The list without any entry equal to the family's, plus the missing system
// packages for the SSL repair. kNoRoom when it does not fit.
size_t EditPackages(const PackageRepair& repair, const wchar_t* units, size_t count, wchar_t* edit, size_t capacity) {
    size_t length = CopyMultiStringWithout(units, count, repair.entry, edit, capacity);
    if (!repair.restoresSystemPackages) return length;
    for (const wchar_t* package : kSystemPackages) {
        if (length == kNoRoom) break;
        length = EnsureMultiStringEntry(edit, length, capacity, package);
    }
    return length;
}

u32 RepairPackageList(const PackageRepair& repair, int wipe, int warn) {
    WidePrint(L"%ls\n", repair.title);
    OwnedKey key;
    LONG status = OpenKeyPath(HKEY_LOCAL_MACHINE, kLsaKey, KEY_QUERY_VALUE | KEY_SET_VALUE, 0, key.put());
    if (status == kLinkOnThePath) {
        // Another key than the system's list, reached through a link: left alone.
        PrintUnopenedKey(status, kLsaKey);
        WidePrint(L"\n");
        return 0;
    }
    if (status != ERROR_SUCCESS) {
        CouldNotOpen(status, HKEY_LOCAL_MACHINE, kLsaKey, kLsaKey);
        return static_cast<u32>(status);
    }

    DWORD type = REG_NONE, bytes = 0;
    status = win32.RegQueryValueExW(key.get(), kPackagesValue, nullptr, &type, nullptr, &bytes);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        REPORT("RegQueryValueEx failed");
        return static_cast<u32>(status);
    }

    // The edit holds at most the value's bytes and the added units, then the write's slack.
    const DWORD editExtraBytes = static_cast<DWORD>(AddedUnits(repair) * sizeof(wchar_t)) + kListWriteSlackBytes;
    OwnedPages readPages, editPages;
    if (bytes <= MAXDWORD - editExtraBytes && bytes <= MAXDWORD - kReadExtraBytes) {
        readPages = AllocatePages(bytes + kReadExtraBytes);
        editPages = AllocatePages(bytes + editExtraBytes);
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
    const BYTE* oldBytes = static_cast<const BYTE*>(readPages.get());
    // An odd last byte is no whole unit and is not part of the list.
    const wchar_t* units = static_cast<const wchar_t*>(readPages.get());
    size_t count = readBytes / sizeof(wchar_t);

    PrintPackages(L"  Old Security Packages: ", units, count);
    u32 result = 0;
    bool found = FindMultiStringEntry(units, count, repair.entry) != kNoEntry;
    if (found) {
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
    size_t length = EditPackages(repair, units, count, edit, count + AddedUnits(repair));
    if (length == kNoRoom) {
        REPORT("Not enough memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    PrintPackages(L"  New Security Packages: ", edit, length);
    ListRewrite rewrite = {type, oldBytes, readBytes, static_cast<BYTE*>(editPages.get()),
                           static_cast<DWORD>(length * sizeof(wchar_t))};
    // The odd byte stays after the list, as it was.
    if (readBytes % sizeof(wchar_t)) rewrite.newBytes[rewrite.newSize++] = oldBytes[readBytes - 1];
    // The list is rewritten on every wipe pass, changed or not.
    status = WriteListValue(HKEY_LOCAL_MACHINE, kLsaKey, key.get(), kPackagesValue, rewrite);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        REPORT("RegSetValueEx failed");
        return static_cast<u32>(status);
    }
    if (found) CountRemoved(kCountedListEntry);
    g_rebootNeeded = 1;
    WidePrint(L"\n");
    return result;
}

}  // namespace

u32 TlsRegUninstall(int wipe, int warn) { return RepairPackageList(kTlsRepair, wipe, warn); }

u32 SslRegUninstall(int wipe, int warn) { return RepairPackageList(kSslRepair, wipe, warn); }
