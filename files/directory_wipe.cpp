#include "files/directory_wipe.h"

#include "files/file_delete.h"
#include "files/links.h"
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

// The names under which the wipe of one folder scheduled items in it for the
// next reboot, back to back, each with its terminator.
struct ScheduledNames {
    OwnedBlock block;
    size_t used;
    size_t capacity;
};

// False, with nothing remembered, when no memory could be had.
bool RememberScheduled(ScheduledNames& names, const wchar_t* name) {
    size_t units = wcslen(name) + 1;
    if (names.used + units > names.capacity) {
        size_t capacity = names.capacity * 2 + units + 64;
        OwnedBlock grown = AllocateBlock(capacity * sizeof(wchar_t));
        if (!grown) return false;
        if (names.used) memcpy(grown.get(), names.block.get(), names.used * sizeof(wchar_t));
        names.block.reset(grown.release());
        names.capacity = capacity;
    }
    memcpy(BlockAs<wchar_t>(names.block) + names.used, name, units * sizeof(wchar_t));
    names.used += units;
    return true;
}

bool WasScheduled(const ScheduledNames& names, const wchar_t* name) {
    const wchar_t* text = BlockAs<wchar_t>(names.block);
    for (size_t at = 0; at < names.used; at += wcslen(text + at) + 1)
        if (wcscmp(text + at, name) == 0) return true;
    return false;
}

// The entry that `path` itself names (no wildcard); false when there is none
// or it could not be probed, the last error telling which.
bool ProbePath(const wchar_t* path, WIN32_FIND_DATAW* entry) {
    OwnedFind probe(win32.FindFirstFileW(path, entry));
    return static_cast<bool>(probe);
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool IsFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !ListedAsLink(entry);
}

Fate RemoveTreeLink(const wchar_t* path, TreeWipe& wipe) {
    Fate fate = RemoveLink(path);
    if (fate == Fate::Left) wipe.result |= 1;
    return fate;
}

Fate DeleteTreeFile(const wchar_t* path, TreeWipe& wipe, wchar_t* scheduledAs) {
    Fate fate = DeleteOrDeferFile(path, scheduledAs);
    if (fate == Fate::Left) {
        WidePrint(L"Failed to delete: %ls\n", path);
        wipe.result |= 1;
        return fate;
    }
    WidePrint(L"Deleted file: %ls\n", path);
    return fate;
}

Fate WipeItem(const wchar_t* path, const WIN32_FIND_DATAW& entry, TreeWipe& wipe, bool top, wchar_t* scheduledAs);

// A temporary name is the family's data like any other name, whoever gave
// it: only what this wipe itself scheduled here is passed over, should the
// listing still open show it.
Fate WipeListedEntry(const wchar_t* prefix, wchar_t* working, const WIN32_FIND_DATAW& entry,
                     ScheduledNames& scheduled, TreeWipe& wipe) {
    const wchar_t* name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsDotEntry(name)) return Fate::Removed;
    if (WasScheduled(scheduled, name)) {
        WidePrint(L"Skip: %ls\n", name);
        return Fate::Deferred;
    }
    if (!JoinPath(working, prefix, name)) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        REPORT("Path too long: %S%S", prefix, name);
        wipe.result |= 1;
        return Fate::Left;
    }
    wchar_t scheduledAs[MAX_PATH];
    Fate fate = WipeItem(working, entry, wipe, false, scheduledAs);
    if (fate != Fate::Deferred || RememberScheduled(scheduled, wcsrchr(scheduledAs, L'\\') + 1)) return fate;
    win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    wipe.result |= REPORT("Not enough memory.");
    return Fate::Left;
}

// Deletes or defers every entry below `prefix` (a directory name ending in a
// backslash); `working` is a MAX_PATH buffer for the paths built on the way.
// The worst fate of the entries; a listing that fails leaves its folder's
// content unknown, so it counts as left.
Fate WipeEntries(const wchar_t* prefix, wchar_t* working, ScheduledNames& scheduled, TreeWipe& wipe) {
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
        Fate fate = WipeListedEntry(prefix, working, entry, scheduled, wipe);
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
Fate WipeContents(const wchar_t* current, ScheduledNames& scheduled, TreeWipe& wipe) {
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
    return WipeEntries(prefix, BlockAs<wchar_t>(workingBlock), scheduled, wipe);
}

// After a removal that failed: true when a fresh listing of `folder` shows
// nothing but what this wipe scheduled in it. Whatever else is there is
// reported: the reboot could not remove the folder.
bool OnlyScheduledLeft(const wchar_t* folder, const ScheduledNames& scheduled, TreeWipe& wipe) {
    wchar_t pattern[MAX_PATH];
    if (!JoinPath(pattern, folder, L"\\*")) return false;
    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(pattern, &entry));
    if (!search) {
        wipe.result |= REPORT("Can not list: %S", pattern);
        return false;
    }
    do {
        if (IsDotEntry(entry.cFileName) || WasScheduled(scheduled, entry.cFileName)) continue;
        win32.SetLastError(ERROR_DIR_NOT_EMPTY);
        wipe.result |= REPORT("Not scheduled for the reboot: %S\\%S", folder, entry.cFileName);
        return false;
    } while (win32.FindNextFileW(search.get(), &entry));
    if (win32.GetLastError() == ERROR_NO_MORE_FILES) return true;
    wipe.result |= REPORT("Can not list: %S", pattern);
    return false;
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
// deletion only when all that is left in it is what the wipe scheduled;
// otherwise it takes its own name back, where the next run looks for what
// stays.
Fate WipeFolder(const wchar_t* path, TreeWipe& wipe, bool top, wchar_t* scheduledAs) {
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

    ScheduledNames scheduled = {OwnedBlock(), 0, 0};
    Fate contents = WipeContents(current, scheduled, wipe);
    win32.SetFileAttributesW(current, FILE_ATTRIBUTE_NORMAL);
    if (win32.RemoveDirectoryW(current)) {
        WidePrint(L"Deleted dir: %ls\n", current);
        return Fate::Removed;
    }
    if (contents != Fate::Left && OnlyScheduledLeft(current, scheduled, wipe)) {
        if (win32.MoveFileExW(current, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            CountDeferred();
            WidePrint(L"Marked to delete on reboot dir: %ls\n", current);
            JoinPath(scheduledAs, current, L"");
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

// What the entry is comes from the entry itself, opened without following it:
// a link is removed itself, whatever the listing shows.
Fate WipeItem(const wchar_t* path, const WIN32_FIND_DATAW& entry, TreeWipe& wipe, bool top, wchar_t* scheduledAs) {
    if (ListedAsLink(entry) || OpensAsLink(path)) return RemoveTreeLink(path, wipe);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteTreeFile(path, wipe, scheduledAs);
    if (!top) WidePrint(L"RecurseWipeTree: %ls\n", path);
    return WipeFolder(path, wipe, top, scheduledAs);
}

// True when every folder of the tree below `folder` (a MAX_PATH buffer holding
// its path; `grown` its length once moved aside) can be moved aside too, with
// each path still in the buffers and each folder short enough to receive
// temporary names for what it holds. Unlisted folders count as fitting: the
// wipe reports them.
bool FitsMovedAside(wchar_t* folder, size_t grown) {
    if (grown + 1 > kLongestTempNameDirectory) return false;
    size_t length = wcslen(folder);
    if (!AppendToPath(folder, L"\\*")) return false;
    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(folder, &entry));
    folder[length] = L'\0';
    if (!search) return true;
    bool fits = true;
    do {
        const wchar_t* name = entry.cFileName;
        if (IsDotEntry(name)) continue;
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
    if (!ProbePath(path, &entry)) return MeansAbsent(win32.GetLastError()) ? 0 : REPORT("Can not list: %S", path);
    CountFoundFile(path);
    u32 result = 0;
    if (warn) result = REPORT("Redundant data found: %S", path);
    if (wipe && RecurseWipeTree(path) != 0) result |= REPORT("RecurseWipeTree failed: %S", path);
    else if (wipe) CountRemoved(kCountedFile);
    return result;
}

u32 RecurseWipeTree(const wchar_t* path) {
    WIN32_FIND_DATAW entry;
    if (!ProbePath(path, &entry)) return MeansAbsent(win32.GetLastError()) ? 0 : REPORT("Can not list: %S", path);
    TreeWipe wipe = {true, false, 0};
    if (IsFolder(entry) && !TreeFitsMovedAside(path)) {
        WidePrint(L"Not moved aside, temporary names would not fit: %ls\n", path);
        wipe.moveAside = false;
    }
    wchar_t scheduledAs[MAX_PATH];
    WipeItem(path, entry, wipe, true, scheduledAs);
    return wipe.result;
}
