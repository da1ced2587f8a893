// The read-only table (kvscan's): whatever the cleanup's wipe primitives try on
// a machine that holds the family, nothing changes; each attempt is refused
// with a report. A writing entry missing from the table would let its change through.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "files/directory_wipe.h"
#include "files/file_delete.h"
#include "files/oem_inf.h"
#include "front/privileges.h"
#include "front/scan_command.h"
#include "platform/read_only.h"
#include "registry/key_wipe.h"
#include "registry/revocation.h"
#include "registry/security_packages.h"
#include "registry/search_group.h"
#include "registry/value_match.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

const wchar_t kTree[] = L"SOFTWARE\\KvReadOnly\\Kor Vane";
const wchar_t kShared[] = L"SOFTWARE\\KvReadOnly\\SharedDlls";
const wchar_t kLsa[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kRevocation[] = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";

std::string KeySecurity(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS) return "?";
    char descriptor[4096];
    DWORD bytes = sizeof descriptor;
    LONG status = ::RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &bytes);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(descriptor, bytes) : "?";
}

// Everything below a key, or below a folder, as text: names, values, contents, attributes.
void DescribeKey(HKEY root, const std::wstring& path, std::string* out) {
    *out += "key " + Utf8(path) + " " + KeySecurity(root, path) + "\n";
    for (const std::wstring& name : ValueNames(root, path)) {
        DWORD type = 0;
        std::string data = ReadValue(root, path, name, &type).value_or("?");
        *out += "  " + Utf8(name) + " " + std::to_string(type) + " " + data + "\n";
    }
    for (const std::wstring& child : SubkeyNames(root, path)) DescribeKey(root, path + L"\\" + child, out);
}

void DescribeFolder(const std::wstring& path, std::string* out) {
    *out += "path " + Utf8(path) + " " + std::to_string(::GetFileAttributesW(path.c_str())) + "\n";
    if (!(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
        *out += ReadFileBytes(path).value_or("?") + "\n";
        return;
    }
    for (const std::wstring& name : DirectoryNames(path)) DescribeFolder(path + L"\\" + name, out);
}

class ReadOnlyTable : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = win32;
        folder_ = MakeScratchDirectory(L"kvreadonly");
        inf_ = KnownFolder(CSIDL_WINDOWS) + L"\\inf\\oem97.inf";
        lsa_ = ReadValue(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages").value_or("");
        revocation_ = ReadValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll").value_or("");
    }
    void TearDown() override {
        win32 = saved_;
        DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly");
        ::SetFileAttributesW(inf_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(inf_.c_str());
        RemoveFileTree(folder_);
        SetValue(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages", REG_MULTI_SZ, lsa_.data(), DWORD(lsa_.size()));
        if (revocation_.empty())
            DeleteTree(HKEY_LOCAL_MACHINE, kRevocation);
        else
            SetValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", REG_MULTI_SZ, revocation_.data(), DWORD(revocation_.size()));
    }

    std::string Machine() {
        std::string machine;
        DescribeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly", &machine);
        machine += ReadValue(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages").value_or("?") + "\n";
        machine += ReadValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll").value_or("?") + "\n";
        DescribeFolder(folder_, &machine);
        DescribeFolder(inf_, &machine);
        for (const std::wstring& rename : PendingFileRenames()) machine += "pending " + Utf8(rename) + "\n";
        return machine;
    }

    Win32Api saved_;
    std::wstring folder_, inf_;
    std::string lsa_, revocation_;
};

TEST_F(ReadOnlyTable, EveryWipeOfTheCleanupIsRefusedAndReportedAndTheMachineStaysAsItWas) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::wstring(kTree) + L"\\Sub\\Deeper", L"Version", L"4.0"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kTree, L"", L"Kor Vane component"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\KvReadOnly\\Providers\\Kor-Vane KSP"), L"", L"x"));
    DWORD one = 1;
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kShared, L"C:\\Windows\\system32\\kvssl.dll", REG_DWORD, &one, sizeof one));
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, kLsa, L"Security Packages", {L"kerberos", L"kvtls", L"kvssl"}));
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", {L"kvocsp.dll", L"cryptnet.dll"}));
    const std::wstring tree = folder_ + L"\\Kor Vane";
    ASSERT_TRUE(MakeDirs(tree + L"\\CSP"));
    ASSERT_TRUE(WriteFileBytes(tree + L"\\CSP\\kvcsp.dll", "MZ kvcsp"));
    ASSERT_TRUE(WriteFileBytes(folder_ + L"\\kvcng.dll", "MZ kvcng"));
    ASSERT_TRUE(::SetFileAttributesW((folder_ + L"\\kvcng.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring inf = L"\xFEFF[Version]\r\nProvider=KorVane\r\n";
    ASSERT_TRUE(WriteFileBytes(inf_, std::string(reinterpret_cast<const char*>(inf.data()), inf.size() * 2)));
    ASSERT_TRUE(::SetFileAttributesW(inf_.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = Machine();

    MakeReadOnly(&win32);
    ReportRefusalsThrough(&ReportRefusedCall);
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, kTree, 1, 0));
    EXPECT_NE(0u, SearchRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly\\Providers", L"Kor-Vane", nullptr,
                                nullptr, 1, 0));
    EXPECT_NE(0u, RemoveMatchingValues(kShared, L"kvssl", 1, 0));
    EXPECT_NE(0u, TlsRegUninstall(1, 0));
    EXPECT_NE(0u, SslRegUninstall(1, 0));
    EXPECT_NE(0u, CertDllVerifyRevocationRegUninstall(1, 0));
    EXPECT_NE(0u, CleanFile((folder_ + L"\\kvcng.dll").c_str(), 1, 0));
    EXPECT_NE(0u, CleanDirectory(tree.c_str(), 1, 0));
    EXPECT_NE(0u, CleanOemInfFiles(1));
    EXPECT_EQ(0, PromptReboot());
    win32 = saved_;

    EXPECT_EQ(before, Machine());
    const std::string out = capture.out();
    for (const char* refused : {"RegSetKeySecurity", "NtDeleteKey", "RegDeleteValueW", "RegSetValueExW",
                                "SetFileAttributesW", "DeleteFileW", "GetTempFileNameW", "RemoveDirectoryW",
                                "AdjustTokenPrivileges"})
        EXPECT_NE(std::string::npos, out.find(std::string(refused) + " refused: this check changes nothing\nError number 0x5 (5)."))
            << refused;
}

// A user's hive that is not loaded is loaded to be read: the two privileges
// that takes may be switched, no other, and "disable all" is refused too.
TEST_F(ReadOnlyTable, OnlyTheBackupAndRestorePrivilegesMayBeSwitched) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    MakeReadOnly(&win32);
    ReportRefusalsThrough(&ReportRefusedCall);
    ConsoleCapture capture;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME, SE_SECURITY_NAME}) {
        TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid));
        bool hivePrivilege = wcscmp(name, SE_BACKUP_NAME) == 0 || wcscmp(name, SE_RESTORE_NAME) == 0;
        EXPECT_EQ(hivePrivilege, win32.AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) != FALSE)
            << Utf8(name);
    }
    EXPECT_FALSE(win32.AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
    win32 = saved_;
    ::CloseHandle(token);
    const std::string out = capture.out(), refused = "AdjustTokenPrivileges refused: this check changes nothing";
    size_t refusals = 0;
    for (size_t at = out.find(refused); at != std::string::npos; at = out.find(refused, at + 1)) ++refusals;
    EXPECT_EQ(3u, refusals);
}

// Every entry of the table that changes the machine, written out here rather
// than taken from the table's own list, which a dropped row would leave out.
TEST_F(ReadOnlyTable, EveryWritingEntryRefusesAndFilesOpenOnlyToBeRead) {
    Win32Api table = kRealWin32;
    MakeReadOnly(&table);
#define KV_EXPECT_REFUSER(name) EXPECT_NE(kRealWin32.name, table.name) << #name;
    KV_EXPECT_REFUSER(RegSetValueExW)
    KV_EXPECT_REFUSER(RegDeleteValueW)
    KV_EXPECT_REFUSER(RegSetKeySecurity)
    KV_EXPECT_REFUSER(SetKernelObjectSecurity)
    KV_EXPECT_REFUSER(AdjustTokenPrivileges)
    KV_EXPECT_REFUSER(SetFileAttributesW)
    KV_EXPECT_REFUSER(DeleteFileW)
    KV_EXPECT_REFUSER(RemoveDirectoryW)
    KV_EXPECT_REFUSER(GetTempFileNameW)
    KV_EXPECT_REFUSER(MoveFileExW)
    KV_EXPECT_REFUSER(CreateDirectoryW)
    KV_EXPECT_REFUSER(WriteFile)
    KV_EXPECT_REFUSER(ExitWindowsEx)
#undef KV_EXPECT_REFUSER
    win32 = table;
    ConsoleCapture capture;
    EXPECT_EQ(ERROR_ACCESS_DENIED, win32.RegDeleteValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly"));
    EXPECT_FALSE(win32.ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());

    // Every way of opening that could create, empty, change or delete a file.
    const std::wstring created = folder_ + L"\\created.txt";
    for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  win32.CreateFileW(created.c_str(), GENERIC_READ, 0, nullptr, disposition, 0, nullptr))
            << disposition;
    }
    EXPECT_FALSE(PathExists(created));
    ASSERT_TRUE(WriteFileBytes(created, "text"));
    const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (DWORD access : {DWORD(GENERIC_WRITE), DWORD(GENERIC_ALL), DWORD(MAXIMUM_ALLOWED), DWORD(DELETE),
                         DWORD(WRITE_DAC), DWORD(WRITE_OWNER), DWORD(FILE_WRITE_DATA), DWORD(FILE_APPEND_DATA),
                         DWORD(FILE_WRITE_EA), DWORD(FILE_WRITE_ATTRIBUTES), DWORD(FILE_DELETE_CHILD)}) {
        ::SetLastError(0);
        HANDLE opened =
            win32.CreateFileW(created.c_str(), GENERIC_READ | access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, opened) << std::hex << access;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError()) << std::hex << access;
        if (opened != INVALID_HANDLE_VALUE) ::CloseHandle(opened);
    }
    // Closing such a handle would delete the file.
    HANDLE deleting = win32.CreateFileW(created.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, deleting);
    if (deleting != INVALID_HANDLE_VALUE) ::CloseHandle(deleting);
    EXPECT_EQ("text", ReadFileBytes(created).value_or(""));
    HANDLE read = win32.CreateFileW(created.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, read);
    if (read != INVALID_HANDLE_VALUE) ::CloseHandle(read);

    // Functions looked up at run time: refusers, never the real ones; others as ever.
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    EXPECT_NE(::GetProcAddress(ntdll, "NtDeleteKey"), win32.GetProcAddress(ntdll, "NtDeleteKey"));
    EXPECT_EQ(::GetProcAddress(ntdll, "NtQueryKey"), win32.GetProcAddress(ntdll, "NtQueryKey"));
    RegDeleteKeyExWFn deleteKeyEx = LookUpFunction<RegDeleteKeyExWFn>(L"advapi32.dll", "RegDeleteKeyExW");
    ASSERT_NE(nullptr, deleteKeyEx);
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, deleteKeyEx(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly", 0, 0));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvReadOnly"));
    win32 = saved_;
}

}  // namespace
