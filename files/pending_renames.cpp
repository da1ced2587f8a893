#include "files/pending_renames.h"

#include "files/file_delete.h"
#include "files/path_buffer.h"
#include "run/error_report.h"
#include "run/run_summary.h"
#include "platform/owned.h"

#include <utility>

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kListValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
const size_t kListCount = sizeof kListValues / sizeof kListValues[0];
const wchar_t kNtPrefix[] = L"\\??\\";
const size_t kNtPrefixUnits = 4;

// A deletion of the list: its path without the prefix; settled once it was
// counted, or reported, here or in an earlier pass.
struct WaitingDeletion {
    const wchar_t* path;
    bool settled;
};

struct WaitingList {
    bool loaded;
    OwnedBlock texts[kListCount];
    OwnedBlock deletions;
    size_t count;
};

WaitingList g_list;

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameStart(const wchar_t* text, const wchar_t* start, size_t units) {
    for (size_t i = 0; i < units; ++i)
        if (FoldAscii(text[i]) != FoldAscii(start[i])) return false;
    return true;
}

bool SameText(const wchar_t* one, const wchar_t* other) {
    size_t units = wcslen(one);
    return units == wcslen(other) && SameStart(one, other, units);
}

// The value's text with two NULs after what it holds, so that every string
// in it ends; `units` is what it holds. An absent value is no text.
u32 ReadListValue(HKEY key, const wchar_t* name, OwnedBlock* text, size_t* units) {
    // A value that grows between the two readings is read again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = REG_NONE;
        DWORD bytes = 0;
        LONG status = win32.RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) return 0;
        OwnedBlock block;
        if (status == ERROR_SUCCESS && type != REG_MULTI_SZ) status = ERROR_DATATYPE_MISMATCH;
        if (status == ERROR_SUCCESS && !(block = AllocateBlock(bytes + 2 * sizeof(wchar_t))))
            status = ERROR_NOT_ENOUGH_MEMORY;
        if (status == ERROR_SUCCESS)
            status = win32.RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(block.get()), &bytes);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) {
            win32.SetLastError(static_cast<DWORD>(status));
            return REPORT("Can not read the reboot-time rename list: %S", name);
        }
        *units = bytes / sizeof(wchar_t);
        BlockAs<wchar_t>(block)[*units] = L'\0';
        BlockAs<wchar_t>(block)[*units + 1] = L'\0';
        *text = std::move(block);
        return 0;
    }
    win32.SetLastError(ERROR_MORE_DATA);
    return REPORT("Can not read the reboot-time rename list: %S", name);
}

// The deletions among the pairs of `text`, into `out` when given; how many.
// As at the start of Windows, an empty source ends the list.
size_t FindDeletions(const wchar_t* text, size_t units, WaitingDeletion* out) {
    size_t count = 0;
    for (size_t at = 0; at < units && text[at];) {
        const wchar_t* source = text + at;
        at += wcslen(source) + 1;
        // A source without a destination after it is no pair.
        if (at >= units) break;
        bool deletion = text[at] == L'\0';
        at += wcslen(text + at) + 1;
        if (!deletion || wcsncmp(source, kNtPrefix, kNtPrefixUnits) != 0) continue;
        if (out) out[count] = WaitingDeletion{source + kNtPrefixUnits, false};
        ++count;
    }
    return count;
}

// True when `path` lies at the place, `folder` (`units` long) or `name` in
// it, as `at` says.
bool LiesAt(const wchar_t* path, const wchar_t* folder, size_t units, const wchar_t* name, WaitingAt at) {
    if (!SameStart(path, folder, units)) return false;
    const wchar_t* rest = path + units;
    if (name) {
        size_t length = wcslen(name);
        if (*rest != L'\\' || !SameStart(rest + 1, name, length)) return false;
        rest += 1 + length;
    }
    if (at == WaitingAt::Place) return *rest == L'\0' || *rest == L'\\';
    if (*rest != L'\\') return false;
    size_t length = wcscspn(rest + 1, L"\\");
    if (length > kLongestTempName) return false;
    wchar_t entry[kLongestTempName + 1];
    memcpy(entry, rest + 1, length * sizeof(wchar_t));
    entry[length] = L'\0';
    return LooksLikeTempName(entry);
}

}  // namespace

u32 LoadWaitingDeletions() {
    ForgetWaitingDeletions();
    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) {
        win32.SetLastError(static_cast<DWORD>(status));
        return REPORT("Can not read the reboot-time rename list: %S", kSessionManager);
    }
    size_t units[kListCount] = {};
    size_t count = 0;
    for (size_t i = 0; i < kListCount; ++i) {
        u32 result = ReadListValue(key.get(), kListValues[i], &g_list.texts[i], &units[i]);
        if (result) return result;
        if (g_list.texts[i]) count += FindDeletions(BlockAs<wchar_t>(g_list.texts[i]), units[i], nullptr);
    }
    g_list.deletions = AllocateBlock((count ? count : 1) * sizeof(WaitingDeletion));
    if (!g_list.deletions) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return REPORT("Not enough memory.");
    }
    for (size_t i = 0; i < kListCount; ++i) {
        if (!g_list.texts[i]) continue;
        WaitingDeletion* out = BlockAs<WaitingDeletion>(g_list.deletions) + g_list.count;
        g_list.count += FindDeletions(BlockAs<wchar_t>(g_list.texts[i]), units[i], out);
    }
    g_list.loaded = true;
    return 0;
}

void ForgetWaitingDeletions() {
    for (OwnedBlock& text : g_list.texts) text.reset();
    g_list.deletions.reset();
    g_list.count = 0;
    g_list.loaded = false;
}

u32 NoteWaitingDeletions(const wchar_t* folder, const wchar_t* name, WaitingAt at) {
    if (!g_list.loaded) return 0;
    size_t units = wcslen(folder);
    if (units && folder[units - 1] == L'\\') --units;
    WaitingDeletion* deletions = BlockAs<WaitingDeletion>(g_list.deletions);
    u32 result = 0;
    for (size_t i = 0; i < g_list.count; ++i) {
        WaitingDeletion& deletion = deletions[i];
        if (deletion.settled || !LiesAt(deletion.path, folder, units, name, at)) continue;
        // What is no longer there does not wait: an entry left from before
        // the item took its own name back, say.
        if (win32.GetFileAttributesW(deletion.path) == INVALID_FILE_ATTRIBUTES) {
            if (MeansAbsent(win32.GetLastError())) continue;
            result |= REPORT("Can not look at what waits for the reboot: %S", deletion.path);
            deletion.settled = true;
            continue;
        }
        for (size_t j = i; j < g_list.count; ++j)
            if (SameText(deletions[j].path, deletion.path)) deletions[j].settled = true;
        CountWaitingDeletion();
        WidePrint(L"Deletion waits for the next reboot: %ls\n", deletion.path);
    }
    return result;
}
