// The undo file itself: where it goes, who may read it, its names, its failures.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/owned.h"
#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/undo_file.h"

namespace {

const wchar_t kSmallKey[] = L"SOFTWARE\\KvUndoSmall";

// The record a removal makes of the small key as it reaches it.
u32 RecordSmallKey() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSmallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return ~0u;
    u32 result = UndoRecordOpenKey(HKEY_LOCAL_MACHINE, kSmallKey, key);
    ::RegCloseKey(key);
    return result;
}

// The DACL of a descriptor in SDDL ("D:P(A;;FA;;;SY)..."); empty without one.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!descriptor || !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                           descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"";
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

// Whom the DACL that Windows reports for a file or folder grants anything:
// the trustee of each entry, with the owner's SID written as "owner".
std::vector<std::wstring> GrantedTo(const std::wstring& path) {
    DWORD size = 0;
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    LPWSTR text = nullptr;
    if (!::GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, parts, &text,
                                                                nullptr))
        return {L"unreadable"};
    std::wstring sddl = text;
    ::LocalFree(text);
    // "O:<owner>D:<flags>(A;;FA;;;<trustee>)(...)"
    std::wstring owner = sddl.substr(2, sddl.find(L"D:") - 2);
    std::vector<std::wstring> trustees;
    for (size_t open = sddl.find(L'('); open != std::wstring::npos; open = sddl.find(L'(', open + 1)) {
        size_t close = sddl.find(L')', open);
        std::wstring trustee = sddl.substr(sddl.rfind(L';', close) + 1, close - sddl.rfind(L';', close) - 1);
        trustees.push_back(trustee == owner ? L"owner" : trustee);
    }
    return trustees;
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
    std::vector<std::pair<std::wstring, std::wstring>> handedOver;
    ScopedHook<&Win32Api::CreateDirectoryW> folders(
        [&, real = ScopedHook<&Win32Api::CreateDirectoryW>::Current()](LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
            handedOver.push_back({path, DaclText(security ? security->lpSecurityDescriptor : nullptr)});
            return real(path, security);
        });
    ScopedHook<&Win32Api::CreateFileW> files(
        [&, real = ScopedHook<&Win32Api::CreateFileW>::Current()](LPCWSTR path, DWORD access, DWORD share,
                                                                  LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                                                  DWORD attributes, HANDLE from) {
            if (disposition != OPEN_EXISTING)
                handedOver.push_back({path, DaclText(security ? security->lpSecurityDescriptor : nullptr)});
            return real(path, access, share, security, disposition, attributes, from);
        });
    ConsoleCapture capture;
    UndoBeginPass(0);
    ASSERT_EQ(RecordSmallKey(), 0u);
    ASSERT_EQ(UndoEndPass(), 0u);

    // Protected, full access for SYSTEM and Administrators, the folders' entries inherited.
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {KvcleanDataFolder(), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"},
        {UndoFolder(), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"},
        {UndoFilePath(), L"D:P(A;;FA;;;SY)(A;;FA;;;BA)"}};
    EXPECT_TRUE(handedOver == expected) << Utf8(handedOver.empty() ? L"" : handedOver.back().second);
    for (const auto& created : expected) {
        std::vector<std::wstring> trustees = GrantedTo(created.first);
        EXPECT_FALSE(trustees.empty()) << Utf8(created.first);
        for (const std::wstring& trustee : trustees)
            EXPECT_TRUE(trustee == L"SY" || trustee == L"BA" || trustee == L"owner")
                << Utf8(created.first) << " grants " << Utf8(trustee);
    }
}

// A file that cannot be created, and later a write that fails: each is one
// report, returned by the record that met it and by the pass's end; the rest
// of that pass records nothing and says nothing.
TEST_F(UndoFile, AFailureIsReportedOnceAndEndsThePassRecords) {
    const std::string oldBytes = "old", newBytes = "new";
    ConsoleCapture capture;
    {
        auto refused = FailAlways<&Win32Api::CreateFileW>(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        UndoBeginPass(0);
        EXPECT_EQ(RecordSmallKey(), static_cast<u32>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(CountReports(capture.out()), 1);
        EXPECT_EQ(RecordSmallKey(), 0u);
        EXPECT_EQ(UndoRecordRewrite(HKEY_LOCAL_MACHINE, kSmallKey, L"name", REG_BINARY, oldBytes.data(), 3,
                                    newBytes.data(), 3),
                  0u);
        EXPECT_EQ(UndoEndPass(), static_cast<u32>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(CountReports(capture.out()), 1);
        EXPECT_EQ(capture.out().find("Undo file:"), std::string::npos);
    }
    capture.clear();
    {
        // The file's header and the first record are the first two writes.
        auto diskFull = FailNthCall<&Win32Api::WriteFile>(3, FALSE, ERROR_DISK_FULL);
        UndoBeginPass(0);
        EXPECT_EQ(RecordSmallKey(), 0u);
        EXPECT_EQ(RecordSmallKey(), static_cast<u32>(ERROR_DISK_FULL));
        EXPECT_EQ(RecordSmallKey(), 0u);
        EXPECT_EQ(UndoEndPass(), static_cast<u32>(ERROR_DISK_FULL));
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
        EXPECT_EQ(RecordSmallKey(), 0u);
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
    EXPECT_EQ(RecordSmallKey(), 0u);
    UndoBeginPass(0);
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSmallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(UndoRecordValue(HKEY_LOCAL_MACHINE, kSmallKey, key, L"missing"), 0u);
    ::RegCloseKey(key);
    EXPECT_EQ(UndoEndPass(), 0u);
    EXPECT_EQ(RecordSmallKey(), 0u);
    EXPECT_EQ(std::wstring(UndoFilePath()), L"");
    EXPECT_FALSE(PathExists(KvcleanDataFolder()));
    EXPECT_EQ(capture.out(), "");
}

// Folders that someone made beforehand are used once they are the
// administrators' own: each is opened as itself (a link is not followed) and
// given its owner and protected list through that handle, which is still held
// without delete sharing when the file is created. One whose list refuses
// administrators is first taken over: its owner, then its list.
TEST_F(UndoFile, FoldersMadeBeforehandAreMadeTheAdministratorsOwnBeforeUse) {
    ASSERT_TRUE(MakeDirs(UndoFolder()));
    std::vector<std::wstring> steps;
    std::map<HANDLE, std::wstring> held;
    bool refused = false;
    auto open = ScopedHook<&Win32Api::CreateFileW>::Current();
    auto set = ScopedHook<&Win32Api::SetKernelObjectSecurity>::Current();
    ScopedHook<&Win32Api::CreateFileW> files([&](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                                 DWORD disposition, DWORD flags, HANDLE from) {
        if (disposition == CREATE_NEW)  // held: no one can open the folder to remove it
            steps.push_back(OwnedFile(::CreateFileW(UndoFolder().c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr)) ? L"free" : L"held");
        if (path == UndoFolder() && (access & FILE_LIST_DIRECTORY) && !refused) {
            refused = true;
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = open(path, access, share, sa, disposition, flags, from);
        if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) && !(share & FILE_SHARE_DELETE)) held[handle] = path;
        return handle;
    });
    ScopedHook<&Win32Api::SetKernelObjectSecurity> secured([&](HANDLE handle, SECURITY_INFORMATION parts,
                                                               PSECURITY_DESCRIPTOR descriptor) {
        LPWSTR text = nullptr;
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr);
        steps.push_back(held[handle] + L" " + (text ? text : L"?"));
        ::LocalFree(text);
        return set(handle, parts, descriptor);
    });
    UndoBeginPass(0);
    ASSERT_EQ(RecordSmallKey(), 0u);
    ASSERT_EQ(UndoEndPass(), 0u);
    const std::wstring list = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", secure = L" O:BA" + list;
    EXPECT_EQ(steps, (std::vector<std::wstring>{KvcleanDataFolder() + secure, UndoFolder() + L" O:BA",
                                                UndoFolder() + L" " + list, UndoFolder() + secure, L"held"}));
}

// A folder that cannot be made the administrators' own is not used: one
// report, nothing created in it, and the pass returns the failure.
TEST_F(UndoFile, AFolderThatCannotBeMadeTheAdministratorsOwnIsNotUsed) {
    auto refused = FailAlways<&Win32Api::SetKernelObjectSecurity>(FALSE, ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    UndoBeginPass(0);
    EXPECT_EQ(RecordSmallKey(), static_cast<u32>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RecordSmallKey(), 0u);
    EXPECT_EQ(UndoEndPass(), static_cast<u32>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CountReports(capture.out()), 1);
    EXPECT_NE(capture.out().find(":Can not make the undo folder the administrators' own: " +
                                 Utf8(KvcleanDataFolder()) + "\n"),
              std::string::npos)
        << capture.out();
    EXPECT_FALSE(PathExists(UndoFolder()));
}

}  // namespace
