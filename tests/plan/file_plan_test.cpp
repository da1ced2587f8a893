#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "run/process_state.h"
#include "plan/file_plan.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

std::wstring Expanded(const wchar_t* variable) {
    wchar_t folder[MAX_PATH] = L"";
    ::ExpandEnvironmentStringsW(variable, folder, MAX_PATH);
    return folder;
}

std::string Utf16Text(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const wchar_t kMenuFolderRu[] = L"\u041A\u043E\u0440-\u0412\u0430\u043D\u0435";  // "Кор-Ване"

// What the file plan looks for, planted where a pass in the current view finds it,
// with a decoy beside each kind of item that must survive.
struct Planted {
    std::vector<std::wstring> family;  // files and folders of the family
    std::vector<std::wstring> decoys;  // files that are not the family's
    std::wstring programs;            // the Start Menu's Programs folder
    std::wstring menuFolder;
    std::wstring menuFolderRu;
};

void Plant(const std::wstring& file, std::vector<std::wstring>& into) {
    size_t slash = file.rfind(L'\\');
    ASSERT_TRUE(MakeDirs(file.substr(0, slash))) << Utf8(file);
    ASSERT_TRUE(WriteFileBytes(file, "planted")) << Utf8(file);
    into.push_back(file);
}

Planted PlantFamily(const std::wstring& programFiles, const std::wstring& commonFiles) {
    Planted planted;
    std::wstring system = KnownFolder(CSIDL_SYSTEM);
    std::wstring inf = KnownFolder(CSIDL_WINDOWS) + L"\\inf\\";
    planted.programs = KnownFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs";
    planted.menuFolder = planted.programs + L"\\Kor Vane";
    planted.menuFolderRu = planted.programs + L"\\" + kMenuFolderRu;

    Plant(programFiles + L"\\Kor Vane\\bin\\kvcsp.dll", planted.family);
    Plant(commonFiles + L"\\Kor Vane\\kvshared.dll", planted.family);
    Plant(system + L"\\kvcng.dll", planted.family);
    Plant(system + L"\\kvSSPAP.dll", planted.family);
    Plant(system + L"\\drivers\\kvefs.sys", planted.family);
    Plant(planted.menuFolder + L"\\Kor Vane CSP.lnk", planted.family);
    Plant(planted.menuFolderRu + L"\\Help.lnk", planted.family);
    EXPECT_TRUE(WriteFileBytes(inf + L"oem90.inf", Utf16Text(L"\uFEFF[Version]\r\nProvider=KorVane\r\n")));
    EXPECT_TRUE(WriteFileBytes(inf + L"oem90.pnf", "compiled"));
    planted.family.push_back(inf + L"oem90.inf");
    planted.family.push_back(inf + L"oem90.pnf");

    Plant(programFiles + L"\\Kor Vane Tools\\keep.txt", planted.decoys);
    Plant(commonFiles + L"\\Kor\\keep.txt", planted.decoys);
    Plant(system + L"\\kvcng2.dll", planted.decoys);
    Plant(system + L"\\drivers\\kvefs.sys.bak", planted.decoys);
    Plant(planted.programs + L"\\Kor Vane Tools\\keep.lnk", planted.decoys);
    EXPECT_TRUE(WriteFileBytes(inf + L"oem91.inf", Utf16Text(L"\uFEFF[Version]\r\nProvider=Other\r\n")));
    EXPECT_TRUE(WriteFileBytes(inf + L"oem91.pnf", "compiled"));
    planted.decoys.push_back(inf + L"oem91.inf");
    planted.decoys.push_back(inf + L"oem91.pnf");
    return planted;
}

void RemovePlanted(const Planted& planted) {
    for (const std::wstring& path : planted.family) RemoveFileTree(path);
    for (const std::wstring& path : planted.decoys) RemoveFileTree(path);
}

// Makes one environment string expand to `folder`.
ScopedHook<&Win32Api::ExpandEnvironmentStringsW> ExpandAs(const wchar_t* variable, std::wstring folder) {
    auto previous = ScopedHook<&Win32Api::ExpandEnvironmentStringsW>::Current();
    std::wstring name = variable;
    return ScopedHook<&Win32Api::ExpandEnvironmentStringsW>(
        [=](LPCWSTR source, LPWSTR destination, DWORD size) -> DWORD {
            if (name != source) return previous(source, destination, size);
            if (folder.size() < size) wcscpy(destination, folder.c_str());
            return static_cast<DWORD>(folder.size() + 1);
        });
}

class FilePlan : public testing::Test {
protected:
    void SetUp() override { g_registryView = 0; }
    void TearDown() override { g_registryView = 0; }
};

TEST_F(FilePlan, ListModePrintsTheStartMenuAndBothRemovingLinesAndDeletesNothing) {
    Planted planted = PlantFamily(Expanded(L"%ProgramFiles%"), Expanded(L"%CommonProgramFiles%"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, RunFilePlan(0, 0));

    std::string out = capture.out();
    std::string menu = Utf8(KnownFolder(CSIDL_COMMON_STARTMENU));
    size_t startMenu = out.find("Path to Start Menu " + menu + "\n");
    size_t removing = out.find("Removing " + Utf8(planted.menuFolder) + "\n");
    size_t removingRu = out.find("Removing " + Utf8(planted.menuFolderRu) + "\n");
    EXPECT_NE(std::string::npos, startMenu);
    EXPECT_NE(std::string::npos, removing);
    EXPECT_NE(std::string::npos, removingRu);
    EXPECT_LT(startMenu, removing);
    EXPECT_LT(removing, removingRu);
    EXPECT_NE(std::string::npos, out.find("Find file: "));
    for (const std::wstring& path : planted.family) EXPECT_TRUE(PathExists(path)) << Utf8(path);
    for (const std::wstring& path : planted.decoys) EXPECT_TRUE(PathExists(path)) << Utf8(path);
    RemovePlanted(planted);
}

TEST_F(FilePlan, ProbesTheFamilysModulesAndDriversInTheSystemDirectoryInOrder) {
    const wchar_t* names[] = {
        L"kvcng.dll",          L"kvdrvlib.sys",        L"kvssl.dll",          L"kvtls.dll",
        L"kvSSPAP.dll",        L"kvocsp.dll",          L"kvssp.dll",          L"advapi32.$$$",
        L"KVanDspr.dll",       L"KVanDs64.dll",        L"drivers\\kvdrvlib.sys", L"drivers\\kvksp.sys",
        L"drivers\\KVanCtrl.sys", L"drivers\\KVanCt2k.sys", L"drivers\\kvefs.sys",  L"drivers\\kvdrv30.sys",
        L"drivers\\kvdrv36.sys",
    };
    // The native pass names the 32-bit system directory by its own path.
    std::wstring system = KnownFolder(CSIDL_SYSTEMX86);
    std::string expected;
    for (const wchar_t* name : names) expected += "File not exist: " + Utf8(system + L"\\" + name) + "\n";
    ConsoleCapture capture;
    RunFilePlan(0, 0);
    EXPECT_NE(std::string::npos, capture.out().find(expected)) << capture.out();
}

TEST_F(FilePlan, WipeModeRemovesTheFamilyAndLeavesWhatIsBesideIt) {
    Planted planted = PlantFamily(Expanded(L"%ProgramFiles%"), Expanded(L"%CommonProgramFiles%"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, RunFilePlan(1, 0));
    for (const std::wstring& path : planted.family) EXPECT_FALSE(PathExists(path)) << Utf8(path);
    EXPECT_FALSE(PathExists(planted.menuFolder));
    EXPECT_FALSE(PathExists(planted.menuFolderRu));
    for (const std::wstring& path : planted.decoys) EXPECT_TRUE(PathExists(path)) << Utf8(path);
    RemovePlanted(planted);
}

TEST_F(FilePlan, TheViewFlagChoosesTheSixtyFourBitProgramFolders) {
    std::wstring native = Expanded(L"%ProgramFiles%"), wide = Expanded(L"%ProgramW6432%");
    std::wstring nativeCommon = Expanded(L"%CommonProgramFiles%"), wideCommon = Expanded(L"%CommonProgramW6432%");
    ASSERT_NE(native, wide);
    ASSERT_NE(nativeCommon, wideCommon);
    std::vector<std::wstring> nativeItems, wideItems;
    Plant(native + L"\\Kor Vane\\a.dll", nativeItems);
    Plant(nativeCommon + L"\\Kor Vane\\b.dll", nativeItems);
    Plant(wide + L"\\Kor Vane\\a.dll", wideItems);
    Plant(wideCommon + L"\\Kor Vane\\b.dll", wideItems);

    ConsoleCapture capture;
    g_registryView = KEY_WOW64_64KEY;
    RunFilePlan(1, 0);
    for (const std::wstring& path : wideItems) EXPECT_FALSE(PathExists(path)) << Utf8(path);
    for (const std::wstring& path : nativeItems) EXPECT_TRUE(PathExists(path)) << Utf8(path);

    g_registryView = 0;
    RunFilePlan(1, 0);
    for (const std::wstring& path : nativeItems) EXPECT_FALSE(PathExists(path)) << Utf8(path);
}

TEST_F(FilePlan, StartMenuLookupFailureIsReportedAndTheInfCleanupStillRuns) {
    Planted planted = PlantFamily(Expanded(L"%ProgramFiles%"), Expanded(L"%CommonProgramFiles%"));
    auto noStartMenu = FailWhen<&Win32Api::SHGetFolderPathW>(
        [](HWND, int folder, HANDLE, DWORD, LPWSTR) { return folder == CSIDL_COMMON_STARTMENU; }, HRESULT(E_FAIL),
        ERROR_SUCCESS);
    ConsoleCapture capture;
    EXPECT_NE(0u, RunFilePlan(1, 0));

    EXPECT_NE(std::string::npos, capture.out().find("SHGetFolderPath(CSIDL_COMMON_STARTMENU) failed."));
    EXPECT_EQ(std::string::npos, capture.out().find("Path to Start Menu"));
    EXPECT_EQ(std::string::npos, capture.out().find("Removing "));
    EXPECT_NE(std::string::npos, capture.out().find("Delete file: "));
    std::wstring inf = KnownFolder(CSIDL_WINDOWS) + L"\\inf\\oem90.inf";
    EXPECT_FALSE(PathExists(inf));
    EXPECT_TRUE(PathExists(planted.menuFolder));
    EXPECT_TRUE(PathExists(planted.menuFolderRu));
    RemovePlanted(planted);
}

TEST_F(FilePlan, SystemDirectoryLookupFailureSkipsOnlyTheSystemFiles) {
    Planted planted = PlantFamily(Expanded(L"%ProgramFiles%"), Expanded(L"%CommonProgramFiles%"));
    auto noSystem = FailWhen<&Win32Api::SHGetFolderPathW>(
        [](HWND, int folder, HANDLE, DWORD, LPWSTR) { return folder == CSIDL_SYSTEMX86; }, HRESULT(E_FAIL),
        ERROR_SUCCESS);
    ConsoleCapture capture;
    EXPECT_NE(0u, RunFilePlan(1, 0));
    EXPECT_NE(std::string::npos, capture.out().find("SHGetFolderPath(CSIDL_SYSTEM) failed."));
    std::wstring system = KnownFolder(CSIDL_SYSTEM);
    EXPECT_TRUE(PathExists(system + L"\\kvcng.dll"));
    EXPECT_FALSE(PathExists(planted.menuFolder));
    EXPECT_FALSE(PathExists(Expanded(L"%ProgramFiles%") + L"\\Kor Vane"));
    RemovePlanted(planted);
}

TEST_F(FilePlan, EachPassNamesItsOwnSystemDirectory) {
    std::vector<int> asked;
    auto previous = ScopedHook<&Win32Api::SHGetFolderPathW>::Current();
    ScopedHook<&Win32Api::SHGetFolderPathW> record(
        [&](HWND window, int folder, HANDLE token, DWORD flags, LPWSTR path) -> HRESULT {
            if (folder == CSIDL_SYSTEM || folder == CSIDL_SYSTEMX86) asked.push_back(folder);
            return previous(window, folder, token, flags, path);
        });
    ConsoleCapture capture;
    g_registryView = KEY_WOW64_64KEY;
    RunFilePlan(0, 0);
    g_registryView = 0;
    RunFilePlan(0, 0);
    EXPECT_EQ((std::vector<int>{CSIDL_SYSTEM, CSIDL_SYSTEMX86}), asked);
}

// Under WOW64 a module in use in the 32-bit system directory is moved aside and
// registered for deletion at the reboot under SysWOW64, where it lies. The
// 64-bit system carries the deletions out and reads System32 as its own
// directory: registered under System32, the module would stay for good.
TEST_F(FilePlan, ModuleInUseInTheNativeSystemDirectoryIsRegisteredWhereItLies) {
    std::wstring native = KnownFolder(CSIDL_SYSTEMX86);
    if (native == KnownFolder(CSIDL_SYSTEM)) GTEST_SKIP() << "not under WOW64";
    const wchar_t sessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t pending[] = L"PendingFileRenameOperations";
    std::optional<std::string> pendingBefore = ReadValue(HKEY_LOCAL_MACHINE, sessionManager, pending);
    size_t entriesBefore = PendingFileRenames().size();

    std::wstring module = native + L"\\kvssl.dll";
    ASSERT_TRUE(::CopyFileW((native + L"\\msimg32.dll").c_str(), module.c_str(), FALSE));
    HMODULE held = ::LoadLibraryW(module.c_str());
    ASSERT_NE(nullptr, held);
    ConsoleCapture capture;
    EXPECT_EQ(0u, RunFilePlan(1, 0));
    ::FreeLibrary(held);

    EXPECT_NE(std::string::npos, capture.out().find("File: " + Utf8(module) + " success mark delete at reboot.\n"));
    std::vector<std::wstring> entries = PendingFileRenames();
    ASSERT_EQ(entriesBefore + 2, entries.size());
    std::wstring registered = entries[entriesBefore];
    std::wstring expectedStart = L"\\??\\" + native + L"\\csp";
    EXPECT_EQ(0, _wcsnicmp(registered.c_str(), expectedStart.c_str(), expectedStart.size())) << Utf8(registered);
    EXPECT_EQ(L"", entries[entriesBefore + 1]);
    EXPECT_TRUE(PathExists(registered.substr(4)));
    EXPECT_FALSE(PathExists(module));

    RemoveFileTree(registered.substr(4));
    if (pendingBefore)
        SetValue(HKEY_LOCAL_MACHINE, sessionManager, pending, REG_MULTI_SZ, pendingBefore->data(),
                 static_cast<DWORD>(pendingBefore->size()));
    else if (HKEY key; ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, &key) == 0) {
        ::RegDeleteValueW(key, pending);
        ::RegCloseKey(key);
    }
}

// A folder whose own path fits but whose "\Kor Vane" does not: a path cut to
// 260 characters would end in "\Kor", a folder of someone else.
TEST_F(FilePlan, PathTooLongToFitWholeIsReportedAndNothingIsDeletedForIt) {
    std::wstring folder = MakeScratchDirectory(L"long");
    while (folder.size() + 61 < 240) folder += L"\\" + std::wstring(60, L'd');
    folder += L"\\" + std::wstring(256 - folder.size() - 1, L'e');
    ASSERT_EQ(256u, folder.size());
    std::wstring cut = folder + L"\\Kor";  // 260 characters
    ASSERT_TRUE(MakeDirs(L"\\\\?\\" + cut));
    std::wstring keep = L"\\\\?\\" + cut + L"\\keep.txt";
    ASSERT_TRUE(WriteFileBytes(keep, "someone else's"));

    Planted planted = PlantFamily(Expanded(L"%ProgramFiles%"), Expanded(L"%CommonProgramFiles%"));
    auto longProgramFiles = ExpandAs(L"%ProgramFiles%", folder);
    ConsoleCapture capture;
    EXPECT_NE(0u, RunFilePlan(1, 0));

    EXPECT_NE(std::string::npos, capture.out().find("Path too long, skipped: " + Utf8(folder) + "\\Kor Vane"));
    EXPECT_TRUE(PathExists(keep));
    // The plan went on with the other folders.
    EXPECT_FALSE(PathExists(Expanded(L"%CommonProgramFiles%") + L"\\Kor Vane"));
    EXPECT_FALSE(PathExists(planted.menuFolder));
    RemovePlanted(planted);
}

// Windows before 7 has neither %ProgramW6432% nor %CommonProgramW6432%; the
// expansion returns them unchanged. The 64-bit pass then takes the folders
// that the CurrentVersion key names in the 64-bit view; where that names none
// either, there is no such folder to clean.
TEST_F(FilePlan, SixtyFourBitFoldersComeFromTheRegistryWhereTheVariablesAreMissing) {
    std::vector<std::wstring> wideItems;
    Plant(Expanded(L"%ProgramW6432%") + L"\\Kor Vane\\a.dll", wideItems);
    Plant(Expanded(L"%CommonProgramW6432%") + L"\\Kor Vane\\b.dll", wideItems);
    auto noProgramFiles = ExpandAs(L"%ProgramW6432%", L"%ProgramW6432%");
    auto noCommonFiles = ExpandAs(L"%CommonProgramW6432%", L"%CommonProgramW6432%");
    g_registryView = KEY_WOW64_64KEY;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RunFilePlan(1, 0)) << capture.out();
        for (const std::wstring& path : wideItems) EXPECT_FALSE(PathExists(path)) << Utf8(path);
    }
    auto noValues = FailWhen<&Win32Api::RegQueryValueExW>(
        [](HKEY, LPCWSTR name, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
            return name && (wcscmp(name, L"ProgramFilesDir") == 0 || wcscmp(name, L"CommonFilesDir") == 0);
        },
        LONG(ERROR_FILE_NOT_FOUND), ERROR_SUCCESS);
    ConsoleCapture capture;
    EXPECT_EQ(0u, RunFilePlan(1, 0)) << capture.out();
    EXPECT_EQ(0u, capture.out().find("Folder not defined: %ProgramW6432% nor ProgramFilesDir\n"
                                     "Folder not defined: %CommonProgramW6432% nor CommonFilesDir\n"))
        << capture.out();
}

// A folder name that is not a full path would be taken relative to the
// current directory.
TEST_F(FilePlan, FolderThatDoesNotExpandToAFullPathIsReportedAndNotUsed) {
    std::wstring scratch = MakeScratchDirectory(L"relative");
    std::vector<std::wstring> decoys;
    Plant(scratch + L"\\Program Files\\Kor Vane\\keep.txt", decoys);
    wchar_t previousDirectory[MAX_PATH] = L"";
    ::GetCurrentDirectoryW(MAX_PATH, previousDirectory);
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.c_str()));

    auto relative = ExpandAs(L"%ProgramW6432%", L"Program Files");
    ConsoleCapture capture;
    g_registryView = KEY_WOW64_64KEY;
    EXPECT_NE(0u, RunFilePlan(1, 0));
    ::SetCurrentDirectoryW(previousDirectory);

    EXPECT_NE(std::string::npos, capture.out().find("SHGetFolderPath(CSIDL_PROGRAM_FILES) failed."));
    EXPECT_TRUE(PathExists(decoys[0]));
}

TEST_F(FilePlan, ExpansionLongerThanTheBufferIsReportedAndNotUsed) {
    auto tooLong = ExpandAs(L"%CommonProgramFiles%", L"C:\\" + std::wstring(300, L'x'));
    ConsoleCapture capture;
    EXPECT_NE(0u, RunFilePlan(0, 0));
    EXPECT_NE(std::string::npos, capture.out().find("SHGetFolderPath(CSIDL_PROGRAM_FILES_COMMON) failed."));
    EXPECT_NE(std::string::npos, capture.out().find("Path to Start Menu"));
}

TEST_F(FilePlan, AllocationFailureEndsThePlanWithItsReport) {
    for (int nth = 1; nth <= 3; ++nth) {
        SCOPED_TRACE(nth);
        auto noMemory = FailNthAllocation(nth);
        ConsoleCapture capture;
        EXPECT_NE(0u, RunFilePlan(0, 0));
        EXPECT_NE(std::string::npos, capture.out().find("Not enough memory."));
        EXPECT_EQ(std::string::npos, capture.out().find("Path to Start Menu"));
    }
}

}  // namespace
