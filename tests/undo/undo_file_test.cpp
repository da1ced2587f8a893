// The undo file itself: where it goes, who may read it, its names, its failures.
#include <gtest/gtest.h>


#include <vector>

#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/undo_file.h"

namespace {

const wchar_t kSmallKey[] = L"SOFTWARE\\KvUndoSmall";
const wchar_t kSystem[] = L"S-1-5-18";
const wchar_t kAdministrators[] = L"S-1-5-32-544";

struct Grant {
    std::wstring sid;
    DWORD mask;
    BYTE flags;
    bool operator==(const Grant& other) const {
        return sid == other.sid && mask == other.mask && flags == other.flags;
    }
};

struct Dacl {
    bool isProtected = false;
    std::vector<Grant> grants;  // access-allowed entries; any other kind shows as sid "other"
};

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

Dacl ReadDacl(PSECURITY_DESCRIPTOR descriptor) {
    Dacl dacl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (!descriptor || !::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list)
        return dacl;
    dacl.isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(list, i, &ace)) continue;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            dacl.grants.push_back({L"other", 0, header->AceFlags});
            continue;
        }
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        dacl.grants.push_back({SidText(&allowed->SidStart), allowed->Mask, header->AceFlags});
    }
    return dacl;
}

// The owner and the DACL that Windows reports for a file or folder.
std::wstring OwnerOf(const std::wstring& path, Dacl* dacl) {
    DWORD size = 0;
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    if (!::GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size)) return L"?";
    *dacl = ReadDacl(descriptor.data());
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted);
    return SidText(owner);
}

class UndoFile : public ::testing::Test {
protected:
    void SetUp() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
            ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kSmallKey, L"name", L"data", view));
    }
    void TearDown() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) DeleteTree(HKEY_LOCAL_MACHINE, kSmallKey, view);
    }
};

// The program hands Windows a protected list of two grants for each folder it
// creates (passed on to what is created in them) and for the file; what
// Windows then reports grants no one else. (Wine derives the reported list
// from the owner's unix permissions, so there the owner shows too.)
TEST_F(UndoFile, FolderAndFileGrantAdministratorsAndSystemOnly) {
    std::vector<std::pair<std::wstring, Dacl>> handedOver;
    ScopedHook<&Win32Api::CreateDirectoryW> folders(
        [&, real = ScopedHook<&Win32Api::CreateDirectoryW>::Current()](LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
            handedOver.push_back({path, ReadDacl(security ? security->lpSecurityDescriptor : nullptr)});
            return real(path, security);
        });
    ScopedHook<&Win32Api::CreateFileW> files(
        [&, real = ScopedHook<&Win32Api::CreateFileW>::Current()](LPCWSTR path, DWORD access, DWORD share,
                                                                  LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                                                  DWORD attributes, HANDLE from) {
            handedOver.push_back({path, ReadDacl(security ? security->lpSecurityDescriptor : nullptr)});
            return real(path, access, share, security, disposition, attributes, from);
        });
    ConsoleCapture capture;
    UndoBeginPass(0);
    ASSERT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
    ASSERT_EQ(UndoEndPass(), 0u);

    const BYTE inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const std::vector<Grant> folderGrants = {{kSystem, FILE_ALL_ACCESS, inherited},
                                             {kAdministrators, FILE_ALL_ACCESS, inherited}};
    const std::vector<Grant> fileGrants = {{kSystem, FILE_ALL_ACCESS, 0}, {kAdministrators, FILE_ALL_ACCESS, 0}};
    std::vector<std::wstring> paths = {KvcleanDataFolder(), UndoFolder(), UndoFilePath()};
    ASSERT_EQ(handedOver.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(handedOver[i].first, paths[i]);
        EXPECT_TRUE(handedOver[i].second.isProtected) << Utf8(paths[i]);
        EXPECT_TRUE(handedOver[i].second.grants == (i < 2 ? folderGrants : fileGrants)) << Utf8(paths[i]);
    }

    for (const std::wstring& path : paths) {
        Dacl reported;
        std::wstring owner = OwnerOf(path, &reported);
        EXPECT_FALSE(reported.grants.empty()) << Utf8(path);
        for (const Grant& grant : reported.grants)
            EXPECT_TRUE(grant.sid == kSystem || grant.sid == kAdministrators || grant.sid == owner)
                << Utf8(path) << " grants " << Utf8(grant.sid);
    }
}

// A file that cannot be created, and later a write that fails: each is one
// report, returned by the record that met it; the rest of that pass records
// nothing and says nothing.
TEST_F(UndoFile, AFailureIsReportedOnceAndEndsThePassRecords) {
    const std::string oldBytes = "old", newBytes = "new";
    ConsoleCapture capture;
    {
        auto refused = FailAlways<&Win32Api::CreateFileW>(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        UndoBeginPass(0);
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), static_cast<u32>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(CountReports(capture.out()), 1);
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
        EXPECT_EQ(UndoRecordRewrite(HKEY_LOCAL_MACHINE, kSmallKey, L"name", REG_BINARY, oldBytes.data(), 3,
                                    newBytes.data(), 3),
                  0u);
        EXPECT_EQ(UndoEndPass(), 0u);
        EXPECT_EQ(CountReports(capture.out()), 1);
        EXPECT_EQ(capture.out().find("Undo file:"), std::string::npos);
    }
    capture.clear();
    {
        // The file's header and the first record are the first two writes.
        auto diskFull = FailNthCall<&Win32Api::WriteFile>(3, FALSE, ERROR_DISK_FULL);
        UndoBeginPass(0);
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), static_cast<u32>(ERROR_DISK_FULL));
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
        EXPECT_EQ(UndoEndPass(), 0u);
        EXPECT_EQ(CountReports(capture.out()), 1);
        EXPECT_EQ(capture.out().find("Undo file: " + Utf8(UndoFilePath()) + "\n"), 0u) << capture.out();
    }
}

// Files of one run (or of runs in the same second) share the date and time;
// a name already taken moves the new file to the next free one.
TEST_F(UndoFile, FilesOfOneSecondGetDistinctNamesAndNoneIsOverwritten) {
    ScopedHook<&Win32Api::GetLocalTime> clock([](LPSYSTEMTIME time) { *time = {2026, 12, 2, 8, 9, 30, 15, 250}; });
    UndoBeginRun();
    ASSERT_TRUE(MakeDirs(UndoFolder()));
    const std::wstring earlier = UndoFolder() + L"\\kvclean-20261208-093015-64.reg";
    ASSERT_TRUE(WriteFileBytes(earlier, "an earlier run"));

    ConsoleCapture capture;
    std::vector<std::wstring> made;
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_64KEY), REGSAM(0)}) {
        UndoBeginPass(view);
        EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
        EXPECT_EQ(UndoEndPass(), 0u);
        made.push_back(UndoFilePath());
    }
    const std::vector<std::wstring> expected = {UndoFolder() + L"\\kvclean-20261208-093015-2-64.reg",
                                                UndoFolder() + L"\\kvclean-20261208-093015-3-64.reg",
                                                UndoFolder() + L"\\kvclean-20261208-093015-32.reg"};
    EXPECT_TRUE(made == expected);
    EXPECT_EQ(capture.out(), "Undo file: " + Utf8(expected[0]) + "\nUndo file: " + Utf8(expected[1]) +
                                 "\nUndo file: " + Utf8(expected[2]) + "\n");
    EXPECT_EQ(ReadFileBytes(earlier).value_or(""), "an earlier run");
}

// No pass, or a pass with nothing to record: no folder, no file, no line.
TEST_F(UndoFile, NothingToRecordCreatesNothing) {
    ConsoleCapture capture;
    EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
    UndoBeginPass(0);
    EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvUndoMissing"), 0u);
    EXPECT_EQ(UndoEndPass(), 0u);
    EXPECT_EQ(UndoRecordKeyTree(HKEY_LOCAL_MACHINE, kSmallKey), 0u);
    EXPECT_EQ(std::wstring(UndoFilePath()), L"");
    EXPECT_FALSE(PathExists(KvcleanDataFolder()));
    EXPECT_EQ(capture.out(), "");
}

}  // namespace
