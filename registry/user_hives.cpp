#include "registry/user_hives.h"

#include <initializer_list>

#include "platform/key_name.h"
#include "platform/owned.h"
#include "platform/registry_names.h"
#include "run/error_report.h"
#include "run/process_state.h"
#include "undo/hive_name.h"

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kLoadPrefix[] = L"kvclean-";
const wchar_t kDefaultName[] = L"Default";
const wchar_t kDefaultShown[] = L"the default profile";

const wchar_t kUserHiveFile[] = L"\\NTUSER.DAT";
const wchar_t kLocalAppData[] = L"\\AppData\\Local";
const wchar_t kClassesFile[] = L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
const wchar_t kXpClassesFile[] = L"\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

// Something else may hold a handle into a hive for a moment after its load (a
// scanner that saw it): an unload that fails is tried again, a moment later.
const int kUnloadTries = 5;
const DWORD kUnloadPauseMilliseconds = 1000;

struct HiveRun {
    HiveWork work;
    void* context;
};

// One profile: its SID (empty for the default profile) and its folder.
struct Profile {
    wchar_t sid[kKeyNameUnits];
    wchar_t folder[MAX_PATH];
};

// The list of profiles is the 64-bit system's own: on 64-bit Windows it is read in the 64-bit view.
REGSAM NativeView() { return RunsUnderWow64() ? KEY_WOW64_64KEY : 0; }

// Joins the parts into `out` (`units` long); false when they do not fit.
bool Join(wchar_t* out, size_t units, std::initializer_list<const wchar_t*> parts) {
    size_t used = 0;
    for (const wchar_t* part : parts) {
        size_t length = wcslen(part);
        if (used + length >= units) return false;
        memcpy(out + used, part, length * sizeof(wchar_t));
        used += length;
    }
    out[used] = L'\0';
    return true;
}

// The string value `name` of the key, environment variables expanded, into `out`
// (MAX_PATH units); false when it is missing, no string, or too long.
bool ReadFolderValue(HKEY key, const wchar_t* name, wchar_t* out) {
    wchar_t raw[MAX_PATH + 1];
    DWORD type = REG_NONE, bytes = sizeof raw - sizeof(wchar_t);
    if (win32.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    raw[bytes / sizeof(wchar_t)] = L'\0';
    DWORD units = win32.ExpandEnvironmentStringsW(raw, out, MAX_PATH);
    return units != 0 && units <= MAX_PATH && out[0];
}

// The backup and restore privileges, which loading and unloading a hive need.
// An account without them goes on: the load fails and says so.
void EnableHivePrivileges() {
    HANDLE handle = nullptr;
    if (!win32.OpenProcessToken(win32.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &handle)) return;
    OwnedToken token(handle);
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    } wanted = {2, {{{0, 0}, SE_PRIVILEGE_ENABLED}, {{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!win32.LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &wanted.privileges[0].Luid) ||
        !win32.LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid))
        return;
    win32.AdjustTokenPrivileges(token.get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&wanted), 0, nullptr,
                                nullptr);
}

u32 ReportStatus(LONG status, const char* message, const wchar_t* name) {
    win32.SetLastError(static_cast<DWORD>(status));
    return REPORT(message, name);
}

// The rows of the hive below its open root, under its header line.
u32 RunInRoot(const HiveRun& run, UserHiveKind kind, HKEY root, const wchar_t* shown, const wchar_t* how,
              const wchar_t* name, const wchar_t* file) {
    WidePrint(L"Hive of %ls (%lsHKEY_USERS\\%ls): %ls\n", shown, how, name, file);
    return run.work(root, kind, run.context);
}

// A run stopped before it unloaded leaves the hive loaded under the program's
// own name, where the next load would fail: it is unloaded first.
void UnloadLeftover(const wchar_t* loadName) {
    {
        OwnedKey leftover;
        if (win32.RegOpenKeyExW(HKEY_USERS, loadName, 0, KEY_READ | g_registryView, leftover.put()) != ERROR_SUCCESS)
            return;
    }
    if (win32.RegUnLoadKeyW(HKEY_USERS, loadName) == ERROR_SUCCESS)
        WidePrint(L"Hive left loaded by an earlier run, unloaded: HKEY_USERS\\%ls\n", loadName);
}

// Loads the file under `loadName`, runs the rows in it and unloads it, every
// handle into it closed first. *missing: the file is not there.
u32 RunLoadedByUs(const HiveRun& run, UserHiveKind kind, const wchar_t* shown, const wchar_t* loadName,
                  const wchar_t* file, bool* missing) {
    static bool privilegesEnabled = false;
    if (!privilegesEnabled) EnableHivePrivileges();
    privilegesEnabled = true;
    UnloadLeftover(loadName);
    LONG status = win32.RegLoadKeyW(HKEY_USERS, loadName, file);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        WidePrint(L"Hive file not found (skipping): %ls: %ls\n", shown, file);
        *missing = true;
        return 0;
    }
    if (status != ERROR_SUCCESS) return ReportStatus(status, "Can not load the hive %S", file);

    NoteLoadedHive(loadName, file);
    u32 result = 0;
    {
        OwnedKey root;
        status = win32.RegOpenKeyExW(HKEY_USERS, loadName, 0, KEY_READ | g_registryView, root.put());
        if (status == ERROR_SUCCESS)
            result = RunInRoot(run, kind, root.get(), shown, L"loaded as ", loadName, file);
        else
            result = ReportStatus(status, "Can not open the hive loaded as HKEY_USERS\\%S", loadName);
    }
    ForgetLoadedHive(loadName);
    for (int tries = 1;; ++tries) {
        status = win32.RegUnLoadKeyW(HKEY_USERS, loadName);
        if (status == ERROR_SUCCESS || tries == kUnloadTries) break;
        win32.Sleep(kUnloadPauseMilliseconds);
    }
    if (status != ERROR_SUCCESS)
        result |= ReportStatus(status, "Can not unload the hive loaded as HKEY_USERS\\%S", loadName);
    return result;
}

// One hive of a profile: used where it is loaded, else loaded from its file.
u32 RunHive(const HiveRun& run, const Profile& profile, UserHiveKind kind, bool* missing) {
    *missing = false;
    bool classes = kind == kClassesHive;
    const wchar_t* suffix = classes ? kClassesHiveSuffix : L"";
    const wchar_t* shown = profile.sid[0] ? profile.sid : kDefaultShown;
    wchar_t file[kHiveFileUnits], loaded[kHiveNameUnits], loadName[kHiveNameUnits], localAppData[kHiveFileUnits];
    const wchar_t* place = kUserHiveFile;
    if (classes) {
        bool vistaLayout = Join(localAppData, kHiveFileUnits, {profile.folder, kLocalAppData}) &&
                           win32.GetFileAttributesW(localAppData) != INVALID_FILE_ATTRIBUTES;
        place = vistaLayout ? kClassesFile : kXpClassesFile;
    }
    if (!Join(file, kHiveFileUnits, {profile.folder, place}) ||
        !Join(loaded, kHiveNameUnits, {profile.sid, suffix}) ||
        !Join(loadName, kHiveNameUnits, {kLoadPrefix, profile.sid[0] ? profile.sid : kDefaultName, suffix}))
        return ReportStatus(ERROR_FILENAME_EXCED_RANGE, "The hive's name is too long: %S", profile.folder);

    if (profile.sid[0]) {
        OwnedKey root;
        LONG status = win32.RegOpenKeyExW(HKEY_USERS, loaded, 0, KEY_READ | g_registryView, root.put());
        if (status == ERROR_SUCCESS) return RunInRoot(run, kind, root.get(), shown, L"", loaded, file);
        if (status != ERROR_FILE_NOT_FOUND)
            return ReportStatus(status, "Can not open the hive HKEY_USERS\\%S", loaded);
    }
    return RunLoadedByUs(run, kind, shown, loadName, file, missing);
}

// Both hives of a profile; a profile without its own hive is skipped whole.
u32 RunProfile(const HiveRun& run, const Profile& profile) {
    bool missing = false;
    u32 result = RunHive(run, profile, kUserHive, &missing);
    if (missing) return result;
    return result | RunHive(run, profile, kClassesHive, &missing);
}

// The running account's SID, from the kernel name of its hive; empty when the system cannot say.
void ReadOwnSid(wchar_t* sid) {
    sid[0] = L'\0';
    KernelName own;
    size_t users = wcslen(kUsersKernelName), prefix = users + 1;
    if (ReadCurrentUserKernelName(&own) != ERROR_SUCCESS || own.length <= prefix || own.length - prefix >= kKeyNameUnits ||
        !SameKernelText(own.units, users, kUsersKernelName, users) || own.units[users] != L'\\')
        return;
    memcpy(sid, own.units + prefix, (own.length - prefix) * sizeof(wchar_t));
    sid[own.length - prefix] = L'\0';
}

// The default profile's folder: ProfileList's "Default", else the profiles
// folder and its "DefaultUserProfile" or "Default".
bool ReadDefaultFolder(HKEY list, wchar_t* folder) {
    if (ReadFolderValue(list, L"Default", folder)) return true;
    wchar_t profiles[MAX_PATH], name[MAX_PATH];
    if (!ReadFolderValue(list, L"ProfilesDirectory", profiles)) return false;
    if (!ReadFolderValue(list, L"DefaultUserProfile", name)) Join(name, MAX_PATH, {kDefaultName});
    return Join(folder, MAX_PATH, {profiles, L"\\", name});
}

}  // namespace

u32 ForEachOtherUserHive(HiveWork work, void* context) {
    const HiveRun run = {work, context};
    wchar_t ownSid[kKeyNameUnits];
    ReadOwnSid(ownSid);
    OwnedKey list;
    LONG status = win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | NativeView(), list.put());
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return ReportStatus(status, "Can not read the list of profiles: %S", kProfileList);

    u32 result = 0;
    Profile profile;
    for (DWORD i = 0;; ++i) {
        DWORD units = kKeyNameUnits;
        status = win32.RegEnumKeyExW(list.get(), i, profile.sid, &units, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (SameKernelText(profile.sid, units, ownSid, wcslen(ownSid))) continue;
        OwnedKey entry;
        if (win32.RegOpenKeyExW(list.get(), profile.sid, 0, KEY_QUERY_VALUE | NativeView(), entry.put()) !=
                ERROR_SUCCESS ||
            !ReadFolderValue(entry.get(), L"ProfileImagePath", profile.folder)) {
            WidePrint(L"Profile folder unknown (skipping): %ls\n", profile.sid);
            continue;
        }
        result |= RunProfile(run, profile);
    }
    if (status != ERROR_NO_MORE_ITEMS)
        result |= ReportStatus(status, "Can not read the list of profiles: %S", kProfileList);

    profile.sid[0] = L'\0';
    if (ReadDefaultFolder(list.get(), profile.folder))
        result |= RunProfile(run, profile);
    else
        WidePrint(L"Profile folder unknown (skipping): %ls\n", kDefaultShown);
    return result;
}
