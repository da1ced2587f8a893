// The removal records each key as it reaches it, after taking it over: a key
// that refuses reading until then comes back with its values, a tree deeper
// than a key name's limit comes back whole, a link is named and never followed.
#include <gtest/gtest.h>

#include <set>

#include "registry/key_wipe.h"
#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/undo_file.h"

namespace {

const wchar_t kRow[] = L"SOFTWARE\\KvUndoWipe";
const wchar_t kLinkTarget[] = L"SOFTWARE\\KvUndoWipeTarget";
const wchar_t kLockedName[] = L"Locked";

std::string Terminated(const std::wstring& text) { return Utf16Bytes(text) + std::string(2, '\0'); }

// Wine lets administrators read any key; Windows refuses them a key whose DACL
// grants them nothing but taking ownership. Here the key named kLockedName
// opens for nothing but its owner and DACL until a DACL is written to it.
class LockedUntilTakenOver {
public:
    LockedUntilTakenOver()
        : open_([this, real = ScopedHook<&Win32Api::RegOpenKeyExW>::Current()](
                    HKEY parent, LPCWSTR name, DWORD options, REGSAM access, PHKEY key) -> LONG {
              const REGSAM takeover = WRITE_OWNER | WRITE_DAC | READ_CONTROL | KEY_WOW64_64KEY | KEY_WOW64_32KEY;
              bool locked = name && wcscmp(name, kLockedName) == 0;
              if (locked && !takenOver_ && (access & ~takeover)) return ERROR_ACCESS_DENIED;
              LONG status = real(parent, name, options, access, key);
              if (locked && status == ERROR_SUCCESS) lockedHandles_.insert(*key);
              return status;
          }),
          setSecurity_([this, real = ScopedHook<&Win32Api::RegSetKeySecurity>::Current()](
                           HKEY key, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR descriptor) -> LONG {
              LONG status = real(key, parts, descriptor);
              if (status == ERROR_SUCCESS && (parts & DACL_SECURITY_INFORMATION) && lockedHandles_.count(key))
                  takenOver_ = true;
              return status;
          }) {}

private:
    bool takenOver_ = false;
    std::set<HKEY> lockedHandles_;
    ScopedHook<&Win32Api::RegOpenKeyExW> open_;
    ScopedHook<&Win32Api::RegSetKeySecurity> setSecurity_;
};

class RemovalRecord : public ::testing::Test {
protected:
    void SetUp() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
    }
    void TearDown() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
        DeleteTree(HKEY_LOCAL_MACHINE, kRow);
        DeleteTree(HKEY_LOCAL_MACHINE, kLinkTarget);
    }
};

TEST_F(RemovalRecord, EveryKeyComesBackTheLockedOneWithItsValuesTheLinkNamedOnly) {
    const std::wstring row = kRow, locked = row + L"\\" + kLockedName;
    const std::wstring deep = row + L"\\" + std::wstring(120, L'a') + L"\\" + std::wstring(120, L'b') + L"\\" +
                              std::wstring(120, L'c');
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, row, L"", REG_SZ, Terminated(L"top"), 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, locked, L"secret", REG_BINARY, "\x01\x02\x03", 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, locked, L"count", REG_DWORD, std::string("\x07\0\0\0", 4), 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, locked + L"\\Inner", L"below", REG_SZ, Terminated(L"x"), 0));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, locked + L"\\Empty"));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, deep, L"deepest", REG_SZ, Terminated(L"deep"), 0));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kLinkTarget, L"other vendor", L"stays"));
    ASSERT_TRUE(PlantLink(HKEY_LOCAL_MACHINE, row + L"\\link", L"\\Registry\\Machine\\Software\\KvUndoWipeTarget", 0));
    TreeModel planted = ReadTree(HKEY_LOCAL_MACHINE, row, 0);
    ASSERT_TRUE(planted.count(L"Locked\\Inner") && planted.count(L"link"));

    ConsoleCapture capture;
    {
        LockedUntilTakenOver lock;
        UndoBeginPass(0);
        EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, kRow, 1, 0));
        EXPECT_EQ(0u, UndoEndPass());
    }
    EXPECT_EQ(0, CountReports(capture.out())) << capture.out();
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRow));
    const std::wstring file = UndoFilePath();
    ASSERT_FALSE(file.empty());
    std::string text = ReadFileBytes(file).value_or("");
    EXPECT_NE(std::string::npos,
              text.find(Utf16Bytes(L"\r\n; Registry link, not recorded (its own key is removed, never followed): "
                                   L"HKEY_LOCAL_MACHINE\\SOFTWARE\\KvUndoWipe\\link -> "
                                   L"\\Registry\\Machine\\Software\\KvUndoWipeTarget\r\n")));

    ASSERT_EQ(0u, RunRegExe(L"import \"" + file + L"\" /reg:32"));
    planted.erase(L"link");
    EXPECT_EQ("", DescribeDifferences(planted, ReadTree(HKEY_LOCAL_MACHINE, kRow, 0)));
    EXPECT_EQ(std::vector<std::wstring>{L"other vendor"}, ValueNames(HKEY_LOCAL_MACHINE, kLinkTarget));
}

// "S-1-5-21-...": the running account, whose hive HKEY_CURRENT_USER stands for.
std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    BYTE user[256];
    DWORD bytes = sizeof user;
    wchar_t* sid = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return L"?";
    bool told = ::GetTokenInformation(token, TokenUser, user, sizeof user, &bytes) &&
                ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
    ::CloseHandle(token);
    std::wstring text = told ? sid : L"?";
    ::LocalFree(sid);
    return text;
}

// The records name the hive a key was read from, not the root the plan
// reached it by: an import puts it back there, whoever imports it.
TEST_F(RemovalRecord, KeysOfTheUserAndOfClassesAreRecordedUnderTheirOwnHives) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\KvUndoUserRow", L"u", L"1"));
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, L"KvUndoClassesRow", L"c", L"2"));
    ConsoleCapture capture;
    UndoBeginPass(0);
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, L"Software\\KvUndoUserRow", 1, 0));
    EXPECT_EQ(0u, CleanRegKey(HKEY_CLASSES_ROOT, L"KvUndoClassesRow", 1, 0));
    EXPECT_EQ(0u, UndoEndPass());
    std::string text = ReadFileBytes(UndoFilePath()).value_or("");
    EXPECT_NE(std::string::npos, text.find(Utf16Bytes(L"\r\n[HKEY_USERS\\" + CurrentUserSid() +
                                                      L"\\Software\\KvUndoUserRow]\r\n\"u\"=\"1\"")));
    EXPECT_NE(std::string::npos,
              text.find(Utf16Bytes(L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\KvUndoClassesRow]\r\n\"c\"=\"2\"")));
}

}  // namespace
