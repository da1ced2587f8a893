#include "files/directory_wipe.h"

#include "files/file_delete.h"
#include "files/path_buffer.h"
#include "front/error_report.h"
#include "front/run_summary.h"
#include "platform/owned.h"

namespace {

// The entry that `path` itself names (no wildcard); false when there is none.
bool ProbePath(const wchar_t* path, WIN32_FIND_DATAW* entry) {
    OwnedFind probe(win32.FindFirstFileW(path, entry));
    return static_cast<bool>(probe);
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

u32 DeleteTreeFile(const wchar_t* path) {
    if (!MyDeleteFile(path)) {
        WidePrint(L"Failed to delete: %ls\n", path);
        return 1;
    }
    WidePrint(L"Deleted file: %ls\n", path);
    return 0;
}

// A junction or symbolic link is removed itself and never followed: what it
// points at may lie anywhere on the machine. No attribute reset either, as that
// would reach the target.
u32 RemoveLink(const wchar_t* path, DWORD attributes) {
    BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? win32.RemoveDirectoryW(path) : win32.DeleteFileW(path);
    if (removed) {
        WidePrint(L"Deleted link: %ls\n", path);
        return 0;
    }
    REPORT("Can not remove link: %S", path);
    return 1;
}

// Deletes or defers every entry below `prefix` (a directory name ending in a
// backslash); `working` is a MAX_PATH buffer for the paths built on the way.
u32 WipeEntries(const wchar_t* prefix, wchar_t* working) {
    if (!JoinPath(working, prefix, L"*")) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S*", prefix);
        return 1;
    }
    WidePrint(L"Searching %ls\n", working);

    u32 result = 0;
    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(working, &entry));
    if (!search) return 0;
    do {
        const wchar_t* name = entry.cFileName;
        if (LooksLikeTempName(name)) {
            WidePrint(L"Skip: %ls\n", name);
            continue;
        }
        bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDirectory && IsDotEntry(name)) continue;
        if (!JoinPath(working, prefix, name)) {
            win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
            REPORT("Path too long: %S%S", prefix, name);
            result |= 1;
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            result |= RemoveLink(working, entry.dwFileAttributes);
        } else if (isDirectory) {
            WidePrint(L"RecurseWipeTree: %ls\n", working);
            result |= RecurseWipeTree(working);
        } else {
            result |= DeleteTreeFile(working);
        }
    } while (win32.FindNextFileW(search.get(), &entry));
    return result;
}

}  // namespace

u32 CleanDirectory(const wchar_t* path, int wipe, int warn) {
    WIN32_FIND_DATAW entry;
    if (!ProbePath(path, &entry)) return 0;
    CountFoundFile(path);
    u32 result = 0;
    if (warn) result = REPORT("Redundant data found: %S", path);
    if (wipe && RecurseWipeTree(path) != 0) result |= REPORT("RecurseWipeTree failed: %S", path);
    else if (wipe) CountRemoved(kCountedFile);
    return result;
}

u32 RecurseWipeTree(const wchar_t* path) {
    WIN32_FIND_DATAW entry;
    if (!ProbePath(path, &entry)) return 0;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(path, entry.dwFileAttributes);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteTreeFile(path);

    // The directory leaves its name first, so the given path is free even when
    // part of the tree has to wait for the reboot.
    u32 result = 0;
    wchar_t tempName[MAX_PATH];
    const wchar_t* current = tempName;
    if (!RenameToTmpName(path, tempName)) {
        WidePrint(L"Failed to rename %ls to TmpName.\n", path);
        result = 1;
        current = path;
    }

    // The allocator leaves no system error behind; the report names one.
    OwnedBlock workingBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    if (!workingBlock) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return result | REPORT("Not enough memory.");
    }
    OwnedBlock prefixBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    if (!prefixBlock) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return result | REPORT("Not enough memory.");
    }
    wchar_t* prefix = BlockAs<wchar_t>(prefixBlock);

    size_t length = wcslen(current);
    bool hasSeparator = length > 0 && current[length - 1] == L'\\';
    if (JoinPath(prefix, current, hasSeparator ? L"" : L"\\")) {
        result |= WipeEntries(prefix, BlockAs<wchar_t>(workingBlock));
    } else {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S\\", current);
        result |= 1;
    }

    win32.SetFileAttributesW(current, FILE_ATTRIBUTE_NORMAL);
    if (win32.RemoveDirectoryW(current)) {
        WidePrint(L"Deleted dir: %ls\n", current);
    } else if (win32.MoveFileExW(current, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        CountDeferred();
        WidePrint(L"Marked to delete on reboot dir: %ls\n", current);
    } else {
        REPORT("MoveFileEx: %S to NULL fail.", current);
        result |= 1;
    }
    return result;
}
