#include "plan/file_plan.h"

#include "files/directory_wipe.h"
#include "files/file_delete.h"
#include "files/oem_inf.h"
#include "front/error_report.h"
#include "front/process_state.h"
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

// Expands an environment string that names a folder. 0 = expanded into a full
// path of at most 260 characters; otherwise the report of `failure`. What did
// not expand ("%ProgramW6432%" where Windows lacks it) or did not fit would be
// a path relative to the current directory or a cut one, so it is not used.
u32 ExpandFolder(const wchar_t* variable, wchar_t* folder, const char* failure) {
    DWORD units = win32.ExpandEnvironmentStringsW(variable, folder, kPathLimit);
    if (units == 0) return REPORT("%s", failure);
    if (units > kPathLimit) {
        win32.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return REPORT("%s", failure);
    }
    if (!IsFullPath(folder)) {
        win32.SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return REPORT("%s", failure);
    }
    return 0;
}

// The family's folder under a folder named by an environment string.
u32 CleanFamilyFolderIn(const wchar_t* variable, const char* failure, wchar_t* folder, wchar_t* path, int wipe,
                        int warn) {
    u32 result = ExpandFolder(variable, folder, failure);
    if (result) return result;
    result = JoinPath(path, folder, kFamilyFolder);
    if (result) return result;
    return CleanDirectory(path, wipe, warn);
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
    u32 result = 0;
    for (const wchar_t* name : kSystemFiles) {
        u32 joined = JoinPath(path, folder, name);
        result |= joined ? joined : CleanFile(path, wipe, warn);
    }
    return result;
}

u32 CleanMenuFolder(wchar_t* path, const wchar_t* programs, const wchar_t* name, int wipe, int warn) {
    u32 result = JoinPath(path, programs, name);
    if (result) return result;
    WidePrint(L"Removing %ls\n", path);
    return CleanDirectory(path, wipe, warn);
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
    result |= CleanMenuFolder(path, programs, kFamilyFolder, wipe, warn);
    result |= CleanMenuFolder(path, programs, kFamilyMenuFolder, wipe, warn);
    return result;
}

}  // namespace

// No step stops the plan: a folder that cannot be found, or a path that cannot
// be built, skips only what would have been built from it.
u32 RunFilePlan(int wipe, int warn) {
    // The 64-bit pass cleans the 64-bit program folders.
    const wchar_t* programFiles = g_registryView ? L"%ProgramW6432%" : L"%ProgramFiles%";
    const wchar_t* commonFiles = g_registryView ? L"%CommonProgramW6432%" : L"%CommonProgramFiles%";

    OwnedBlock working = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!working) return REPORT("Not enough memory.");
    OwnedBlock file = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!file) return REPORT("Not enough memory.");
    OwnedBlock menu = AllocateBlock(kPathUnits * sizeof(wchar_t));
    if (!menu) return REPORT("Not enough memory.");
    wchar_t* workingPath = BlockAs<wchar_t>(working);
    wchar_t* filePath = BlockAs<wchar_t>(file);
    wchar_t* menuPath = BlockAs<wchar_t>(menu);

    u32 result = CleanFamilyFolderIn(programFiles, "SHGetFolderPath(CSIDL_PROGRAM_FILES) failed.", workingPath,
                                     filePath, wipe, warn);
    result |= CleanFamilyFolderIn(commonFiles, "SHGetFolderPath(CSIDL_PROGRAM_FILES_COMMON) failed.", workingPath,
                                  filePath, wipe, warn);
    result |= CleanSystemFiles(workingPath, filePath, wipe, warn);
    result |= CleanStartMenu(menuPath, filePath, workingPath, wipe, warn);
    result |= CleanOemInfFiles(wipe);
    return result;
}
