#include "files/oem_inf.h"

#include "files/file_delete.h"
#include "files/path_buffer.h"
#include "run/error_report.h"
#include "run/run_summary.h"
#include "platform/owned.h"

namespace {

const wchar_t kMakerName[] = L"KorVane";

// Lists one driver setup file (list mode) or deletes it after clearing its
// read-only attribute (wipe mode). `extension` names the kind in the report.
u32 TreatSetupFile(const wchar_t* path, int wipe, const wchar_t* extension) {
    if (!wipe) {
        CountFoundFile(path);
        WidePrint(L"Find file: %ls\n", path);
        return 0;
    }
    if (ChangeFileAttrib(path) != 0) return REPORT("ChangeFileAttrib() fail");
    if (!win32.DeleteFileW(path)) return REPORT("DeleteFile() *.%S", extension);
    CountRemoved(kCountedFile);
    WidePrint(L"Delete file: %ls\n", path);
    return 0;
}

// True when the file's UTF-16 text names the maker. The last whole unit read
// becomes the terminator, so it is never searched.
bool NamesMaker(const wchar_t* path, const WIN32_FIND_DATAW* entry, u32* failure) {
    *failure = 0;
    DWORD size = entry->nFileSizeLow;
    // Less than one whole UTF-16 unit leaves no room for a terminator, let
    // alone the name: nothing to open.
    if (size < sizeof(wchar_t)) return false;

    OwnedFile file(win32.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *failure = REPORT("CreateFile()");
        return false;
    }
    OwnedBlock content = AllocateBlock(size);
    if (!content) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        *failure = REPORT("Out of memory.");
        return false;
    }
    DWORD bytesRead = 0;
    if (!win32.ReadFile(file.get(), content.get(), size, &bytesRead, nullptr)) {
        *failure = REPORT("ReadFile()");
        return false;
    }
    file.reset();
    // The file may have shrunk since it was listed.
    if (bytesRead < sizeof(wchar_t)) return false;
    wchar_t* text = BlockAs<wchar_t>(content);
    text[bytesRead / sizeof(wchar_t) - 1] = L'\0';
    return win32.wcsstr(text, kMakerName) != nullptr;
}

}  // namespace

u32 ProcessOemInf(wchar_t* path, int wipe, const WIN32_FIND_DATAW* entry) {
    if (entry->nFileSizeHigh == 0 && entry->nFileSizeLow == 0) return 0;
    u32 failure = 0;
    if (!NamesMaker(path, entry, &failure)) return failure;

    u32 result = TreatSetupFile(path, wipe, L"inf");
    if (result != 0) return result;

    // The precompiled companion: same name, ".pnf".
    size_t length = wcslen(path);
    if (length < 3) return 0;
    wcscpy(path + length - 3, L"pnf");
    WIN32_FIND_DATAW companion;
    OwnedFind probe(win32.FindFirstFileW(path, &companion));
    if (!probe) {
        if (win32.GetLastError() == ERROR_FILE_NOT_FOUND) {
            WidePrint(L"File not exist: %ls\n", path);
            return 0;
        }
        return REPORT("FindFirstFile()");
    }
    probe.reset();
    return TreatSetupFile(path, wipe, L"pnf");
}

u32 CleanOemInfFiles(int wipe) {
    OwnedBlock infBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    OwnedBlock patternBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    OwnedBlock pathBlock = AllocateBlock(MAX_PATH * sizeof(wchar_t));
    if (!infBlock || !patternBlock || !pathBlock) {
        // The allocator leaves no system error behind; the report names one.
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return REPORT("Out of memory.");
    }
    wchar_t* infDirectory = BlockAs<wchar_t>(infBlock);
    wchar_t* pattern = BlockAs<wchar_t>(patternBlock);
    wchar_t* path = BlockAs<wchar_t>(pathBlock);

    infDirectory[0] = L'\0';
    if (FAILED(win32.SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT, infDirectory)))
        return REPORT("SHGetFolderPath()");
    if (!AppendToPath(infDirectory, L"\\inf") || !JoinPath(pattern, infDirectory, L"\\oem*.inf")) {
        win32.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return REPORT("SHGetFolderPath()");
    }

    WIN32_FIND_DATAW entry;
    OwnedFind search(win32.FindFirstFileW(pattern, &entry));
    if (!search) {
        // A machine without third-party drivers has none of these files.
        if (win32.GetLastError() == ERROR_FILE_NOT_FOUND) {
            WidePrint(L"No driver setup files found: %ls\n", pattern);
            return 0;
        }
        return REPORT("FindFirstFile()");
    }
    do {
        // Windows names its copies "oem<number>.inf"; a name too long for the
        // buffer is none of them.
        if (!JoinPath(path, infDirectory, L"\\") || !AppendToPath(path, entry.cFileName)) continue;
        u32 result = ProcessOemInf(path, wipe, &entry);
        // The rest waits for the next pass.
        if (result != 0) return result;
    } while (win32.FindNextFileW(search.get(), &entry));
    return 0;
}
