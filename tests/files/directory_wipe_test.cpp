#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "files/directory_wipe.h"
#include "run/error_report.h"
#include "tests/files/file_checks.h"

#include <winioctl.h>

// Wine lists a directory sorted by name, letter case aside, and from a
// snapshot taken when the search opens: the expected lines below follow that
// order, and entries moved aside during a search are not listed again.

namespace {

class DirectoryWipe : public testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchDirectory(L"wipe");
        top_ = dir_ + L"\\Kor Vane";
        ASSERT_TRUE(MakeDirs(top_));
    }
    void TearDown() override { RemoveFileTree(dir_); }

    std::wstring MakeFile(const std::wstring& relative, const std::string& content = "data") {
        std::wstring path = top_ + L"\\" + relative;
        EXPECT_TRUE(WriteFileBytes(path, content)) << Utf8(path);
        return path;
    }
    std::wstring MakeFolder(const std::wstring& relative) {
        std::wstring path = top_ + L"\\" + relative;
        EXPECT_TRUE(MakeDirs(path));
        return path;
    }

    std::wstring dir_, top_;
};

std::string Line(const std::string& text, const std::wstring& path) { return text + Utf8(path) + "\n"; }

std::string Renamed(const std::wstring& from, const std::wstring& to) {
    return "Rename: " + Utf8(from) + " into " + Utf8(to) + " success.\n";
}

std::string RenamedBack(const std::wstring& from, const std::wstring& to) {
    return "Rename back: " + Utf8(from) + " into " + Utf8(to) + " success.\n";
}

// Makes entries of the given name reparse points with `tag` to the traversal,
// as Windows lists junctions and symbolic links (name surrogates), deduplicated
// files or cloud placeholders. Wine lists none of them with a tag.
class PretendReparsePoint {
public:
    explicit PretendReparsePoint(std::wstring name, DWORD tag = IO_REPARSE_TAG_MOUNT_POINT)
        : first_([name, tag, real = ScopedHook<&Win32Api::FindFirstFileW>::Current()](LPCWSTR path,
                                                                                      LPWIN32_FIND_DATAW data) {
              HANDLE find = real(path, data);
              if (find != INVALID_HANDLE_VALUE) Mark(name, tag, data);
              return find;
          }),
          next_([name, tag, real = ScopedHook<&Win32Api::FindNextFileW>::Current()](HANDLE find,
                                                                                   LPWIN32_FIND_DATAW data) {
              BOOL found = real(find, data);
              if (found) Mark(name, tag, data);
              return found;
          }) {}

private:
    static void Mark(const std::wstring& name, DWORD tag, WIN32_FIND_DATAW* data) {
        if (name != data->cFileName) return;
        data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        data->dwReserved0 = tag;
    }
    ScopedHook<&Win32Api::FindFirstFileW> first_;
    ScopedHook<&Win32Api::FindNextFileW> next_;
};

// Answers every request for reparse data with a junction to `target`, laid out
// as Windows returns it: tag, data length, reserved, then the offsets and
// lengths of both names and the names themselves.
ScopedHook<&Win32Api::DeviceIoControl> AnswerJunctionTo(const std::wstring& target) {
    std::wstring names = L"\\??\\" + target + L'\0' + target + L'\0';
    WORD substitute = WORD((target.size() + 4) * 2), print = WORD(target.size() * 2);
    std::vector<WORD> data = {0, 0, 0, 0, 0, substitute, WORD(substitute + 2), print};
    data.insert(data.end(), names.begin(), names.end());
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(&data[0], &tag, sizeof tag);
    data[2] = WORD((data.size() - 4) * 2);
    return ScopedHook<&Win32Api::DeviceIoControl>(
        [data](HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD size, LPDWORD returned, LPOVERLAPPED) -> BOOL {
            *returned = DWORD(data.size() * 2);
            if (code != FSCTL_GET_REPARSE_POINT || size < *returned) return FALSE;
            memcpy(out, data.data(), *returned);
            return TRUE;
        });
}

TEST_F(DirectoryWipe, MissingDirectoryIsSilentAndSucceedsInEveryMode) {
    std::wstring missing = dir_ + L"\\Absent";
    ConsoleCapture capture;
    for (int wipe = 0; wipe <= 1; ++wipe)
        for (int warn = 0; warn <= 1; ++warn) EXPECT_EQ(0u, CleanDirectory(missing.c_str(), wipe, warn));
    EXPECT_EQ(0u, RecurseWipeTree(missing.c_str()));
    EXPECT_EQ("", capture.out());
}

TEST_F(DirectoryWipe, ListModeReportsOnlyWithWarnAndChangesNothing) {
    MakeFile(L"kvcsp.dll");
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanDirectory(top_.c_str(), 0, 0));
        EXPECT_EQ("", capture.out());
    }
    {
        ConsoleCapture capture;
        ::SetLastError(ERROR_ALREADY_EXISTS);
        EXPECT_EQ(static_cast<u32>(ERROR_ALREADY_EXISTS), CleanDirectory(top_.c_str(), 0, 1));
        EXPECT_EQ(ReportText("Redundant data found: " + Utf8(top_), ERROR_ALREADY_EXISTS),
                  WithoutLineNumbers(capture.out()));
    }
    EXPECT_EQ(std::vector<std::wstring>{L"Kor Vane"}, DirectoryNames(dir_));
    EXPECT_EQ(std::vector<std::wstring>{L"kvcsp.dll"}, DirectoryNames(top_));
}

TEST_F(DirectoryWipe, UnlockedTreeDisappearsUnderTemporaryNames) {
    std::wstring readOnly = MakeFile(L"a.dll");
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    MakeFolder(L"Sub\\Deeper");
    MakeFile(L"Sub\\b.dll");
    MakeFile(L"Sub\\Deeper\\c.txt");
    MakeFile(L"z.txt");

    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanDirectory(top_.c_str(), 1, 0));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(3u, temps.size()) << capture.out();
    const std::wstring &top = temps[0], &sub = temps[1], &deeper = temps[2];
    EXPECT_TRUE(IsTempNameIn(top, dir_)) << Utf8(top);
    EXPECT_TRUE(IsTempNameIn(sub, top)) << Utf8(sub);
    EXPECT_TRUE(IsTempNameIn(deeper, sub)) << Utf8(deeper);
    EXPECT_EQ(Renamed(top_, top) + Line("Searching ", top + L"\\*") + Line("Deleted file: ", top + L"\\a.dll") +
                  Line("RecurseWipeTree: ", top + L"\\Sub") + Renamed(top + L"\\Sub", sub) +
                  Line("Searching ", sub + L"\\*") + Line("Deleted file: ", sub + L"\\b.dll") +
                  Line("RecurseWipeTree: ", sub + L"\\Deeper") + Renamed(sub + L"\\Deeper", deeper) +
                  Line("Searching ", deeper + L"\\*") + Line("Deleted file: ", deeper + L"\\c.txt") +
                  Line("Deleted dir: ", deeper) + Line("Deleted dir: ", sub) +
                  Line("Deleted file: ", top + L"\\z.txt") + Line("Deleted dir: ", top),
              capture.out());
    EXPECT_TRUE(DirectoryNames(dir_).empty());
}

// The module is moved aside and scheduled; its folder and the top folder
// cannot be removed yet and are scheduled after it, children first.
TEST_F(DirectoryWipe, LockedFileInsideMakesItsFoldersScheduledForReboot) {
    MakeFolder(L"bin");
    std::wstring modulePath = top_ + L"\\bin\\kvcsp.dll";
    HMODULE module = LoadCopyOfSystemLibrary(modulePath);
    ASSERT_NE(nullptr, module);
    MakeFile(L"readme.txt");

    ConsoleCapture capture;
    EXPECT_EQ(0u, RecurseWipeTree(top_.c_str()));
    ::FreeLibrary(module);

    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(2u, temps.size()) << capture.out();
    const std::wstring &top = temps[0], &bin = temps[1];
    std::vector<std::wstring> inBin = TempNamesIn(bin);
    ASSERT_EQ(1u, inBin.size());
    std::wstring moved = bin + L"\\" + inBin[0];
    std::wstring lockedPath = bin + L"\\kvcsp.dll";
    EXPECT_EQ(Renamed(top_, top) + Line("Searching ", top + L"\\*") + Line("RecurseWipeTree: ", top + L"\\bin") +
                  Renamed(top + L"\\bin", bin) + Line("Searching ", bin + L"\\*") +
                  "File: " + Utf8(lockedPath) + " couldn't be deleted.\nFile: " + Utf8(lockedPath) +
                  " success mark delete at reboot.\n" + Line("Deleted file: ", lockedPath) +
                  Line("Marked to delete on reboot dir: ", bin) + Line("Deleted file: ", top + L"\\readme.txt") +
                  Line("Marked to delete on reboot dir: ", top),
              capture.out());
    EXPECT_FALSE(PathExists(top_));
    int modulePosition = ScheduledPosition(moved), binPosition = ScheduledPosition(bin),
        topPosition = ScheduledPosition(top);
    EXPECT_GE(modulePosition, 0);
    EXPECT_GT(binPosition, modulePosition);
    EXPECT_GT(topPosition, binPosition);
}

// A temporary name that nobody scheduled (left by an earlier tool, or by a
// reboot-time deletion that failed) is the family's data like any other name:
// wiped, never taken for something that waits for the reboot.
TEST_F(DirectoryWipe, StrayTemporaryNameIsWipedLikeAnyOtherName) {
    MakeFile(L"csp1a2b.tmp", "moved aside earlier");
    MakeFile(L"kvcsp.tmp");
    MakeFolder(L"Update.csp.tmp\\CSP");
    MakeFile(L"Update.csp.tmp\\CSP\\kvcsp.dll");

    ConsoleCapture capture;
    EXPECT_EQ(0u, RecurseWipeTree(top_.c_str()));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(3u, temps.size()) << capture.out();
    const std::wstring &top = temps[0], &update = temps[1], &csp = temps[2];
    EXPECT_EQ(Renamed(top_, top) + Line("Searching ", top + L"\\*") + Line("Deleted file: ", top + L"\\csp1a2b.tmp") +
                  Line("Deleted file: ", top + L"\\kvcsp.tmp") + Line("RecurseWipeTree: ", top + L"\\Update.csp.tmp") +
                  Renamed(top + L"\\Update.csp.tmp", update) + Line("Searching ", update + L"\\*") +
                  Line("RecurseWipeTree: ", update + L"\\CSP") + Renamed(update + L"\\CSP", csp) +
                  Line("Searching ", csp + L"\\*") + Line("Deleted file: ", csp + L"\\kvcsp.dll") +
                  Line("Deleted dir: ", csp) + Line("Deleted dir: ", update) +
                  Line("Deleted dir: ", top),
              capture.out());
    EXPECT_TRUE(DirectoryNames(dir_).empty());
}

TEST_F(DirectoryWipe, PathNamingAFileIsDeletedAsAFile) {
    std::wstring file = MakeFile(L"kvcsp.dll");
    std::wstring other = MakeFile(L"kvcsp2.dll");
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RecurseWipeTree(file.c_str()));
        EXPECT_EQ(Line("Deleted file: ", file), capture.out());
    }
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanDirectory(other.c_str(), 1, 0));
        EXPECT_EQ(Line("Deleted file: ", other), capture.out());
    }
    EXPECT_TRUE(DirectoryNames(top_).empty());
}

// What cannot go keeps its folders' own names, where the next run looks.
TEST_F(DirectoryWipe, FileThatCannotBeRemovedFailsTheWipeAndKeepsItsFolderName) {
    MakeFile(L"a.dll");
    MakeFile(L"b.dll");
    auto noDelete = FailWhen<&Win32Api::DeleteFileW>(
        [](LPCWSTR path) { return wcsstr(path, L"\\a.dll") != nullptr; }, FALSE, ERROR_ACCESS_DENIED);
    auto noMove = FailWhen<&Win32Api::MoveFileExW>(
        [](LPCWSTR from, LPCWSTR, DWORD) { return wcsstr(from, L"\\a.dll") != nullptr; }, FALSE,
        ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanDirectory(top_.c_str(), 1, 0));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(1u, temps.size()) << capture.out();
    const std::wstring& top = temps[0];
    std::string out = WithoutLineNumbers(capture.out());
    EXPECT_NE(std::string::npos, out.find(Line("Failed to delete: ", top + L"\\a.dll") +
                                          Line("Deleted file: ", top + L"\\b.dll") + RenamedBack(top, top_) +
                                          "An error occurred in running the program.\ninstall:#:RecurseWipeTree "
                                          "failed: " + Utf8(top_) + "\n"))
        << out;
    EXPECT_EQ(std::vector<std::wstring>{L"a.dll"}, DirectoryNames(top_));
    EXPECT_FALSE(IsScheduled(top));
    EXPECT_FALSE(IsScheduled(top_));
}

// The folder keeps its given name but is still emptied and removed; the wipe
// counts as failed.
TEST_F(DirectoryWipe, FailedMoveAsideStillEmptiesTheFolderUnderItsGivenName) {
    MakeFile(L"x.dll");
    std::wstring top = top_;
    auto noMove = FailWhen<&Win32Api::MoveFileExW>(
        [top](LPCWSTR from, LPCWSTR to, DWORD) { return to != nullptr && top == from; }, FALSE, ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    u32 result = CleanDirectory(top_.c_str(), 1, 0);
    EXPECT_NE(0u, result);
    std::string out = WithoutLineNumbers(capture.out());
    std::string listing = "Failed to rename " + Utf8(top_) + " to TmpName.\n" + Line("Searching ", top_ + L"\\*") +
                          Line("Deleted file: ", top_ + L"\\x.dll") + Line("Deleted dir: ", top_);
    size_t at = out.find(listing);
    ASSERT_NE(std::string::npos, at) << out;
    EXPECT_EQ(0u, out.find("An error occurred in running the program.\ninstall:#:MoveFileEx from file: " +
                           Utf8(top_) + " to "));
    EXPECT_EQ(at + listing.size(),
              out.find("An error occurred in running the program.\ninstall:#:RecurseWipeTree failed: " + Utf8(top_) +
                       "\n"));
    EXPECT_TRUE(DirectoryNames(dir_).empty());
}

TEST_F(DirectoryWipe, FolderThatCanBeNeitherRemovedNorScheduledIsReportedUnderItsOwnName) {
    MakeFile(L"x.dll");
    auto noRemove = FailAlways<&Win32Api::RemoveDirectoryW>(FALSE, ERROR_DIR_NOT_EMPTY);
    auto noSchedule = FailWhen<&Win32Api::MoveFileExW>([](LPCWSTR, LPCWSTR to, DWORD) { return to == nullptr; },
                                                       FALSE, ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(1u, RecurseWipeTree(top_.c_str()));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(1u, temps.size());
    const std::wstring& top = temps[0];
    EXPECT_EQ(Renamed(top_, top) + Line("Searching ", top + L"\\*") + Line("Deleted file: ", top + L"\\x.dll") +
                  ReportText("MoveFileEx: " + Utf8(top) + " to NULL fail.", ERROR_ACCESS_DENIED) +
                  RenamedBack(top, top_),
              WithoutLineNumbers(capture.out()));
    EXPECT_TRUE(PathExists(top_));
    EXPECT_FALSE(PathExists(top));
}

TEST_F(DirectoryWipe, AllocationFailureStopsTheLevelAndKeepsTheFolderUnderItsOwnName) {
    // The first allocation is the full-path buffer of the move aside; then
    // the working buffer, then the prefix buffer.
    for (int nth = 2; nth <= 3; ++nth) {
        std::wstring given = dir_ + L"\\Level" + std::to_wstring(nth);
        ASSERT_TRUE(MakeDirs(given));
        ASSERT_TRUE(WriteFileBytes(given + L"\\x.dll", "data"));
        auto fail = FailNthAllocation(nth);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_NOT_ENOUGH_MEMORY), RecurseWipeTree(given.c_str()));
        std::vector<std::wstring> temps = RenameTargets(capture.out());
        ASSERT_EQ(1u, temps.size());
        EXPECT_EQ(Renamed(given, temps[0]) + ReportText("Not enough memory.", ERROR_NOT_ENOUGH_MEMORY) +
                      RenamedBack(temps[0], given),
                  WithoutLineNumbers(capture.out()));
        EXPECT_EQ(std::vector<std::wstring>{L"x.dll"}, DirectoryNames(given));
    }
}

// A folder whose content cannot be listed is not scheduled: what it holds
// would never be deleted.
TEST_F(DirectoryWipe, SearchThatCannotOpenIsReportedAndTheFolderKeepsItsOwnName) {
    MakeFile(L"x.dll");
    auto noSearch = FailWhen<&Win32Api::FindFirstFileW>(
        [](LPCWSTR path, LPWIN32_FIND_DATAW) { return path[wcslen(path) - 1] == L'*'; }, INVALID_HANDLE_VALUE,
        ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), RecurseWipeTree(top_.c_str()));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(1u, temps.size());
    EXPECT_EQ(Renamed(top_, temps[0]) + Line("Searching ", temps[0] + L"\\*") +
                  ReportText("Can not list: " + Utf8(temps[0]) + "\\*", ERROR_ACCESS_DENIED) +
                  RenamedBack(temps[0], top_),
              WithoutLineNumbers(capture.out()));
    EXPECT_TRUE(PathExists(top_ + L"\\x.dll"));
    EXPECT_FALSE(IsScheduled(temps[0]));
}

// Paths are built in MAX_PATH buffers: an entry whose path would not fit is
// reported and left, never written past the buffer; the folder, which could
// not fit a temporary name either, is not moved aside.
TEST_F(DirectoryWipe, EntryWhosePathWouldNotFitIsReportedAndLeft) {
    std::wstring longName(240, L'k');
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + top_ + L"\\" + longName, "data"));
    ASSERT_GE(top_.size() + 1 + longName.size(), size_t(MAX_PATH));
    ConsoleCapture capture;
    EXPECT_EQ(1u, RecurseWipeTree(top_.c_str()));
    EXPECT_EQ(Line("Not moved aside, temporary names would not fit: ", top_) + Line("Searching ", top_ + L"\\*") +
                  ReportText("Path too long: " + Utf8(top_ + L"\\" + longName), ERROR_FILENAME_EXCED_RANGE),
              WithoutLineNumbers(capture.out()));
    EXPECT_EQ(std::vector<std::wstring>{longName}, DirectoryNames(top_));
    EXPECT_FALSE(IsScheduled(top_));
    ::DeleteFileW((L"\\\\?\\" + top_ + L"\\" + longName).c_str());
}

// Each folder moved aside grows by up to ten units: twenty nested one-letter
// folders fit the limit as they are, but not under temporary names.
TEST_F(DirectoryWipe, TreeThatFitsTheLimitIsRemovedWholeThoughTemporaryNamesWouldNotFit) {
    std::wstring nested = L"a";
    for (wchar_t letter = L'b'; letter < L'a' + 20; ++letter) nested += std::wstring(L"\\") + letter;
    MakeFolder(nested);
    MakeFile(nested + L"\\kvcsp.dll");
    ASSERT_LT(top_.size() + nested.size() + 11, size_t(MAX_PATH));
    ASSERT_GT(top_.size() + nested.size() + 20 * 10, size_t(MAX_PATH));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanDirectory(top_.c_str(), 1, 0)) << capture.out();
    EXPECT_TRUE(DirectoryNames(dir_).empty());
    EXPECT_EQ(0u, capture.out().find(Line("Not moved aside, temporary names would not fit: ", top_)));
}

// A folder moved aside to 246 units would leave no room for the temporary
// name of a file in it that has to wait for the reboot.
TEST_F(DirectoryWipe, TreeIsNotMovedAsideWhereAFolderCouldGetNoTemporaryNames) {
    std::wstring sub(246 - (dir_.size() + 1 + 11) - 1, L's');
    MakeFolder(sub);
    MakeFile(sub + L"\\kvcsp.dll");
    auto inUse = FailWhen<&Win32Api::DeleteFileW>([](LPCWSTR path) { return wcsstr(path, L"\\kvcsp.dll") != nullptr; },
                                                  FALSE, ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(0u, RecurseWipeTree(top_.c_str())) << capture.out();
    EXPECT_EQ(0u, capture.out().find(Line("Not moved aside, temporary names would not fit: ", top_)));
}

// A file held open without share-delete can be neither deleted nor moved: it
// stays, with every folder above it, under its own name where the next run
// looks; only what can go at the reboot waits for it, registered where it
// lies once its folders took their names back: whatever a deferred folder
// holds, also a folder that could not be moved aside and so kept its name.
TEST_F(DirectoryWipe, FileHeldOpenKeepsItsFoldersOwnNamesForTheNextRun) {
    MakeFolder(L"bin\\x64");
    HMODULE module = LoadCopyOfSystemLibrary(top_ + L"\\bin\\kvcsp.dll");
    ASSERT_NE(nullptr, module);
    HMODULE module64 = LoadCopyOfSystemLibrary(top_ + L"\\bin\\x64\\kvcsp64.dll");
    ASSERT_NE(nullptr, module64);
    MakeFolder(L"keys");
    std::wstring held = MakeFile(L"keys\\container.key", "key container");
    HANDLE open = ::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, open);
    MakeFile(L"readme.txt");

    ConsoleCapture capture;
    u32 result = 0;
    {
        auto x64StaysPut = FailWhen<&Win32Api::MoveFileExW>(
            [](LPCWSTR from, LPCWSTR to, DWORD) {
                size_t length = wcslen(from);
                return to != nullptr && length >= 4 && wcscmp(from + length - 4, L"\\x64") == 0;
            },
            FALSE, ERROR_SHARING_VIOLATION);
        result = CleanDirectory(top_.c_str(), 1, 0);
    }
    ::CloseHandle(open);
    ::FreeLibrary(module64);
    ::FreeLibrary(module);
    EXPECT_NE(0u, result);
    EXPECT_EQ("key container", ReadFileBytes(held).value_or("")) << capture.out();
    EXPECT_FALSE(PathExists(top_ + L"\\readme.txt"));
    EXPECT_FALSE(IsScheduled(top_));
    EXPECT_FALSE(IsScheduled(top_ + L"\\keys"));
    std::vector<std::wstring> temps = TempNamesIn(top_);
    ASSERT_EQ(1u, temps.size());
    std::wstring bin = top_ + L"\\" + temps[0];
    std::vector<std::wstring> inBin = TempNamesIn(bin);
    ASSERT_EQ(1u, inBin.size());
    int modulePosition = ScheduledPosition(bin + L"\\" + inBin[0]);
    EXPECT_GE(modulePosition, 0);
    EXPECT_GT(ScheduledPosition(bin), modulePosition);
    const std::wstring x64 = bin + L"\\x64";
    std::vector<std::wstring> inX64 = TempNamesIn(x64);
    ASSERT_EQ(1u, inX64.size()) << capture.out();
    int module64Position = ScheduledPosition(x64 + L"\\" + inX64[0]);
    EXPECT_GE(module64Position, 0);
    EXPECT_GT(ScheduledPosition(x64), module64Position) << capture.out();
    EXPECT_GT(ScheduledPosition(bin), ScheduledPosition(x64));

    ConsoleCapture next;
    EXPECT_EQ(0u, CleanDirectory(top_.c_str(), 1, 0)) << next.out();
    EXPECT_FALSE(PathExists(top_));
}

// --- Links -------------------------------------------------------------------

TEST_F(DirectoryWipe, LinkInsideTheTreeIsRemovedItselfAndNeverEntered) {
    MakeFolder(L"link");
    MakeFile(L"link\\elsewhere.dll", "not ours");
    MakeFolder(L"emptylink");
    MakeFile(L"filelink");
    MakeFile(L"own.dll");
    PretendReparsePoint link(L"link");
    PretendReparsePoint emptyLink(L"emptylink", IO_REPARSE_TAG_SYMLINK);
    PretendReparsePoint fileLink(L"filelink", IO_REPARSE_TAG_SYMLINK);
    auto target = AnswerJunctionTo(L"C:\\ProgramData\\Other Vendor");
    // Resetting attributes through a link would change its target.
    std::vector<std::wstring> attributesSet;
    auto recordAttributes = ScopedHook<&Win32Api::SetFileAttributesW>(
        [&attributesSet, real = ScopedHook<&Win32Api::SetFileAttributesW>::Current()](LPCWSTR path, DWORD value) {
            attributesSet.push_back(path);
            return real(path, value);
        });

    ConsoleCapture capture;
    EXPECT_EQ(1u, RecurseWipeTree(top_.c_str()));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(1u, temps.size()) << capture.out();
    const std::wstring& top = temps[0];
    // The folder behind "link" is not empty, so removing the link itself is
    // refused; what it holds is never listed, let alone deleted.
    EXPECT_EQ(Renamed(top_, top) + Line("Searching ", top + L"\\*") + Line("Deleted link: ", top + L"\\emptylink") +
                  Line("Deleted link: ", top + L"\\filelink") +
                  ReportText("Can not remove link: " + Utf8(top + L"\\link") + " -> C:\\ProgramData\\Other Vendor",
                             ERROR_DIR_NOT_EMPTY) +
                  Line("Deleted file: ", top + L"\\own.dll") + RenamedBack(top, top_),
              WithoutLineNumbers(capture.out()));
    EXPECT_EQ("not ours", ReadFileBytes(top_ + L"\\link\\elsewhere.dll").value_or(""));
    for (const std::wstring& path : attributesSet) EXPECT_EQ(std::wstring::npos, path.find(L"link")) << Utf8(path);
}

// Deduplicated files and cloud placeholders are reparse points that hold the
// family's own data: wiped like any file and folder (read-only reset, content
// emptied), not taken for links.
TEST_F(DirectoryWipe, ReparsePointsThatAreNotLinksAreWipedAsTheFamilysOwn) {
    std::wstring deduplicated = MakeFile(L"kvcsp.dll");
    ASSERT_TRUE(::SetFileAttributesW(deduplicated.c_str(), FILE_ATTRIBUTE_READONLY));
    MakeFolder(L"placeholder");
    MakeFile(L"placeholder\\kvcsp.cat");
    PretendReparsePoint dedup(L"kvcsp.dll", IO_REPARSE_TAG_DEDUP);
    PretendReparsePoint cloud(L"placeholder", IO_REPARSE_TAG_CLOUD);
    ConsoleCapture capture;
    EXPECT_EQ(0u, RecurseWipeTree(top_.c_str())) << capture.out();
    EXPECT_TRUE(DirectoryNames(dir_).empty());
}

TEST_F(DirectoryWipe, GivenPathThatIsALinkIsRemovedWithoutMovingOrEnteringIt) {
    MakeFile(L"elsewhere.dll", "not ours");
    PretendReparsePoint link(L"Kor Vane");
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanDirectory(top_.c_str(), 1, 0));
    std::string out = WithoutLineNumbers(capture.out());
    EXPECT_EQ(0u, out.find(ReportText("Can not remove link: " + Utf8(top_), ERROR_DIR_NOT_EMPTY))) << out;
    EXPECT_EQ(std::string::npos, out.find("Rename:"));
    EXPECT_EQ(std::string::npos, out.find("Searching"));
    EXPECT_EQ("not ours", ReadFileBytes(top_ + L"\\elsewhere.dll").value_or(""));
}

}  // namespace
