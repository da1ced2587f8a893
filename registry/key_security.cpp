#include "registry/key_security.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "platform/owned.h"
#include "registry/key_path.h"
#include "registry/key_wipe.h"

namespace {

const wchar_t kTemplateKey[] = L"SOFTWARE\\Classes\\CLSID";

// Opens parent\subkey asking only for `access`, writes one part of the template's
// security through that handle and closes it. The handle is first checked by
// its kernel name to be parent\subkey: security is never written to a key
// reached through a link, nor to one whose name the system would not tell.
// Reports its own failures.
u32 WriteSecurityPart(HKEY parent, const wchar_t* subkey, DWORD openOptions, REGSAM access,
                      SECURITY_INFORMATION part, PSECURITY_DESCRIPTOR descriptor) {
    HKEY opened = nullptr;
    LONG status = OpenKeyPath(parent, subkey, access, openOptions, &opened);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return REPORT("RegOpenKey()");
    }
    OwnedKey key(opened);
    u32 result = 0;
    status = win32.RegSetKeySecurity(key.get(), part, descriptor);
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        result |= part == OWNER_SECURITY_INFORMATION ? REPORT("SetSecurityInfo()") : REPORT("RegSetKeySecurity()");
    }
    status = win32.RegCloseKey(key.release());
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        result |= REPORT("RegCloseKey()");
    }
    return result;
}

// GetRights returns its errors rather than leaving them behind: its result
// is the error the report shows.
u32 ReportGetRightsFailure(u32 rights) {
    KeepStatusAsLastError(static_cast<LONG>(rights));
    return REPORT("GetRights() fail");
}

}  // namespace

u32 GetRights(void* owner, void* dacl, DWORD* ownerSize, DWORD* daclSize) {
    OwnedKey templateKey;
    LONG status =
        win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTemplateKey, 0, KEY_ALL_ACCESS | g_registryView, templateKey.put());
    if (status != ERROR_SUCCESS) {
        KeepStatusAsLastError(status);
        return REPORT("RegOpenKey() in right ");
    }
    u32 result = static_cast<u32>(win32.RegGetKeySecurity(templateKey.get(), OWNER_SECURITY_INFORMATION, owner, ownerSize));
    result |= static_cast<u32>(win32.RegGetKeySecurity(templateKey.get(), DACL_SECURITY_INFORMATION, dacl, daclSize));
    return result;
}

u32 ChangeRight(HKEY parent, const wchar_t* subkey) { return ChangeRightWithOptions(parent, subkey, 0); }

u32 ChangeRightWithOptions(HKEY parent, const wchar_t* subkey, DWORD openOptions) {
    DWORD ownerSize = 0, daclSize = 0;
    u32 rights = GetRights(nullptr, nullptr, &ownerSize, &daclSize);
    if (rights != ERROR_INSUFFICIENT_BUFFER) return ReportGetRightsFailure(rights);

    OwnedBlock owner = AllocateBlock(ownerSize);
    OwnedBlock dacl = AllocateBlock(daclSize);
    if (!owner || !dacl) return REPORT("Out of memory.");
    rights = GetRights(owner.get(), dacl.get(), &ownerSize, &daclSize);
    if (rights != 0) return ReportGetRightsFailure(rights);

    // The owner first: once it is ours, the access list can be written even
    // when the old one refused us.
    u32 result = WriteSecurityPart(parent, subkey, openOptions, WRITE_OWNER, OWNER_SECURITY_INFORMATION, owner.get());
    result |= WriteSecurityPart(parent, subkey, openOptions, WRITE_DAC, DACL_SECURITY_INFORMATION, dacl.get());
    return result;
}
