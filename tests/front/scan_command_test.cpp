// kvscan's run in the test's process, with the program's own steps, on a
// 64-bit machine: what it counts, each item of the machine once, and its exit
// codes.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "run/error_report.h"
#include "front/install_command.h"
#include "run/run_summary.h"
#include "front/scan_command.h"
#include "plan/identifiers.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

const wchar_t kService[] = L"SYSTEM\\CurrentControlSet\\Services\\kvrmcsp";
const wchar_t kVendorKey[] = L"SOFTWARE\\Kor Vane\\OCSPAPI";
const wchar_t kFeatures[] = L"Installer\\Features\\" KV_PACKED_CSP36;
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const wchar_t kSharedDll[] = L"C:\\Windows\\system32\\kvssl.dll";
const wchar_t kLsa[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kProvider[] = L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers\\Kor-Vane GOST";
const wchar_t kOtherProvider[] = L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers\\Sorrel-QS CSP";
const wchar_t kCard[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Some card";

std::string LastLine(const std::string& out) {
    size_t end = out.size() && out.back() == '\n' ? out.size() - 1 : out.size();
    size_t start = out.rfind('\n', end ? end - 1 : 0);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

class ScanCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRunCounts();
        lsa_ = ReadValue(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages").value_or("");
        menuFolder_ = KnownFolder(CSIDL_COMMON_STARTMENU) + L"\\Programs\\Kor Vane";
        module_ = KnownFolder(CSIDL_SYSTEMX86) + L"\\kvcng.dll";
    }
    void TearDown() override {
        ResetRunCounts();
        for (const wchar_t* key : {kService, kProvider, kOtherProvider, kCard}) DeleteTree(HKEY_LOCAL_MACHINE, key);
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kor Vane", view);
        DeleteTree(HKEY_CLASSES_ROOT, kFeatures, KEY_WOW64_64KEY);
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueW(key, kSharedDll);
            ::RegCloseKey(key);
        }
        SetValue(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages", REG_MULTI_SZ, lsa_.data(), DWORD(lsa_.size()));
        RemoveFileTree(menuFolder_);
        ::DeleteFileW(module_.c_str());
    }

    u32 Scan(std::vector<std::wstring> words = {}) {
        ResetRunCounts();
        words.insert(words.begin(), L"C:\\kv\\kvscan.exe");
        std::vector<wchar_t*> argv;
        for (std::wstring& word : words) argv.push_back(&word[0]);
        argv.push_back(nullptr);
        return RunScanCommand(static_cast<int>(words.size()), argv.data(), kInstallSteps);
    }

    // Deletions waiting for the reboot count where kvclean moves things aside
    // (a temporary name in the program folder of the pass's view, or inside
    // one), while there, once; not a rename, a deletion elsewhere or of what is gone.
    void ExpectWaitingDeletions(std::vector<std::wstring> family, const std::string& count) {
        std::wstring folder = KnownFolder(CSIDL_PROGRAM_FILES), moved = folder + L"\\cspa1.tmp";
        std::wstring renamed = folder + L"\\cspc1.tmp", foreign = MakeScratchDirectory(L"waiting") + L"\\csp3.tmp";
        for (const std::wstring& file : {moved + L"\\csp2.tmp", renamed, foreign})
            ASSERT_TRUE(MakeDirs(moved) && WriteFileBytes(file, ""));
        family.insert(family.end(), {moved, moved + L"\\csp2.tmp", moved});
        std::wstring lists[2] = {L"\\??\\" + renamed + L'\0' + L"\\??\\C:\\kv.dll" + L'\0', L""};
        for (const std::wstring& path : {foreign, folder + L"\\csp4.tmp"}) lists[0] += L"\\??\\" + path + L'\0' + L'\0';
        for (const std::wstring& path : family) lists[1] += L"\\??\\" + path + L'\0' + L'\0';
        SetPendingLists(lists);
        ConsoleCapture capture;
        EXPECT_EQ(kScanWaitsForReboot, Scan());
        EXPECT_EQ("kvscan: nothing left to remove; " + count + " deletions wait for the next reboot",
                  LastLine(capture.out()));
        SetPendingLists({});
        for (const std::wstring& path : {moved, renamed, foreign}) RemoveFileTree(path);
    }
    static void SetPendingLists(const std::wstring (&lists)[2]) {
        for (int i = 0; i < 2; ++i)
            SetValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     i ? L"PendingFileRenameOperations2" : L"PendingFileRenameOperations", REG_MULTI_SZ,
                     lists[i].c_str(), DWORD(lists[i].size() + 1) * sizeof(wchar_t));
    }

    void CheckWhatCouldNotBeRead();
    void CheckEachRemovalCountedOnce();

    std::string lsa_;
    std::wstring menuFolder_, module_;
};

// Most planted items are seen more than once: SYSTEM, the LSA list and the
// Start Menu by both passes, the classes key by two rows (through HKCR and
// through HKLM\SOFTWARE\Classes), the value by two rows. The vendor key lies
// in both views, so it is two items; the system module lies in SysWOW64 only.
TEST_F(ScanCommand, CountsEachItemOfTheMachineOnceAndExitsWithOne) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kService, L"ImagePath", L"kvrmcsp.sys"));
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, kVendorKey, view));
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, kFeatures, KEY_WOW64_64KEY));
    DWORD one = 1;
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDlls, kSharedDll, REG_DWORD, &one, sizeof one, KEY_WOW64_64KEY));
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages", {L"kerberos", L"kvtls"}));
    ASSERT_TRUE(MakeDirs(menuFolder_));
    ASSERT_TRUE(WriteFileBytes(menuFolder_ + L"\\KV CSP.lnk", "link"));
    ASSERT_TRUE(WriteFileBytes(module_, "MZ kvcng"));

    ConsoleCapture capture;
    EXPECT_EQ(kScanTracesFound, Scan());
    EXPECT_EQ("kvscan: 8 items of the family found (4 registry keys, 1 values, 1 list entries, 2 files and folders)",
              LastLine(capture.out()));
    EXPECT_LE(13u, CurrentReportTally().finds) << "the passes and rows reported each item at least once more";

    // The same items named in other letters are no new items.
    std::wstring menuFolder = menuFolder_;
    for (wchar_t& unit : menuFolder) unit = static_cast<wchar_t>(towupper(unit));
    CountFoundFile(menuFolder.c_str());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\microsoft\\windows\\currentversion\\shareddlls",
                                             0, KEY_READ | KEY_WOW64_64KEY, &key));
    CountFoundValue(key, L"c:\\WINDOWS\\System32\\KVSSL.DLL");
    ::RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLsa, 0, KEY_READ, &key));
    CountFoundListEntry(key, L"SECURITY PACKAGES", L"KvTls");
    ::RegCloseKey(key);
    capture.clear();
    EXPECT_EQ(kScanTracesFound, PrintScanSummary());
    EXPECT_EQ("kvscan: 8 items of the family found (4 registry keys, 1 values, 1 list entries, 2 files and folders)",
              LastLine(capture.out()));
}

TEST_F(ScanCommand, AnyReportOtherThanAFindFailsTheCheckWithTwoEvenBesideFinds) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kService, L"ImagePath", L"kvrmcsp.sys"));
    auto noSystemFolder =
        FailNthCall<&Win32Api::SHGetFolderPathW>(1, HRESULT(E_ACCESSDENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(kScanFailed, Scan());
    EXPECT_EQ(
        "kvscan: check failed with 1 failures; 1 items of the family found (1 registry keys, 0 values, 0 list entries, "
        "0 files and folders)",
        LastLine(capture.out()));
}

TEST_F(ScanCommand, OnlyTheFamilysDeletionsWaitingForTheRebootMakeThree) {
    // The 64-bit pass sees the 64-bit system directory's own names.
    ASSERT_TRUE(WriteFileBytes(L"C:\\windows\\sysnative\\cspb1.tmp", "MZ"));
    ExpectWaitingDeletions({L"C:\\windows\\system32\\cspb1.tmp"}, "3");
    ::DeleteFileW(L"C:\\windows\\sysnative\\cspb1.tmp");
}

class ScanCommandOn32BitMachine : public ScanCommand {};

TEST_F(ScanCommandOn32BitMachine, OnlyTheFamilysDeletionsWaitingForTheRebootMakeThree) {
    ExpectWaitingDeletions({}, "2");
}

// Where the list passes could not read what they had to, the check fails, also
// with such a key as the only trace (kvclean's list passes report nothing
// more); a key below a parent that refuses reading is reached by its path, a
// provider that refuses reading is found by its name by the second search.
void ScanCommand::CheckWhatCouldNotBeRead() {
    for (const wchar_t* key : {kVendorKey, kCard, kOtherProvider}) ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, key));
    const wchar_t* const refused[] = {L"SOFTWARE\\Kor Vane", L"Sorrel-QS CSP", L"OCSPAPI", L"Some card", kSharedDlls, kLsa,
                                      L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT"};
    for (const wchar_t* name : refused) {
        auto refusal = FailWhen<&Win32Api::RegOpenKeyExW>(
            [=](HKEY, LPCWSTR opened, DWORD, REGSAM, PHKEY) { return opened && wcscmp(opened, name) == 0; },
            LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
        ResetRunCounts();
        ConsoleCapture capture;
        RunListPasses(kInstallSteps);
        EXPECT_EQ(0u, CurrentReportTally().failures) << "kvclean's list passes";
        EXPECT_EQ(name == refused[0] || name == refused[1] ? kScanTracesFound : kScanFailed, Scan()) << Utf8(name);
    }
    for (const char* function : {"NtQueryKey", "Wow64RevertWow64FsRedirection"}) {
        auto unknown = FailWhen<&Win32Api::GetProcAddress>(
            [=](HMODULE, LPCSTR name) { return HIWORD(name) && strcmp(name, function) == 0; }, FARPROC(nullptr),
            ERROR_PROC_NOT_FOUND);
        ConsoleCapture capture;
        // A 32-bit machine has no 64-bit passes to skip: there the key planted is found.
        EXPECT_EQ(function[0] == 'N' || RunsUnderWow64() ? kScanFailed : kScanTracesFound, Scan()) << function;
    }
}

// kvscan counts a key as kvclean removes it: one that a search finds below an
// earlier search's match is gone with that match; one that a key row names
// inside a later row's tree is removed on its own, before that tree.
void ScanCommand::CheckEachRemovalCountedOnce() {
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kProvider) + L"\\Sorrel-QS module"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kor Vane\\Cryptography\\CurrentVersion\\AppPath"));
    ConsoleCapture capture;
    EXPECT_EQ(kScanTracesFound, Scan());
    EXPECT_EQ("kvscan: 3 items of the family found (3 registry keys, 0 values, 0 list entries, 0 files and folders)",
              LastLine(capture.out()));
    std::wstring words[] = {L"kvclean.exe", L"-clear"};
    wchar_t* argv[] = {&words[0][0], &words[1][0], nullptr};
    RunInstallSteps(2, argv, kInstallSteps);
    EXPECT_EQ(0u, LastLine(capture.out()).find("kvclean: removed 3 registry keys, 0 values,")) << LastLine(capture.out());
    RemoveFileTree(KnownFolder(CSIDL_COMMON_APPDATA) + L"\\kvclean");
}

TEST_F(ScanCommand, WhatCouldNotBeReadFailsTheCheck) { CheckWhatCouldNotBeRead(); }
TEST_F(ScanCommand, EachRemovalCountsOnce) { CheckEachRemovalCountedOnce(); }
TEST_F(ScanCommandOn32BitMachine, WhatCouldNotBeReadFailsTheCheck) { CheckWhatCouldNotBeRead(); }
TEST_F(ScanCommandOn32BitMachine, EachRemovalCountsOnce) { CheckEachRemovalCountedOnce(); }

TEST_F(ScanCommand, ArgumentsCheckNothing) {
    for (const wchar_t* help : {L"/?", L"-h", L"help", L"\\h"}) {
        ConsoleCapture capture;
        EXPECT_EQ(kScanFailed, Scan({help}));
        EXPECT_EQ(0u, capture.out().find("Run without parameters")) << capture.out();
        EXPECT_EQ(std::string::npos, capture.out().find("Path to Start Menu"));
        EXPECT_EQ("", capture.err());
    }
    for (std::vector<std::wstring> words : {std::vector<std::wstring>{L"clean"}, {L"/?", L"-clear"}}) {
        ConsoleCapture capture;
        EXPECT_EQ(kScanFailed, Scan(words));
        EXPECT_EQ("", capture.out());
        EXPECT_EQ("kvscan: unknown argument `" + Utf8(words.back()) + "': kvscan takes none (kvscan /? shows the help)\n",
                  capture.err());
    }
}

}  // namespace
