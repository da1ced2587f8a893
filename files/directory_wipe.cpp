#include "files/directory_wipe.h"

#include <winioctl.h>

#include "files/file_delete.h"
#include "files/path_buffer.h"
#include "run/error_report.h"
#include "run/run_summary.h"
#include "platform/owned.h"

namespace {

// One wipe of a tree, from its top down.
struct TreeWipe {
    // Folders move to temporary names before they are emptied.
    bool moveAside;
    // A folder took its own name back, so what was deferred below it is
    // registered under a path that no longer exists.
    bool nameRestored;
    u32 result;
};

// The answer of FSCTL_GET_REPARSE_POINT up to the names of a junction or a
// symbolic link (the driver kit's REPARSE_DATA_BUFFER); a symbolic link has a
// flags field before its names.
struct ReparseHeader {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
};

// The entry that `path` itself names (no wildcard); false when there is none.
bool ProbePath(const wchar_t* path, WIN32_FIND_DATAW* entry) {
    OwnedFind probe(win32.FindFirstFileW(path, entry));
    return static_cast<bool>(probe);
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// Junctions and symbolic links (name surrogates) point elsewhere on the
// machine. Other reparse points (deduplicated files, cloud placeholders) hold
// the family's own data. Windows never shows tag 0; Wine shows its unix
// symbolic links so, and what cannot be told apart is taken for a link.
bool IsLink(const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    return entry.dwReserved0 == 0 || IsReparseTagNameSurrogate(entry.dwReserved0);
}

bool IsFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(entry);
}

// Where the link at `path` points, as its reparse data names it (the name
// meant for display when there is one); empty when it cannot be read.
OwnedBlock LinkTarget(const wchar_t* path) {
    OwnedFile link(win32.CreateFileW(path, FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link) return OwnedBlock();
    OwnedBlock data = AllocateBlock(MAXIMUM_REPARSE_DATA_BUFFER_SIZE + sizeof(wchar_t));
    if (!data) return data;
    BYTE* bytes = BlockAs<BYTE>(data);
    DWORD size = 0;
    if (!win32.DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, bytes,
                               MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &size, nullptr))
        return OwnedBlock();
    ReparseHeader header;
    if (size < sizeof header) return OwnedBlock();
    memcpy(&header, bytes, sizeof header);
    size_t names = sizeof header;
    if (header.tag == IO_REPARSE_TAG_SYMLINK)
        names += sizeof(DWORD);
    else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT)
        return OwnedBlock();
    bool printable = header.printLength != 0;
    size_t offset = names + (printable ? header.printOffset : header.substituteOffset);
    size_t length = (printable ? header.printLength : header.substituteLength) & ~size_t(1);
    if (length == 0 || offset + length > size) return OwnedBlock();
    memmove(bytes, bytes + offset, length);
    memset(bytes + length, 0, sizeof(wchar_t));
    return data;
}

// A link is removed itself and never followed, and its attributes are left
// alone: resetting them would reach the target.
Fate RemoveLink(const wchar_t* path, DWORD attributes, TreeWipe& wipe) {
    BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? win32.RemoveDirectoryW(path) : win32.DeleteFileW(path);
    if (removed) {
        WidePrint(L"Deleted link: %ls\n", path);
        return Fate::Removed;
    }
    DWORD error = win32.GetLastError();
    OwnedBlock target = LinkTarget(path);
    win32.SetLastError(error);
    if (target)
        REPORT("Can not remove link: %S -> %S", path, BlockAs<wchar_t>(target));
    else
        REPORT("Can not remove link: %S", path);
    wipe.result |= 1;
    return Fate::Left;
}

Fate DeleteTreeFile(const wchar_t* path, TreeWipe& wipe) {
    Fate fate = DeleteOrDeferFile(path);
    if (fate == Fate::Left) {
        WidePrint(L"Failed to delete: %ls\n", path);
        wipe.result |= 1;
        return fate;
    }
    WidePrint(L"Deleted file: %ls\n", path);
    return fate;
}

Fate WipeItem(const wchar_t* path, const WIN32_FIND_DATAW& entry, TreeWipe& wipe, bool top);

Fate WipeListedEntry(const wchar_t* prefix, wchar_t* working, const WIN32_FIND_DATAW& entry, TreeWipe& wipe) {
    const wchar_t* name = entry.cFileName;
    // What this program moved aside is already scheduled.
    if (LooksLikeTempName(name)) {
        WidePrint(L"Skip: %ls\n", name);
        return Fate::Deferred;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsDotEntry(name)) return Fate::Removed;
    if (!JoinPath(working, prefix, name)) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S%S", prefix, name);
        wipe.result |= 1;
        return Fate::Left;
    }
    if (IsFolder(entry)) WidePrint(L"RecurseWipeTree: %ls\n", working);
    return WipeItem(working, entry, wipe, false);
}

// Deletes or defers every entry below `prefix` (a directory name ending in a
// backslash); `working` is a MAX_PATH buffer for the paths built on the way.
// The worst fate of the entries; a listing that fails leaves its folder's
// content unknown, so it counts as left.
Fate WipeEntries(const wchar_t* prefix, wchar_t* working, TreeWipe& wipe) {
    if (!JoinPath(working, prefix, L"*")) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S*", prefix);
        wipe.result |= 1;
        return Fate::Left;
    }
    WidePrint(L"Searching %ls\n", working);

    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(working, &entry));
    if (!search) {
        if (win32.GetLastError() == ERROR_FILE_NOT_FOUND) return Fate::Removed;
        wipe.result |= REPORT("Can not list: %S", working);
        return Fate::Left;
    }
    Fate worst = Fate::Removed;
    do {
        Fate fate = WipeListedEntry(prefix, working, entry, wipe);
        if (fate > worst) worst = fate;
    } while (win32.FindNextFileW(search.get(), &entry));
    if (win32.GetLastError() != ERROR_NO_MORE_FILES) {
        wipe.result |= REPORT("Can not list: %S*", prefix);
        return Fate::Left;
    }
    return worst;
}

// Empties the folder now named `current`. The buffers of each level come from
// the heap; the allocator leaves no system error behind, the report names one.
Fate WipeContents(const wchar_t* current, TreeWipe& wipe) {
    OwnedBlock workingBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    if (!workingBlock) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        wipe.result |= REPORT("Not enough memory.");
        return Fate::Left;
    }
    OwnedBlock prefixBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    if (!prefixBlock) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        wipe.result |= REPORT("Not enough memory.");
        return Fate::Left;
    }
    wchar_t* prefix = BlockAs<wchar_t>(prefixBlock);
    size_t length = wcslen(current);
    bool hasSeparator = length > 0 && current[length - 1] == L'\\';
    if (!JoinPath(prefix, current, hasSeparator ? L"" : L"\\")) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S\\", current);
        wipe.result |= 1;
        return Fate::Left;
    }
    return WipeEntries(prefix, BlockAs<wchar_t>(workingBlock), wipe);
}

// After folders took their own names back, what was deferred below them is
// registered again where it now lies, children first: items with temporary
// names, and everything inside a deferred folder (`whole`).
void ScheduleAgainBelow(const wchar_t* folder, bool whole, TreeWipe& wipe) {
    wchar_t path[MAX_PATH];
    if (!JoinPath(path, folder, L"\\*")) return;
    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(path, &entry));
    if (!search) return;
    do {
        const wchar_t* name = entry.cFileName;
        bool isFolder = IsFolder(entry);
        bool deferred = whole || LooksLikeTempName(name);
        if ((isFolder && IsDotEntry(name)) || (!deferred && !isFolder)) continue;
        if (!JoinPath(path, folder, L"\\") || !AppendToPath(path, name)) continue;
        if (isFolder) ScheduleAgainBelow(path, deferred, wipe);
        if (!deferred) continue;
        if (win32.MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            WidePrint(L"Marked again to delete on reboot: %ls\n", path);
        } else {
            REPORT("MoveFileEx: %S to NULL fail.", path);
            wipe.result |= 1;
        }
    } while (win32.FindNextFileW(search.get(), &entry));
}

// Moving aside, the folder leaves its name first, so the given path is free
// even when part of the tree has to wait for the reboot. It is scheduled for
// deletion only when everything in it is; otherwise it takes its own name
// back, where the next run looks for what stays.
Fate WipeFolder(const wchar_t* path, TreeWipe& wipe, bool top) {
    wchar_t tempName[MAX_PATH];
    const wchar_t* current = path;
    if (wipe.moveAside) {
        if (RenameToTmpName(path, tempName)) {
            current = tempName;
        } else {
            WidePrint(L"Failed to rename %ls to TmpName.\n", path);
            wipe.result |= 1;
        }
    }

    Fate contents = WipeContents(current, wipe);
    win32.SetFileAttributesW(current, FILE_ATTRIBUTE_NORMAL);
    if (win32.RemoveDirectoryW(current)) {
        WidePrint(L"Deleted dir: %ls\n", current);
        return Fate::Removed;
    }
    if (contents != Fate::Left) {
        if (win32.MoveFileExW(current, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            CountDeferred();
            WidePrint(L"Marked to delete on reboot dir: %ls\n", current);
            return Fate::Deferred;
        }
        REPORT("MoveFileEx: %S to NULL fail.", current);
        wipe.result |= 1;
    }

    if (current != path) {
        if (win32.MoveFileExW(current, path, 0)) {
            WidePrint(L"Rename back: %ls into %ls success.\n", current, path);
            current = path;
            wipe.nameRestored = true;
        } else {
            REPORT("MoveFileEx from file: %S to %S fail.", current, path);
            wipe.result |= 1;
        }
    }
    if (top && wipe.nameRestored) {
        // The caller's report names what kept the folder, not the listing's end.
        DWORD error = win32.GetLastError();
        ScheduleAgainBelow(current, false, wipe);
        win32.SetLastError(error);
    }
    return Fate::Left;
}

Fate WipeItem(const wchar_t* path, const WIN32_FIND_DATAW& entry, TreeWipe& wipe, bool top) {
    if (IsLink(entry)) return RemoveLink(path, entry.dwFileAttributes, wipe);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return WipeFolder(path, wipe, top);
    return DeleteTreeFile(path, wipe);
}

// True when every folder of the tree below `folder` (a MAX_PATH buffer holding
// its path; `grown` its length once moved aside) can be moved aside too, with
// each path still in the buffers and each folder short enough to receive
// temporary names. Unlisted folders count as fitting: the wipe reports them.
bool FitsMovedAside(wchar_t* folder, size_t grown) {
    if (grown > kLongestTempNameDirectory) return false;
    size_t length = wcslen(folder);
    if (!AppendToPath(folder, L"\\*")) return false;
    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(folder, &entry));
    folder[length] = L'\0';
    if (!search) return true;
    bool fits = true;
    do {
        const wchar_t* name = entry.cFileName;
        if (IsDotEntry(name) || LooksLikeTempName(name)) continue;
        size_t units = wcslen(name);
        if (!IsFolder(entry)) {
            fits = grown + 1 + units <= kLongestPath;
            continue;
        }
        if (length + 1 + units > kLongestPath) return false;
        folder[length] = L'\\';
        memcpy(folder + length + 1, name, (units + 1) * sizeof(wchar_t));
        fits = FitsMovedAside(folder, grown + 1 + (units > kLongestTempName ? units : kLongestTempName));
        folder[length] = L'\0';
    } while (fits && win32.FindNextFileW(search.get(), &entry));
    return fits;
}

// Each folder moved aside may grow by up to ten units ("d" becomes
// "csp9bcf.tmp"): a tree that fits the limit must not be pushed past it by the
// wipe's own renames, so such a tree is wiped in place.
bool TreeFitsMovedAside(const wchar_t* path) {
    wchar_t folder[MAX_PATH];
    if (!JoinPath(folder, path, L"")) return false;
    size_t length = wcslen(folder);
    const wchar_t* separator = wcsrchr(folder, L'\\');
    size_t name = separator ? length - (separator - folder) - 1 : length;
    return FitsMovedAside(folder, length - name + (name > kLongestTempName ? name : kLongestTempName));
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
    TreeWipe wipe = {true, false, 0};
    if (IsFolder(entry) && !TreeFitsMovedAside(path)) {
        WidePrint(L"Not moved aside, temporary names would not fit: %ls\n", path);
        wipe.moveAside = false;
    }
    WipeItem(path, entry, wipe, true);
    return wipe.result;
}
