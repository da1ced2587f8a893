#include "files/file_delete.h"

#include "files/links.h"
#include "files/path_buffer.h"
#include "run/error_report.h"
#include "run/run_summary.h"
#include "platform/owned.h"

namespace {

const wchar_t kTempNamePrefix[] = L"csp";

// Reserves a fresh "csp*.tmp" name in the directory that holds `path`:
// GetTempFileNameW creates an empty file of that name, written to `tempName`
// (MAX_PATH units). 1 = reserved; 0 = failed, reported except when the
// full-path buffer could not be allocated.
int ReserveTempNameBeside(const wchar_t* path, wchar_t* tempName) {
    wchar_t probe[1];
    DWORD units = win32.GetFullPathNameW(path, 1, probe, nullptr);
    if (units == 0) {
        REPORT("GetFullPathName(1) for file: %S fail.", path);
        return 0;
    }
    OwnedBlock block = AllocateBlock(units * sizeof(wchar_t));
    if (!block) return 0;
    wchar_t* directory = BlockAs<wchar_t>(block);
    wchar_t* filePart = nullptr;
    DWORD written = win32.GetFullPathNameW(path, units, directory, &filePart);
    if (written == 0 || written >= units) {
        if (written != 0) win32.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        REPORT("GetFullPathName(2) for file: %S fail.", path);
        return 0;
    }
    // A path that ends in a separator names no item of its own; cutting at the
    // file part would then pick the parent directory.
    if (filePart == nullptr || *filePart == L'\0') {
        win32.SetLastError(ERROR_INVALID_NAME);
        REPORT("Path has no file name: %S", path);
        return 0;
    }
    *filePart = L'\0';
    if (wcslen(directory) > kLongestTempNameDirectory) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long for a temporary name: %S", path);
        return 0;
    }
    if (win32.GetTempFileNameW(directory, kTempNamePrefix, 0, tempName) == 0) {
        REPORT("GetTempFileName for file: %S fail.", path);
        return 0;
    }
    return 1;
}

// The empty file that reserved a temporary name for a move that then failed:
// left there, it would pass for an item this program had scheduled.
void DiscardReservedName(const wchar_t* tempName) {
    DWORD error = win32.GetLastError();
    win32.DeleteFileW(tempName);
    win32.SetLastError(error);
}

bool IsHexDigit(wchar_t unit, bool* lower, bool* upper) {
    if (unit >= L'a' && unit <= L'f') return *lower = true;
    if (unit >= L'A' && unit <= L'F') return *upper = true;
    return unit >= L'0' && unit <= L'9';
}

}  // namespace

// GetTempFileNameW writes the prefix as given, the unique number in
// hexadecimal (Wine in lower case, Windows in upper case) and ".tmp".
bool LooksLikeTempName(const wchar_t* name) {
    if (wcsncmp(name, kTempNamePrefix, 3) != 0) return false;
    const wchar_t* digits = name + 3;
    bool lower = false, upper = false;
    size_t count = 0;
    while (count < 5 && IsHexDigit(digits[count], &lower, &upper)) ++count;
    return count >= 1 && count <= 4 && !(lower && upper) && wcscmp(digits + count, L".tmp") == 0;
}

bool MeansAbsent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

u32 CleanFile(const wchar_t* path, int wipe, int warn) {
    if (win32.GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        if (!MeansAbsent(win32.GetLastError())) return REPORT("GetFileAttributes for file: %S fail.", path);
        WidePrint(L"File not exist: %ls\n", path);
        return 0;
    }
    CountFoundFile(path);
    u32 result = 0;
    if (warn) result = REPORT("Redundant data found: %S", path);
    if (!wipe) return result;
    bool removed = OpensAsLink(path) ? RemoveLink(path) != Fate::Left : MyDeleteFile(path) != 0;
    if (!removed) return result | REPORT("Can not remove: %S", path);
    CountRemoved(kCountedFile);
    return result;
}

Fate DeleteOrDeferFile(const wchar_t* path, wchar_t* scheduledAs) {
    win32.SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (win32.DeleteFileW(path)) return Fate::Removed;
    WidePrint(L"File: %ls couldn't be deleted.\n", path);

    // In use: free the path at once by moving the file onto a reserved name
    // beside it, and let the system delete that name at the next reboot.
    wchar_t tempName[MAX_PATH];
    if (!ReserveTempNameBeside(path, tempName)) return Fate::Left;
    if (!win32.MoveFileExW(path, tempName, MOVEFILE_REPLACE_EXISTING)) {
        REPORT("MoveFileEx from file: %S to %S fail.", path, tempName);
        DiscardReservedName(tempName);
        return Fate::Left;
    }
    if (!win32.MoveFileExW(tempName, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        REPORT("MoveFileEx from file: %S to NULL fail.", tempName);
        // Nothing would ever delete it under the temporary name, and no later
        // run would look there.
        DWORD error = win32.GetLastError();
        if (!win32.MoveFileExW(tempName, path, 0)) REPORT("MoveFileEx from file: %S to %S fail.", tempName, path);
        win32.SetLastError(error);
        return Fate::Left;
    }
    CountDeferred();
    WidePrint(L"File: %ls success mark delete at reboot.\n", path);
    if (scheduledAs) memcpy(scheduledAs, tempName, sizeof tempName);
    return Fate::Deferred;
}

int MyDeleteFile(const wchar_t* path) { return DeleteOrDeferFile(path) != Fate::Left; }

int RenameToTmpName(const wchar_t* source, wchar_t* tempName) {
    if (!ReserveTempNameBeside(source, tempName)) return 0;

    // A file replaces the reserved empty file; a directory cannot, so the
    // reserved file goes first.
    DWORD sourceAttributes = win32.GetFileAttributesW(source);
    bool sourceIsDirectory =
        sourceAttributes != INVALID_FILE_ATTRIBUTES && (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (sourceIsDirectory && win32.GetFileAttributesW(tempName) != INVALID_FILE_ATTRIBUTES &&
        !MyDeleteFile(tempName)) {
        WidePrint(L"MyDeleteFile fail: %ls.\n", tempName);
        return 0;
    }
    if (!win32.MoveFileExW(source, tempName, MOVEFILE_REPLACE_EXISTING)) {
        REPORT("MoveFileEx from file: %S to %S fail.", source, tempName);
        if (!sourceIsDirectory) DiscardReservedName(tempName);
        return 0;
    }
    WidePrint(L"Rename: %ls into %ls success.\n", source, tempName);
    return 1;
}

u32 ChangeFileAttrib(const wchar_t* path) {
    DWORD attributes = win32.GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return REPORT("GetFileAttributes() fail");
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return 0;
    // Read-only cleared; only the low 16 attribute bits can be set at all.
    if (!win32.SetFileAttributesW(path, attributes & 0xFFFE)) return REPORT("SetFileAttributes() fail");
    return 0;
}
