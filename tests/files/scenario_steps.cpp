// Steps of the scenario tests (reboot.test.sh, links.test.sh): disabled in
// ordinary runs, each run by its script at the right moment.
#include <gtest/gtest.h>

#include "files/directory_wipe.h"
#include "files/file_delete.h"
#include "run/error_report.h"
#include "tests/files/file_checks.h"

namespace {

const std::wstring kRebootRoot = L"C:\\kvreboot";
const std::wstring kHeldModule = kRebootRoot + L"\\held\\kvcsp.dll";
const std::wstring kHolderReady = kRebootRoot + L"\\holder.ready";
const std::wstring kHolderRelease = kRebootRoot + L"\\holder.release";
const std::wstring kTree = kRebootRoot + L"\\tree\\Kor Vane";

// --- Reboot ------------------------------------------------------------------

// Another process: keeps a module loaded until the script lets it go.
TEST(RebootScenario, DISABLED_HoldModuleUntilReleased) {
    ASSERT_TRUE(MakeDirs(kRebootRoot + L"\\held"));
    HMODULE module = LoadCopyOfSystemLibrary(kHeldModule);
    ASSERT_NE(nullptr, module);
    ASSERT_TRUE(WriteFileBytes(kHolderReady, "ready"));
    for (int waited = 0; waited < 1200 && !PathExists(kHolderRelease); ++waited) ::Sleep(100);
    EXPECT_TRUE(PathExists(kHolderRelease));
    ::FreeLibrary(module);
}

TEST(RebootScenario, DISABLED_InUseItemsAreMovedAsideAndScheduled) {
    ASSERT_TRUE(PathExists(kHeldModule));
    std::wstring heldDir = kRebootRoot + L"\\held";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanFile(kHeldModule.c_str(), 1, 0));
        EXPECT_EQ("File: " + Utf8(kHeldModule) + " couldn't be deleted.\nFile: " + Utf8(kHeldModule) +
                      " success mark delete at reboot.\n",
                  capture.out());
    }
    EXPECT_FALSE(PathExists(kHeldModule));
    std::vector<std::wstring> moved = TempNamesIn(heldDir);
    ASSERT_EQ(1u, moved.size());
    EXPECT_TRUE(IsScheduled(heldDir + L"\\" + moved[0]));

    // A tree with a module of its own in use: its folders wait for the reboot.
    ASSERT_TRUE(MakeDirs(kTree + L"\\bin"));
    ASSERT_TRUE(WriteFileBytes(kTree + L"\\readme.txt", "read me"));
    HMODULE module = LoadCopyOfSystemLibrary(kTree + L"\\bin\\kvcsp.dll");
    ASSERT_NE(nullptr, module);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanDirectory(kTree.c_str(), 1, 0));
    ::FreeLibrary(module);
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(2u, temps.size()) << capture.out();
    EXPECT_NE(std::string::npos, capture.out().find("Marked to delete on reboot dir: " + Utf8(temps[1]) + "\n"));
    EXPECT_NE(std::string::npos, capture.out().find("Marked to delete on reboot dir: " + Utf8(temps[0]) + "\n"));
    EXPECT_FALSE(PathExists(kTree));
    std::vector<std::wstring> inBin = TempNamesIn(temps[1]);
    ASSERT_EQ(1u, inBin.size());
    int modulePosition = ScheduledPosition(temps[1] + L"\\" + inBin[0]);
    EXPECT_GE(modulePosition, 0);
    EXPECT_GT(ScheduledPosition(temps[1]), modulePosition);
    EXPECT_GT(ScheduledPosition(temps[0]), ScheduledPosition(temps[1]));
}

TEST(RebootScenario, DISABLED_AfterRestartNothingIsLeft) {
    EXPECT_TRUE(DirectoryNames(kRebootRoot + L"\\held").empty());
    EXPECT_TRUE(DirectoryNames(kRebootRoot + L"\\tree").empty());
    EXPECT_TRUE(ScheduledDeletions().empty());
}

// --- Links -------------------------------------------------------------------
// links.test.sh plants unix symbolic links, which Wine shows as directories
// with the reparse-point attribute and no reparse tag, or, to a file, as that
// file; Wine cannot remove them through Windows calls, so the wipe reports
// them and goes on.

const std::wstring kLinkRoot = L"C:\\kvlinks";
const std::wstring kDecoy = kLinkRoot + L"\\decoy";

void ExpectDecoyIntact() {
    EXPECT_EQ("keep", ReadFileBytes(kDecoy + L"\\keep.dll").value_or(""));
    EXPECT_EQ("keep too", ReadFileBytes(kDecoy + L"\\nested\\keep2.dll").value_or(""));
    EXPECT_EQ("important", ReadFileBytes(kLinkRoot + L"\\victim\\important.ini").value_or(""));
    EXPECT_EQ("victim", ReadFileBytes(kLinkRoot + L"\\victim.dll").value_or(""));
    EXPECT_TRUE(PathExists(kLinkRoot + L"\\emptydecoy"));
}

TEST(LinkScenario, DISABLED_WipeRemovesNothingBehindALink) {
    std::wstring top = kLinkRoot + L"\\Kor Vane";
    WIN32_FIND_DATAW data;
    HANDLE probe = ::FindFirstFileW((top + L"\\sub\\decoylink").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, probe);
    ::FindClose(probe);
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), data.dwFileAttributes);

    ConsoleCapture capture;
    EXPECT_NE(0u, CleanDirectory(top.c_str(), 1, 0));
    std::vector<std::wstring> temps = RenameTargets(capture.out());
    ASSERT_EQ(2u, temps.size()) << capture.out();
    const std::wstring &moved = temps[0], &sub = temps[1];
    std::string out = WithoutLineNumbers(capture.out());
    std::string expected =
        "Rename: " + Utf8(top) + " into " + Utf8(moved) + " success.\nSearching " + Utf8(moved) + "\\*\n" +
        ReportText("Can not remove link: " + Utf8(moved) + "\\cfg.ini", ERROR_NOT_SUPPORTED) +
        ReportText("Can not remove link: " + Utf8(moved) + "\\emptylink", ERROR_NOT_SUPPORTED) +
        "Deleted file: " + Utf8(moved) + "\\own.dll\nRecurseWipeTree: " + Utf8(moved) + "\\sub\nRename: " +
        Utf8(moved) + "\\sub into " + Utf8(sub) + " success.\nSearching " + Utf8(sub) + "\\*\nAn error occurred in "
        "running the program.\ninstall:#:Can not remove link: " + Utf8(sub) + "\\decoylink\n";
    EXPECT_EQ(0u, out.find(expected)) << out;
    // The link stays, so its folders take their own names back.
    std::string rest = "Deleted file: " + Utf8(sub) + "\\x.dll\nRename back: " + Utf8(sub) + " into " + Utf8(moved) +
                       "\\sub success.\nRename back: " + Utf8(moved) + " into " + Utf8(top) +
                       " success.\nAn error occurred in running the program.\ninstall:#:RecurseWipeTree failed: " +
                       Utf8(top) + "\n";
    EXPECT_NE(std::string::npos, out.find(rest)) << out;
    EXPECT_EQ(std::string::npos, out.find("decoylink\\")) << out;
    EXPECT_EQ(std::vector<std::wstring>{L"decoylink"}, DirectoryNames(top + L"\\sub"));
    ExpectDecoyIntact();

    // A given path that is itself a link is neither moved aside nor entered.
    ConsoleCapture direct;
    EXPECT_NE(0u, RecurseWipeTree((kLinkRoot + L"\\toplink").c_str()));
    EXPECT_EQ(0u, WithoutLineNumbers(direct.out())
                      .find("An error occurred in running the program.\ninstall:#:Can not remove link: " +
                            Utf8(kLinkRoot) + "\\toplink\n"))
        << direct.out();
    EXPECT_EQ(std::string::npos, direct.out().find("Rename:"));
    EXPECT_TRUE(PathExists(kLinkRoot + L"\\toplink"));
    // A module of the system folder that is a link to a file.
    EXPECT_NE(0u, CleanFile((kLinkRoot + L"\\kvssl.dll").c_str(), 1, 0));
    ExpectDecoyIntact();
}

TEST(LinkScenario, DISABLED_AfterRestartTheDecoyIsStillWhole) { ExpectDecoyIntact(); }

}  // namespace
