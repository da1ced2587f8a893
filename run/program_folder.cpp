#include "run/program_folder.h"

#include "run/error_report.h"

namespace {

// Owner Administrators; Administrators and SYSTEM only, nothing inherited from
// above. The folders pass the same on to what is created in them.
const wchar_t kFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t kFileSecurity[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
const wchar_t kProgramFolder[] = L"\\kvclean";
const wchar_t kFilePrefix[] = L"\\kvclean-";
const unsigned kNameAttempts = 999;

// A folder opened as itself: a link or junction is opened, not followed.
const DWORD kAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// A held folder: listing it is a data access, so the missing delete sharing
// keeps every other open that could remove, rename or replace it out.
const DWORD kHeldAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER;
const SECURITY_INFORMATION kOwnerAndList = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

inline void FreeLocalBlock(void* block) { win32.LocalFree(block); }
typedef Owned<owned_detail::NullTraits<void*, void(void*), FreeLocalBlock>> OwnedDescriptor;

SYSTEMTIME g_runTime;
bool g_runTimeTaken = false;

// A path being put together in a buffer of kProgramPathUnits; false once it would not fit.
struct PathText {
    wchar_t* units;
    size_t length;

    bool Append(const wchar_t* part) {
        size_t count = wcslen(part);
        if (length + count >= kProgramPathUnits) return false;
        memcpy(units + length, part, count * sizeof(wchar_t));
        length += count;
        units[length] = L'\0';
        return true;
    }
    bool AppendNumber(unsigned number, int digits) {
        wchar_t text[12];
        int count = 0;
        do {
            text[count++] = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number || count < digits);
        wchar_t ordered[12];
        for (int i = 0; i < count; ++i) ordered[i] = text[count - 1 - i];
        ordered[count] = L'\0';
        return Append(ordered);
    }
};

// "kvclean-YYYYMMDD-HHMMSS[-N]<ending>" after the folder.
bool AppendFileName(PathText* path, unsigned attempt, const wchar_t* ending) {
    const SYSTEMTIME& t = g_runTime;
    bool fits = path->Append(kFilePrefix) && path->AppendNumber(t.wYear, 4) && path->AppendNumber(t.wMonth, 2) &&
                path->AppendNumber(t.wDay, 2) && path->Append(L"-") && path->AppendNumber(t.wHour, 2) &&
                path->AppendNumber(t.wMinute, 2) && path->AppendNumber(t.wSecond, 2);
    if (fits && attempt > 1) fits = path->Append(L"-") && path->AppendNumber(attempt, 1);
    return fits && path->Append(ending);
}

OwnedDescriptor MakeDescriptor(const wchar_t* sddl) {
    OwnedDescriptor descriptor;
    PSECURITY_DESCRIPTOR made = nullptr;
    if (win32.ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, nullptr))
        descriptor.reset(made);
    return descriptor;
}

HANDLE OpenAsItself(const wchar_t* path, DWORD access) {
    return win32.CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kAsItself,
                             nullptr);
}

bool IsPlainFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

u32 ReportNoPlainFolder(const char* what, const wchar_t* path) {
    win32.SetLastError(ERROR_DIRECTORY);
    return REPORT("The %s folder is a link or no folder, not used: %S", what, path);
}

// A folder whose list refuses administrators (its maker may write any): the
// take-ownership privilege, which the run enables, makes it theirs, and as
// its owners they may write its list.
bool TakeOver(const wchar_t* path, PSECURITY_DESCRIPTOR security) {
    OwnedFile owner(OpenAsItself(path, WRITE_OWNER));
    if (!owner || !win32.SetKernelObjectSecurity(owner.get(), OWNER_SECURITY_INFORMATION, security)) return false;
    OwnedFile list(OpenAsItself(path, WRITE_DAC));
    return list && win32.SetKernelObjectSecurity(list.get(), DACL_SECURITY_INFORMATION, security);
}

// The folder at `path`, created when missing, made the program's own and held.
// Windows opens a link itself and shows it by the handle; Wine follows a link
// to a folder and shows it by the path only: both are looked at.
u32 HoldOwnFolder(const wchar_t* path, PSECURITY_DESCRIPTOR security, const char* what, OwnedFile* held) {
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), security, FALSE};
    if (!win32.CreateDirectoryW(path, &attributes) && win32.GetLastError() != ERROR_ALREADY_EXISTS)
        return REPORT("Can not create the %s folder: %S", what, path);
    DWORD found = win32.GetFileAttributesW(path);
    if (found == INVALID_FILE_ATTRIBUTES) return REPORT("Can not create the %s folder: %S", what, path);
    if (!IsPlainFolder(found)) return ReportNoPlainFolder(what, path);

    held->reset(OpenAsItself(path, kHeldAccess));
    if (!*held && win32.GetLastError() == ERROR_ACCESS_DENIED && TakeOver(path, security))
        held->reset(OpenAsItself(path, kHeldAccess));
    BY_HANDLE_FILE_INFORMATION information;
    if (!*held || !win32.GetFileInformationByHandle(held->get(), &information))
        return REPORT("Can not make the %s folder the administrators' own: %S", what, path);
    if (!IsPlainFolder(information.dwFileAttributes)) return ReportNoPlainFolder(what, path);
    if (!win32.SetKernelObjectSecurity(held->get(), kOwnerAndList, security))
        return REPORT("Can not make the %s folder the administrators' own: %S", what, path);
    return 0;
}

}  // namespace

void TakeRunTime() {
    win32.GetLocalTime(&g_runTime);
    g_runTimeTaken = true;
}

bool RunTimeTaken() { return g_runTimeTaken; }

u32 CreateProgramFile(const wchar_t* folder, const wchar_t* ending, const char* what, ProgramFile* made) {
    if (!g_runTimeTaken) TakeRunTime();
    wchar_t* buffer = made->path;
    PathText path = {buffer, 0};
    HRESULT found = win32.SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(found)) {
        buffer[0] = L'\0';
        win32.SetLastError(static_cast<DWORD>(found));
        return REPORT("Can not find the common application data folder for the %s file", what);
    }
    path.length = wcslen(buffer);

    OwnedDescriptor folderSecurity = MakeDescriptor(kFolderSecurity);
    OwnedDescriptor fileSecurity = MakeDescriptor(kFileSecurity);
    if (!folderSecurity || !fileSecurity) return REPORT("Can not make the %s file's security descriptor", what);
    SECURITY_ATTRIBUTES fileAttributes = {sizeof(SECURITY_ATTRIBUTES), fileSecurity.get(), FALSE};

    // Both held until the file exists.
    OwnedFile held[2];
    const wchar_t* const folders[2] = {kProgramFolder, folder};
    for (int level = 0; level < 2; ++level) {
        if (!path.Append(folders[level])) {
            win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return REPORT("Can not create the %s folder: %S", what, buffer);
        }
        u32 failure = HoldOwnFolder(buffer, folderSecurity.get(), what, &held[level]);
        if (failure != 0) return failure;
    }

    size_t folderLength = path.length;
    for (unsigned attempt = 1;; ++attempt) {
        path.length = folderLength;
        if (attempt > kNameAttempts || !AppendFileName(&path, attempt, ending)) {
            buffer[folderLength] = L'\0';
            win32.SetLastError(ERROR_FILE_EXISTS);
            return REPORT("Can not create the %s file in %S", what, buffer);
        }
        made->file.reset(win32.CreateFileW(buffer, GENERIC_WRITE, FILE_SHARE_READ, &fileAttributes, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (made->file) return 0;
        DWORD error = win32.GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return REPORT("Can not create the %s file: %S", what, buffer);
    }
}
