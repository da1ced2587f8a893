#include "plan/file_plan.h"

#include "files/directory_wipe.h"
#include "files/file_delete.h"
#include "files/oem_inf.h"
#include "files/pending_renames.h"
#include "run/error_report.h"
#include "run/process_state.h"
#include "platform/owned.h"

namespace {

// A path holds at most 260 characters; its buffer has room for the terminator too.
const size_t kPathLimit = MAX_PATH;
const size_t kPathUnits = kPathLimit + 1;

const wchar_t kFamilyFolder[] = L"Kor Vane";
const wchar_t kFamilyMenuFolder[] = L"Кор-Ване";

// The family's modules and drivers, relative to the system directory.
const wchar_t* const kSystemFiles[] = {
    L"kvcng.dll",
    L"kvdrvlib.sys",
    L"kvssl.dll",
    L"kvtls.dll",
    L"kvSSPAP.dll",
    L"kvocsp.dll",
    L"kvssp.dll",
    L"advapi32.$$$",
    L"KVanDspr.dll",
    L"KVanDs64.dll",
    L"drivers\\kvdrvlib.sys",
    L"drivers\\kvksp.sys",
    L"drivers\\KVanCtrl.sys",
    L"drivers\\KVanCt2k.sys",
    L"drivers\\kvefs.sys",
    L"drivers\\kvdrv30.sys",
    L"drivers\\kvdrv36.sys",
};

// The error behind a failed shell lookup, for its report.
DWORD ErrorOf(HRESULT result) {
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result);
}

bool IsFullPath(const wchar_t* path) {
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// Writes folder, one backslash and name into `path`. A path that does not fit
// whole is reported and left unbuilt: cut short, it would name another folder
// ("...\Kor" for "...\Kor Vane"), whose wipe would destroy unrelated data.
u32 JoinPath(wchar_t* path, const wchar_t* folder, const wchar_t* name) {
    wcsncpy(path, folder, kPathUnits - 1);
    path[kPathUnits - 1] = L'\0';
    size_t length = 0;
    if (win32.PathAddBackslashW(path)) length = wcslen(path);
    if (length == 0 || length + wcslen(name) > kPathLimit) {
        path[0] = L'\0';
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return REPORT("Path too long, skipped: %S\\%S", folder, name);
    }
    wcscpy(path + length, name);
    return 0;
}

// A program folder: the environment string that names it, the value of the
// CurrentVersion key that names it too (Windows before 7 lacks %ProgramW6432%
// and %CommonProgramW6432%), and the report of a failed lookup.
struct ProgramFolder {
    const wchar_t* variable;
    const wchar_t* value;
    const char* failure;
};

const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const ProgramFolder kProgramFiles = {L"%ProgramFiles%", L"ProgramFilesDir",
                                     "SHGetFolderPath(CSIDL_PROGRAM_FILES) failed."};
const ProgramFolder kCommonFiles = {L"%CommonProgramFiles%", L"CommonFilesDir",
                                    "SHGetFolderPath(CSIDL_PROGRAM_FILES_COMMON) failed."};
const ProgramFolder kProgramFiles64 = {L"%ProgramW6432%", L"ProgramFilesDir",
                                       "SHGetFolderPath(CSIDL_PROGRAM_FILES) failed."};
const ProgramFolder kCommonFiles64 = {L"%CommonProgramW6432%", L"CommonFilesDir",
                                      "SHGetFolderPath(CSIDL_PROGRAM_FILES_COMMON) failed."};

// Reads the folder's value of the CurrentVersion key in the pass's registry
// view into `folder` (kPathUnits). 0 with *found false when the key or the
// value is absent.
u32 ReadFolderValue(const ProgramFolder& source, wchar_t* folder, bool* found) {
    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE | g_registryView,
                                      key.put());
    if (status == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        DWORD bytes = kPathLimit * sizeof(wchar_t);
        status = win32.RegQueryValueExW(key.get(), source.value, nullptr, &type, reinterpret_cast<BYTE*>(folder),
                                        &bytes);
        if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) status = ERROR_DATATYPE_MISMATCH;
        if (status == ERROR_SUCCESS) folder[bytes / sizeof(wchar_t)] = L'\0';
    }
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) {
        win32.SetLastError(static_cast<DWORD>(status));
        return REPORT("%s", source.failure);
    }
    *found = true;
    return 0;
}

// Finds a program folder: 0 with *found set when `folder` holds its full path
// of at most 260 characters; 0 with one line printed when the machine names no
// such folder (nothing to clean there); otherwise the report of the failure. A name that did not fit
// or is not a full path would be a cut path or one relative to the current
// directory, so it is not used.
u32 FindFolder(const ProgramFolder& source, wchar_t* folder, bool* found) {
    *found = false;
    DWORD units = win32.ExpandEnvironmentStringsW(source.variable, folder, kPathLimit);
    if (units == 0) return REPORT("%s", source.failure);
    if (units > kPathLimit) {
        win32.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return REPORT("%s", source.failure);
    }
    // The expansion leaves a variable that is not set as it is.
    if (wcscmp(folder, source.variable) == 0) {
        u32 result = ReadFolderValue(source, folder, found);
        if (result) return result;
        if (!*found) {
            WidePrint(L"Folder not defined: %ls nor %ls\n", source.variable, source.value);
            return 0;
        }
    }
    if (!IsFullPath(folder)) {
        win32.SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return REPORT("%s", source.failure);
    }
    *found = true;
    return 0;
}

// The family's folder under a program folder. The wipe moves it aside there
// first.
u32 CleanFamilyFolderIn(const ProgramFolder& source, wchar_t* folder, wchar_t* path, int wipe, int warn) {
    bool found = false;
    u32 result = FindFolder(source, folder, &found);
    if (result || !found) return result;
    result = NoteWaitingDeletions(folder, nullptr, WaitingAt::MovedAside);
    result |= NoteWaitingDeletions(folder, kFamilyFolder, WaitingAt::Place);
    u32 joined = JoinPath(path, folder, kFamilyFolder);
    if (joined) return result | joined;
    return result | CleanDirectory(path, wipe, warn);
}

// The 64-bit pass reaches the 64-bit system directory as System32 with
// file-system redirection off. The native pass names the 32-bit one by its own
// path (SysWOW64 under WOW64, System32 on 32-bit Windows) rather than through
// redirection: a deletion deferred to the reboot is carried out by the 64-bit
// system, for which System32 is the 64-bit directory, so a module moved aside
// in SysWOW64 but registered under System32 would never be deleted.
u32 CleanSystemFiles(wchar_t* folder, wchar_t* path, int wipe, int warn) {
    int systemFolder = g_registryView ? CSIDL_SYSTEM : CSIDL_SYSTEMX86;
    HRESULT found = win32.SHGetFolderPathW(nullptr, systemFolder, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(found)) {
        win32.SetLastError(ErrorOf(found));
        return REPORT("SHGetFolderPath(CSIDL_SYSTEM) failed.");
    }
    // A module or driver in use is moved aside beside itself.
    u32 result = NoteWaitingDeletions(folder, nullptr, WaitingAt::MovedAside);
    result |= NoteWaitingDeletions(folder, L"drivers", WaitingAt::MovedAside);
    for (const wchar_t* name : kSystemFiles) {
        result |= NoteWaitingDeletions(folder, name, WaitingAt::Place);
        u32 joined = JoinPath(path, folder, name);
        result |= joined ? joined : CleanFile(path, wipe, warn);
    }
    return result;
}

u32 CleanMenuFolder(wchar_t* path, const wchar_t* programs, const wchar_t* name, int wipe, int warn) {
    u32 result = NoteWaitingDeletions(programs, name, WaitingAt::Place);
    u32 joined = JoinPath(path, programs, name);
    if (joined) return result | joined;
    WidePrint(L"Removing %ls\n", path);
    return result | CleanDirectory(path, wipe, warn);
}

u32 CleanStartMenu(wchar_t* menu, wchar_t* programs, wchar_t* path, int wipe, int warn) {
    HRESULT found = win32.SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTMENU, nullptr, SHGFP_TYPE_CURRENT, menu);
    if (FAILED(found)) {
        win32.SetLastError(ErrorOf(found));
        return REPORT("SHGetFolderPath(CSIDL_COMMON_STARTMENU) failed.");
    }
    WidePrint(L"Path to Start Menu %ls\n", menu);
    u32 result = JoinPath(programs, menu, L"Programs");
    if (result) return result;
    result |= NoteWaitingDeletions(programs, nullptr, WaitingAt::MovedAside);
    result |= CleanMenuFolder(path, programs, kFamilyFolder, wipe, warn);
    result |= CleanMenuFolder(path, programs, kFamilyMenuFolder, wipe, warn);
    return result;
}

}  // namespace

// No step stops the plan: a folder that cannot be found, or a path that cannot
// be built, skips only what would have been built from it.
u32 RunFilePlan(int wipe, int warn) {
    // The 64-bit pass cleans the 64-bit program folders.
    const ProgramFolder& programFiles = g_registryView ? kProgramFiles64 : kProgramFiles;
    const ProgramFolder& commonFiles = g_registryView ? kCommonFiles64 : kCommonFiles;

    OwnedBlock working = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!working) return REPORT("Not enough memory.");
    OwnedBlock file = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!file) return REPORT("Not enough memory.");
    OwnedBlock menu = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!menu) return REPORT("Not enough memory.");
    wchar_t* workingPath = BlockAs<wchar_t>(working);
    wchar_t* filePath = BlockAs<wchar_t>(file);
    wchar_t* menuPath = BlockAs<wchar_t>(menu);

    u32 result = CleanFamilyFolderIn(programFiles, workingPath, filePath, wipe, warn);
    result |= CleanFamilyFolderIn(commonFiles, workingPath, filePath, wipe, warn);
    result |= CleanSystemFiles(workingPath, filePath, wipe, warn);
    result |= CleanStartMenu(menuPath, filePath, workingPath, wipe, warn);
    result |= CleanOemInfFiles(wipe);
    return result;
}
