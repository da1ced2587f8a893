#include <gtest/gtest.h>

#include <regex>

#include "files/file_delete.h"
#include "run/error_report.h"
#include "tests/files/file_checks.h"

namespace {

class FileDeletion : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeScratchDirectory(L"file"); }
    void TearDown() override { RemoveFileTree(dir_); }

    std::wstring MakeFile(const std::wstring& name, const std::string& content = "Kor Vane module") {
        std::wstring path = dir_ + L"\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, content));
        return path;
    }
    std::string Out(const ConsoleCapture& capture) { return WithoutLineNumbers(capture.out()); }

    std::wstring dir_;
};

// --- CleanFile ---------------------------------------------------------------

TEST_F(FileDeletion, CleanFileOnMissingFilePrintsNotExistAndSucceedsInEveryMode) {
    std::wstring path = dir_ + L"\\absent.dll";
    for (int wipe = 0; wipe <= 1; ++wipe) {
        for (int warn = 0; warn <= 1; ++warn) {
            ConsoleCapture capture;
            EXPECT_EQ(0u, CleanFile(path.c_str(), wipe, warn)) << wipe << warn;
            EXPECT_EQ("File not exist: " + Utf8(path) + "\n", capture.out()) << wipe << warn;
        }
    }
}

// A probe that could not look (redirection that could not be switched off)
// is no answer that the file is gone.
TEST_F(FileDeletion, CleanFileReportsAProbeThatFailedForAnotherReasonThanAbsence) {
    std::wstring path = MakeFile(L"kvcsp.dll");
    auto noProbe = FailAlways<&Win32Api::GetFileAttributesW>(INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanFile(path.c_str(), 1, 0));
    EXPECT_EQ(ReportText("GetFileAttributes for file: " + Utf8(path) + " fail.", ERROR_ACCESS_DENIED), Out(capture));
}

TEST_F(FileDeletion, CleanFileInListModeReportsOnlyWithWarnAndChangesNothing) {
    std::wstring path = MakeFile(L"kvcsp.dll");
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanFile(path.c_str(), 0, 0));
        EXPECT_EQ("", capture.out());
    }
    {
        ConsoleCapture capture;
        ::SetLastError(ERROR_ALREADY_EXISTS);
        EXPECT_EQ(static_cast<u32>(ERROR_ALREADY_EXISTS), CleanFile(path.c_str(), 0, 1));
        EXPECT_EQ(ReportText("Redundant data found: " + Utf8(path), ERROR_ALREADY_EXISTS), Out(capture));
    }
    EXPECT_EQ("Kor Vane module", ReadFileBytes(path).value_or(""));
}

TEST_F(FileDeletion, CleanFileInWipeModeDeletesSilentlyAndWithWarnReportsFirst) {
    std::wstring quiet = MakeFile(L"quiet.dll");
    std::wstring loud = MakeFile(L"loud.dll");
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanFile(quiet.c_str(), 1, 0));
        EXPECT_EQ("", capture.out());
    }
    {
        ConsoleCapture capture;
        ::SetLastError(ERROR_ALREADY_EXISTS);
        EXPECT_NE(0u, CleanFile(loud.c_str(), 1, 1));
        EXPECT_EQ(ReportText("Redundant data found: " + Utf8(loud), ERROR_ALREADY_EXISTS), Out(capture));
    }
    EXPECT_FALSE(PathExists(quiet));
    EXPECT_FALSE(PathExists(loud));
    EXPECT_TRUE(DirectoryNames(dir_).empty());
}

TEST_F(FileDeletion, ReadOnlyHiddenFileIsDeletedInWipeMode) {
    std::wstring path = MakeFile(L"readonly.dll");
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanFile(path.c_str(), 1, 0));
    EXPECT_EQ("", capture.out());
    EXPECT_FALSE(PathExists(path));
}

// --- Files in use ------------------------------------------------------------

// A loaded module cannot be deleted but can be renamed: the path is freed at
// once and the data goes at the next reboot.
TEST_F(FileDeletion, LoadedModuleIsMovedBesideItselfAndScheduledForReboot) {
    std::wstring path = dir_ + L"\\kvcsp.dll";
    HMODULE module = LoadCopyOfSystemLibrary(path);
    ASSERT_NE(nullptr, module);
    std::string original = ReadFileBytes(path).value_or("");
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(::DeleteFileW(path.c_str()));

    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanFile(path.c_str(), 1, 0));
    EXPECT_EQ("File: " + Utf8(path) + " couldn't be deleted.\nFile: " + Utf8(path) +
                  " success mark delete at reboot.\n",
              capture.out());
    EXPECT_FALSE(PathExists(path));
    std::vector<std::wstring> temps = TempNamesIn(dir_);
    ASSERT_EQ(1u, temps.size());
    std::wstring moved = dir_ + L"\\" + temps[0];
    EXPECT_EQ(original, ReadFileBytes(moved).value_or(""));
    EXPECT_TRUE(IsScheduled(moved));
    EXPECT_FALSE(IsScheduled(path));
    ::FreeLibrary(module);
}

TEST_F(FileDeletion, MyDeleteFileReturnsOneForDeletedAndForScheduled) {
    std::wstring plain = MakeFile(L"plain.dll");
    std::wstring locked = dir_ + L"\\locked.dll";
    HMODULE module = LoadCopyOfSystemLibrary(locked);
    ASSERT_NE(nullptr, module);
    ConsoleCapture capture;
    EXPECT_EQ(1, MyDeleteFile(plain.c_str()));
    EXPECT_EQ(1, MyDeleteFile(locked.c_str()));
    EXPECT_FALSE(PathExists(plain));
    EXPECT_FALSE(PathExists(locked));
    ::FreeLibrary(module);
}

// The temporary name in the first failed move's report: `source` 1 for a move
// from it, 2 for one to it.
std::wstring ReportedTempName(const std::string& output, int source) {
    static const std::regex report("MoveFileEx from file: ([^\n]*) to ([^\n]*) fail\\.\n");
    std::smatch found;
    return std::regex_search(output, found, report) ? Wide(found[source].str()) : std::wstring();
}

// A file held open without FILE_SHARE_DELETE can be neither deleted nor
// renamed (Windows and Wine alike): both reports, and the empty file that
// reserved the temporary name goes again, lest it pass for a deferred item.
TEST_F(FileDeletion, FileOpenWithoutShareDeleteIsNeitherDeletedNorMoved) {
    std::wstring path = MakeFile(L"open.dll");
    HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    ConsoleCapture capture;
    u32 result = CleanFile(path.c_str(), 1, 0);
    ::CloseHandle(held);

    std::wstring temp = ReportedTempName(capture.out(), 2);
    EXPECT_TRUE(IsTempNameIn(temp, dir_)) << capture.out();
    EXPECT_EQ(static_cast<u32>(ERROR_SHARING_VIOLATION), result);
    EXPECT_EQ("File: " + Utf8(path) + " couldn't be deleted.\n" +
                  ReportText("MoveFileEx from file: " + Utf8(path) + " to " + Utf8(temp) + " fail.",
                             ERROR_SHARING_VIOLATION) +
                  ReportText("Can not remove: " + Utf8(path), ERROR_SHARING_VIOLATION),
              Out(capture));
    EXPECT_EQ("Kor Vane module", ReadFileBytes(path).value_or(""));
    EXPECT_EQ(std::vector<std::wstring>{L"open.dll"}, DirectoryNames(dir_));
}

TEST_F(FileDeletion, InjectedDeleteAndMoveFailuresGiveBothReportsAndLeaveTheEmptyTemporaryFile) {
    std::wstring path = MakeFile(L"stuck.dll");
    auto noDelete = FailAlways<&Win32Api::DeleteFileW>(FALSE, ERROR_ACCESS_DENIED);
    auto noMove = FailWhen<&Win32Api::MoveFileExW>([](LPCWSTR, LPCWSTR to, DWORD) { return to != nullptr; }, FALSE,
                                                   ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanFile(path.c_str(), 1, 0));
    std::vector<std::wstring> temps = TempNamesIn(dir_);
    ASSERT_EQ(1u, temps.size());
    std::wstring temp = dir_ + L"\\" + temps[0];
    EXPECT_EQ("File: " + Utf8(path) + " couldn't be deleted.\n" +
                  ReportText("MoveFileEx from file: " + Utf8(path) + " to " + Utf8(temp) + " fail.",
                             ERROR_ACCESS_DENIED) +
                  ReportText("Can not remove: " + Utf8(path), ERROR_ACCESS_DENIED),
              Out(capture));
    EXPECT_EQ("", ReadFileBytes(temp).value_or("missing"));
    EXPECT_TRUE(PathExists(path));
}

// Unscheduled, nothing would delete the file under its temporary name, and
// no later run would look there: it takes its own name back.
TEST_F(FileDeletion, FailedSchedulingPutsTheFileBackUnderItsOwnName) {
    std::wstring path = MakeFile(L"unscheduled.dll");
    auto noDelete = FailAlways<&Win32Api::DeleteFileW>(FALSE, ERROR_ACCESS_DENIED);
    auto noSchedule = FailWhen<&Win32Api::MoveFileExW>([](LPCWSTR, LPCWSTR to, DWORD) { return to == nullptr; },
                                                       FALSE, ERROR_WRITE_PROTECT);
    ConsoleCapture capture;
    ::SetLastError(0);
    EXPECT_EQ(0, MyDeleteFile(path.c_str()));
    EXPECT_EQ(DWORD(ERROR_WRITE_PROTECT), ::GetLastError());
    std::wstring temp = ReportedTempName(capture.out(), 1);
    EXPECT_TRUE(IsTempNameIn(temp, dir_)) << capture.out();
    EXPECT_EQ("File: " + Utf8(path) + " couldn't be deleted.\n" +
                  ReportText("MoveFileEx from file: " + Utf8(temp) + " to NULL fail.", ERROR_WRITE_PROTECT),
              Out(capture));
    EXPECT_EQ("Kor Vane module", ReadFileBytes(path).value_or(""));
    EXPECT_EQ(std::vector<std::wstring>{L"unscheduled.dll"}, DirectoryNames(dir_));
}

// GetTempFileNameW adds up to 14 units to the directory; Wine wrote such a
// name past the end of a MAX_PATH buffer. A directory of 247 units is refused
// before the call, one of 246 still gets its name.
TEST_F(FileDeletion, DirectoryTooLongForATemporaryNameIsRefusedBeforeTheCall) {
    std::vector<std::wstring> asked;
    auto record = ScopedHook<&Win32Api::GetTempFileNameW>(
        [&asked, real = ScopedHook<&Win32Api::GetTempFileNameW>::Current()](LPCWSTR directory, LPCWSTR prefix,
                                                                            UINT unique, LPWSTR name) {
            asked.push_back(directory);
            return real(directory, prefix, unique, name);
        });
    auto noDelete = FailAlways<&Win32Api::DeleteFileW>(FALSE, ERROR_ACCESS_DENIED);
    for (size_t units : {size_t(247), size_t(246)}) {
        std::wstring folder = dir_ + L"\\" + std::wstring(units - dir_.size() - 2, L'd');
        ASSERT_TRUE(MakeDirs(L"\\\\?\\" + folder));
        std::wstring path = folder + L"\\k.dll";
        ASSERT_TRUE(WriteFileBytes(path, "data"));
        asked.clear();
        ConsoleCapture capture;
        int deferred = MyDeleteFile(path.c_str());
        if (units == 247) {
            EXPECT_EQ(0, deferred);
            EXPECT_TRUE(asked.empty());
            EXPECT_EQ("File: " + Utf8(path) + " couldn't be deleted.\n" +
                          ReportText("Path too long for a temporary name: " + Utf8(path), ERROR_FILENAME_EXCED_RANGE),
                      Out(capture));
        } else {
            EXPECT_EQ(1, deferred);
            ASSERT_EQ(1u, asked.size());
            EXPECT_EQ(units, asked[0].size());
        }
    }
}

TEST_F(FileDeletion, EachFailureOfTheTemporaryNameIsReportedOnceAndCleanFileAddsItsOwn) {
    std::wstring path = MakeFile(L"named.dll");
    auto noDelete = FailAlways<&Win32Api::DeleteFileW>(FALSE, ERROR_ACCESS_DENIED);
    std::string head = "File: " + Utf8(path) + " couldn't be deleted.\n";
    std::string canNot = "Can not remove: " + Utf8(path);
    {
        auto fail = FailNthCall<&Win32Api::GetFullPathNameW>(1, DWORD(0), ERROR_INVALID_PARAMETER);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_INVALID_PARAMETER), CleanFile(path.c_str(), 1, 0));
        EXPECT_EQ(head + ReportText("GetFullPathName(1) for file: " + Utf8(path) + " fail.", ERROR_INVALID_PARAMETER) +
                      ReportText(canNot, ERROR_INVALID_PARAMETER),
                  Out(capture));
    }
    {
        auto fail = FailNthCall<&Win32Api::GetFullPathNameW>(2, DWORD(0), ERROR_INVALID_PARAMETER);
        ConsoleCapture capture;
        EXPECT_NE(0u, CleanFile(path.c_str(), 1, 0));
        EXPECT_EQ(head + ReportText("GetFullPathName(2) for file: " + Utf8(path) + " fail.", ERROR_INVALID_PARAMETER) +
                      ReportText(canNot, ERROR_INVALID_PARAMETER),
                  Out(capture));
    }
    {
        auto fail = FailAlways<&Win32Api::GetTempFileNameW>(UINT(0), ERROR_DISK_FULL);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_DISK_FULL), CleanFile(path.c_str(), 1, 0));
        EXPECT_EQ(head + ReportText("GetTempFileName for file: " + Utf8(path) + " fail.", ERROR_DISK_FULL) +
                      ReportText(canNot, ERROR_DISK_FULL),
                  Out(capture));
    }
    {
        // No report of its own for the full-path buffer: only CleanFile's.
        auto fail = FailNthAllocation(1);
        ConsoleCapture capture;
        ::SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, MyDeleteFile(path.c_str()));
        EXPECT_EQ(head, capture.out());
    }
    EXPECT_TRUE(TempNamesIn(dir_).empty());
    EXPECT_EQ("Kor Vane module", ReadFileBytes(path).value_or(""));
}

// A path that ends in a separator has no file part: reported, and neither the
// folder it names nor its parent is touched.
TEST_F(FileDeletion, PathEndingInSeparatorIsReportedAndNothingIsMoved) {
    std::wstring folder = dir_ + L"\\Kor Vane";
    ASSERT_TRUE(MakeDirs(folder));
    MakeFile(L"Kor Vane\\inside.dll");
    std::wstring withSeparator = folder + L"\\";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0, MyDeleteFile(withSeparator.c_str()));
        EXPECT_EQ("File: " + Utf8(withSeparator) + " couldn't be deleted.\n" +
                      ReportText("Path has no file name: " + Utf8(withSeparator), ERROR_INVALID_NAME),
                  Out(capture));
    }
    {
        ConsoleCapture capture;
        wchar_t temp[MAX_PATH] = L"";
        EXPECT_EQ(0, RenameToTmpName(withSeparator.c_str(), temp));
        EXPECT_EQ(ReportText("Path has no file name: " + Utf8(withSeparator), ERROR_INVALID_NAME), Out(capture));
    }
    EXPECT_EQ(std::vector<std::wstring>{L"Kor Vane"}, DirectoryNames(dir_));
    EXPECT_EQ(std::vector<std::wstring>{L"inside.dll"}, DirectoryNames(folder));
}

// --- RenameToTmpName ---------------------------------------------------------

TEST_F(FileDeletion, DirectoryIsRenamedInItsParentAfterTheReservedFileIsDeleted) {
    std::wstring folder = dir_ + L"\\Kor Vane";
    ASSERT_TRUE(MakeDirs(folder));
    MakeFile(L"Kor Vane\\inside.dll");
    wchar_t temp[MAX_PATH] = L"";
    ConsoleCapture capture;
    EXPECT_EQ(1, RenameToTmpName(folder.c_str(), temp));
    EXPECT_TRUE(IsTempNameIn(temp, dir_)) << Utf8(temp);
    EXPECT_EQ("Rename: " + Utf8(folder) + " into " + Utf8(temp) + " success.\n", capture.out());
    EXPECT_FALSE(PathExists(folder));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), ::GetFileAttributesW(temp) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(std::vector<std::wstring>{L"inside.dll"}, DirectoryNames(temp));
    EXPECT_EQ(1u, DirectoryNames(dir_).size());
    EXPECT_FALSE(IsScheduled(temp));
}

TEST_F(FileDeletion, FileIsRenamedOntoTheReservedName) {
    std::wstring path = MakeFile(L"kvcsp.dll");
    wchar_t temp[MAX_PATH] = L"";
    ConsoleCapture capture;
    EXPECT_EQ(1, RenameToTmpName(path.c_str(), temp));
    EXPECT_TRUE(IsTempNameIn(temp, dir_)) << Utf8(temp);
    EXPECT_EQ("Rename: " + Utf8(path) + " into " + Utf8(temp) + " success.\n", capture.out());
    EXPECT_EQ("Kor Vane module", ReadFileBytes(temp).value_or(""));
    EXPECT_EQ(1u, DirectoryNames(dir_).size());
}

TEST_F(FileDeletion, FailedRenameIsReportedWithBothNames) {
    std::wstring path = MakeFile(L"kvcsp.dll");
    auto noMove = FailAlways<&Win32Api::MoveFileExW>(FALSE, ERROR_ACCESS_DENIED);
    wchar_t temp[MAX_PATH] = L"";
    ConsoleCapture capture;
    EXPECT_EQ(0, RenameToTmpName(path.c_str(), temp));
    EXPECT_TRUE(IsTempNameIn(temp, dir_));
    EXPECT_EQ(ReportText("MoveFileEx from file: " + Utf8(path) + " to " + Utf8(temp) + " fail.", ERROR_ACCESS_DENIED),
              Out(capture));
    EXPECT_TRUE(PathExists(path));
}

TEST_F(FileDeletion, RenameOfDirectoryStopsWhenTheReservedFileCannotBeFreed) {
    std::wstring folder = dir_ + L"\\Kor Vane";
    ASSERT_TRUE(MakeDirs(folder));
    auto noDelete = FailAlways<&Win32Api::DeleteFileW>(FALSE, ERROR_ACCESS_DENIED);
    auto noMove = FailAlways<&Win32Api::MoveFileExW>(FALSE, ERROR_ACCESS_DENIED);
    wchar_t temp[MAX_PATH] = L"";
    ConsoleCapture capture;
    EXPECT_EQ(0, RenameToTmpName(folder.c_str(), temp));
    std::string out = Out(capture);
    std::string tail = "MyDeleteFile fail: " + Utf8(temp) + ".\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(tail, out.substr(out.size() - tail.size()));
    EXPECT_EQ(0u, out.find("File: " + Utf8(temp) + " couldn't be deleted.\n"));
    EXPECT_TRUE(PathExists(folder));
}

// --- ChangeFileAttrib --------------------------------------------------------

TEST_F(FileDeletion, ChangeFileAttribClearsOnlyReadOnly) {
    std::wstring plain = MakeFile(L"plain.inf");
    std::wstring locked = MakeFile(L"locked.inf");
    ASSERT_TRUE(::SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    DWORD plainBefore = ::GetFileAttributesW(plain.c_str());
    DWORD lockedBefore = ::GetFileAttributesW(locked.c_str());
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), plainBefore & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ConsoleCapture capture;
    EXPECT_EQ(0u, ChangeFileAttrib(plain.c_str()));
    EXPECT_EQ(0u, ChangeFileAttrib(locked.c_str()));
    EXPECT_EQ("", capture.out());
    EXPECT_EQ(plainBefore, ::GetFileAttributesW(plain.c_str()));
    EXPECT_EQ(lockedBefore & ~DWORD(FILE_ATTRIBUTE_READONLY), ::GetFileAttributesW(locked.c_str()));
}

TEST_F(FileDeletion, ChangeFileAttribReportsMissingFileAndRefusedChange) {
    std::wstring missing = dir_ + L"\\absent.inf";
    std::wstring locked = MakeFile(L"locked.inf");
    ASSERT_TRUE(::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_FILE_NOT_FOUND), ChangeFileAttrib(missing.c_str()));
        EXPECT_EQ(ReportText("GetFileAttributes() fail", ERROR_FILE_NOT_FOUND), Out(capture));
    }
    {
        auto refuse = FailAlways<&Win32Api::SetFileAttributesW>(FALSE, ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), ChangeFileAttrib(locked.c_str()));
        EXPECT_EQ(ReportText("SetFileAttributes() fail", ERROR_ACCESS_DENIED), Out(capture));
    }
    ::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// GetTempFileNameW writes "csp", the number in hexadecimal (Wine in lower
// case, Windows in upper case) and ".tmp"; the family's own names that merely
// contain "csp" and ".tmp" are not of that form.
TEST(TemporaryNameRule, MatchesOnlyTheNamesGetTempFileNameGives) {
    for (const wchar_t* name : {L"csp1.tmp", L"csp1a2b.tmp", L"csp1A2B.tmp", L"cspffff.tmp", L"cspFFFF.tmp"})
        EXPECT_TRUE(LooksLikeTempName(name)) << Utf8(name);
    for (const wchar_t* name : {L"kvcsp.tmp", L"Update.csp.tmp", L"old.tmp.cspbackup", L"csp.tmp", L"csp12345.tmp",
                                L"csp1a2B.tmp", L"csp1g.tmp", L"csp1A2B.tmp.dll", L"xcsp1A2B.tmp", L"CSP1A2B.TMP",
                                L"csp1A2B.TMP", L"csp.dll", L"setup.tmp"})
        EXPECT_FALSE(LooksLikeTempName(name)) << Utf8(name);
}

}  // namespace
