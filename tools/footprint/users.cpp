// Another user of the machine, with the family's keys in both of the user's
// hives: a profile folder with NTUSER.DAT and UsrClass.dat, made by saving
// keys planted under a scratch key of HKEY_CURRENT_USER, and its ProfileList entry.
#include <cstdio>
#include <set>

#include <shlwapi.h>

#include "tools/footprint/footprint.h"

namespace {

const wchar_t kScratch[] = L"kvfootprint-hive";
const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

struct UserHive {
    HKEY planRoot;           // the rows planted: those of this root
    const wchar_t* file;     // in the profile folder
    const wchar_t* suffix;   // of its name below HKEY_USERS when loaded
};
const UserHive kUserHives[] = {
    {HKEY_CURRENT_USER, L"\\NTUSER.DAT", L""},
    {HKEY_CLASSES_ROOT, L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", L"_Classes"},
};

// The hive's rows planted below the scratch key, saved into `file`. Returns
// the number of the family's keys, or -1.
int SaveHive(const Footprint& footprint, const UserHive& hive, const std::wstring& file) {
    HKEY scratch = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch, nullptr) != ERROR_SUCCESS)
        return -1;
    std::set<std::wstring> familyKeys;
    bool planted = true;
    for (const RegRow& source : footprint.registry) {
        if (source.root != hive.planRoot) continue;
        RegRow row = source;
        row.root = scratch;
        row.sddl = nullptr;  // a scratch key that refuses deletion would stay
        planted = PlantRow(row, 0) && planted;
        if (row.role == Role::kFamily && row.isKey) familyKeys.insert(row.path);
    }
    ::DeleteFileW(file.c_str());
    bool saved = planted && ::RegSaveKeyW(scratch, file.c_str(), nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(scratch);
    LONG deleted = ::SHDeleteKeyW(HKEY_CURRENT_USER, kScratch);
    if (deleted != ERROR_SUCCESS) fwprintf(stderr, L"kvfootprint: HKEY_CURRENT_USER\\%ls stays (error %ld)\n", kScratch, deleted);
    return saved ? static_cast<int>(familyKeys.size()) : -1;
}

}  // namespace

int PlantUser(const Footprint& footprint, const std::wstring& sid, const std::wstring& folder, bool loggedOn) {
    if (!EnablePrivilege(SE_BACKUP_NAME) || !EnablePrivilege(SE_RESTORE_NAME)) {
        fprintf(stderr, "kvfootprint: the backup and restore privileges cannot be enabled\n");
        return 1;
    }
    HKEY entry = nullptr;
    REGSAM view = IsWow64Machine() ? KEY_WOW64_64KEY : 0;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kProfileList + sid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                          nullptr, &entry, nullptr) != ERROR_SUCCESS)
        return 1;
    LONG status = ::RegSetValueExW(entry, L"ProfileImagePath", 0, REG_EXPAND_SZ,
                                   reinterpret_cast<const BYTE*>(folder.c_str()),
                                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(entry);
    if (status != ERROR_SUCCESS) return 1;

    int failures = 0;
    for (const UserHive& hive : kUserHives) {
        std::wstring file = folder + hive.file;
        CreateDirectories(file.substr(0, file.rfind(L'\\')));
        int keys = SaveHive(footprint, hive, file);
        if (keys >= 0 && loggedOn && ::RegLoadKeyW(HKEY_USERS, (sid + hive.suffix).c_str(), file.c_str()) != ERROR_SUCCESS)
            keys = -1;
        if (keys < 0) ++failures;
        wprintf(L"%ls: %d registry keys of the family%ls\n", file.c_str(), keys,
                loggedOn ? (L", loaded as HKEY_USERS\\" + sid + hive.suffix).c_str() : L"");
    }
    return failures ? 1 : 0;
}
