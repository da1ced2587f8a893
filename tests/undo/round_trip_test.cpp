// What a pass records comes back through Windows' own `reg import`, value by
// value and byte for byte, in each registry view.
#include <gtest/gtest.h>

#include "registry/key_wipe.h"
#include "run/process_state.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/undo_file.h"

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\KvUndoRoundTrip";
const wchar_t kLinkTarget[] = L"SOFTWARE\\KvUndoLinkTarget";
const wchar_t kUnwritableName[] = L"line\nbreak";

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

std::string Terminated(const std::wstring& text) { return Utf16Bytes(text) + std::string(2, '\0'); }

std::string Pattern(size_t size, int step) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * step + 3) & 0xFF);
    return bytes;
}

struct PlantedValue {
    const wchar_t* key;  // below the test key
    std::wstring name;
    DWORD type;
    std::string bytes;
};

std::vector<PlantedValue> EveryShape() {
    return {
        {L"", L"sz", REG_SZ, Terminated(L"plain text ;#= [x] @")},
        {L"", L"sz escapes", REG_SZ, Terminated(L"C:\\dir\\ \"quoted\" \\\\")},
        {L"", L"sz unterminated", REG_SZ, Utf16Bytes(L"abc")},
        {L"", L"sz odd-sized", REG_SZ, Terminated(L"ab") + "A"},
        {L"", L"sz embedded NULs", REG_SZ, Terminated(std::wstring(L"a\0b", 3))},
        {L"", L"sz line breaks", REG_SZ, Terminated(L"one\r\ntwo\n")},
        {L"", L"sz line break last", REG_SZ, Terminated(L"last\n")},
        {L"", L"sz carriage return last", REG_SZ, Terminated(L"last\r")},
        {L"", L"sz empty", REG_SZ, ""},
        {L"", L"sz only NUL", REG_SZ, Terminated(L"")},
        {L"", L"expand", REG_EXPAND_SZ, Terminated(L"%SystemRoot%\\kv")},
        {L"", L"multi", REG_MULTI_SZ, Terminated(std::wstring(L"one\0two\0", 8))},
        {L"", L"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
        {L"", L"dword 3 bytes", REG_DWORD, Bytes({1, 2, 3})},
        {L"", L"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 0x88})},
        {L"", L"big endian", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78})},
        {L"", L"binary", REG_BINARY, Pattern(100, 1)},
        {L"", L"binary empty", REG_BINARY, ""},
        {L"", L"none", REG_NONE, Bytes({0, 1, 2, 0xFF, 0})},
        {L"", L"none empty", REG_NONE, ""},
        {L"", L"link-typed data", REG_LINK, Utf16Bytes(L"\\Registry\\Machine\\Software")},
        {L"", L"other type", 0x12345, Bytes({9, 8, 7})},
        {L"", L"", REG_SZ, Terminated(L"default value")},
        {L"", L"quote\"back\\slash\\\"", REG_SZ, Terminated(L"x")},
        {L"", L"  ;[x]=@ \\", REG_DWORD, Bytes({1, 0, 0, 0})},
        {L"", std::wstring(16383, L'n'), REG_DWORD, Bytes({2, 0, 0, 0})},
        {L"", L"mebibyte", REG_BINARY, Pattern(1 << 20, 7)},
        {L"", kUnwritableName, REG_SZ, Terminated(L"lost")},
        {L"nested", L"", REG_SZ, Terminated(L"level 1")},
        {L"nested\\level 2", L"two", REG_MULTI_SZ, Terminated(std::wstring(L"a\0", 2))},
        {L"nested\\level 2\\level 3", L"three", REG_BINARY, Pattern(30, 5)},
        {L"odd ] [name] \"q\" ;", L"v", REG_DWORD, Bytes({3, 0, 0, 0})},
    };
}

class UndoRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { UndoEndPass(); }
    void TearDown() override {
        UndoEndPass();
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
            DeleteTree(HKEY_LOCAL_MACHINE, kTestKey, view);
            DeleteTree(HKEY_LOCAL_MACHINE, kLinkTarget, view);
        }
    }

    // Plants every shape under the test key, removes the tree in a pass of the
    // view, which records it, and imports the file with reg.exe.
    void RoundTrip(REGSAM view, const wchar_t* viewSwitch) {
        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey, view);
        for (const PlantedValue& value : EveryShape()) {
            std::wstring key = std::wstring(kTestKey) + (*value.key ? L"\\" : L"") + value.key;
            ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, key, value.name, value.type, value.bytes, view))
                << Utf8(value.name.substr(0, 40));
        }
        ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kTestKey) + L"\\empty", view));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kLinkTarget, L"target value", L"not recorded", view));
        ASSERT_TRUE(PlantLink(HKEY_LOCAL_MACHINE, std::wstring(kTestKey) + L"\\link",
                              L"\\Registry\\Machine\\Software\\KvUndoLinkTarget", view));
        TreeModel planted = ReadTree(HKEY_LOCAL_MACHINE, kTestKey, view);

        ConsoleCapture capture;
        UndoBeginPass(view);
        g_registryView = view;
        u32 removal = CleanRegKey(HKEY_LOCAL_MACHINE, kTestKey, 1, 0);
        g_registryView = 0;
        // The one value whose name no .reg line can carry is the one failure:
        // the pass's, not the removal's.
        EXPECT_EQ(removal, 0u);
        EXPECT_EQ(UndoEndPass(), static_cast<u32>(ERROR_INVALID_NAME));
        std::wstring file = UndoFilePath();
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(CountReports(capture.out()), 1) << capture.out();

        std::string text = ReadFileBytes(file).value_or("");
        std::wstring wide(reinterpret_cast<const wchar_t*>(text.data()), text.size() / sizeof(wchar_t));
        EXPECT_NE(wide.find(L"\r\n; Value not recorded, its name cannot be written in a .reg file: line\\nbreak\r\n"),
                  std::wstring::npos);
        EXPECT_NE(wide.find(L"\r\n; Registry link, not recorded (its own key is removed, never followed): "
                            L"HKEY_LOCAL_MACHINE\\SOFTWARE\\KvUndoRoundTrip\\link -> "
                            L"\\Registry\\Machine\\Software\\KvUndoLinkTarget\r\n"),
                  std::wstring::npos);
        EXPECT_EQ(wide.find(L"\"target value\""), std::wstring::npos) << "the link was followed";

        // The header names the command that puts the file back, in its own view;
        // the file is imported with that command.
        const std::wstring commandLine = L"\r\n;   reg import ";
        size_t command = wide.find(commandLine);
        ASSERT_NE(command, std::wstring::npos);
        command += commandLine.size();
        std::wstring arguments = wide.substr(command, wide.find(L"\r\n", command) - command);
        EXPECT_EQ(Utf8(arguments), Utf8(L"\"" + file + L"\" " + viewSwitch));

        DeleteTree(HKEY_LOCAL_MACHINE, kTestKey, view);
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestKey, view));
        ASSERT_EQ(RunRegExe(L"import " + arguments), 0u);

        // What comes back: everything but the link and the unwritable name;
        // the unterminated string ends in the NUL both importers add.
        TreeModel expected = planted;
        expected.erase(L"link");
        expected[L""].values.erase(kUnwritableName);
        expected[L""].values[L"sz unterminated"].bytes += std::string(2, '\0');
        TreeModel restored = ReadTree(HKEY_LOCAL_MACHINE, kTestKey, view);
        EXPECT_EQ(DescribeDifferences(expected, restored), "");
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kLinkTarget, L"target value", view));
    }
};

TEST_F(UndoRoundTrip, EveryShapeComesBackInThe64BitView) { RoundTrip(KEY_WOW64_64KEY, L"/reg:64"); }

TEST_F(UndoRoundTrip, EveryShapeComesBackInThe32BitView) { RoundTrip(0, L"/reg:32"); }

class UndoRoundTripOn32BitMachine : public UndoRoundTrip {};

TEST_F(UndoRoundTripOn32BitMachine, EveryShapeComesBack) { RoundTrip(0, L"/reg:32"); }

// A removed value and rewritten ones come back with their old bytes, also
// when the new bytes are as many as the old; a rewrite that keeps the bytes
// records nothing.
TEST_F(UndoRoundTrip, RemovedAndRewrittenValuesComeBack) {
    const std::string oldList = Terminated(std::wstring(L"kvtls\0schannel\0", 15));
    const std::string newList = Terminated(std::wstring(L"schannel\0", 9));
    const std::string oldProvider = Terminated(std::wstring(L"provider.dll\0", 13));
    const std::string newProvider = Terminated(std::wstring(L"cryptnet.dll\0", 13));
    ASSERT_EQ(oldProvider.size(), newProvider.size());
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kTestKey, L"removed", REG_EXPAND_SZ, Terminated(L"%x%"), 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kTestKey, L"list", REG_MULTI_SZ, newList, 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kTestKey, L"Dll", REG_MULTI_SZ, newProvider, 0));

    ConsoleCapture capture;
    UndoBeginPass(0);
    EXPECT_EQ(UndoRecordRewrite(HKEY_LOCAL_MACHINE, kTestKey, L"list", REG_MULTI_SZ, newList.data(),
                                static_cast<DWORD>(newList.size()), newList.data(), static_cast<DWORD>(newList.size())),
              0u);
    EXPECT_EQ(std::wstring(UndoFilePath()), L"");
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(UndoRecordValue(HKEY_LOCAL_MACHINE, kTestKey, key, L"removed"), 0u);
    ::RegDeleteValueW(key, L"removed");
    ::RegCloseKey(key);
    EXPECT_EQ(UndoRecordRewrite(HKEY_LOCAL_MACHINE, kTestKey, L"list", REG_MULTI_SZ, oldList.data(),
                                static_cast<DWORD>(oldList.size()), newList.data(), static_cast<DWORD>(newList.size())),
              0u);
    EXPECT_EQ(UndoRecordRewrite(HKEY_LOCAL_MACHINE, kTestKey, L"Dll", REG_MULTI_SZ, oldProvider.data(),
                                static_cast<DWORD>(oldProvider.size()), newProvider.data(),
                                static_cast<DWORD>(newProvider.size())),
              0u);
    EXPECT_EQ(UndoEndPass(), 0u);

    ASSERT_EQ(RunRegExe(L"import \"" + std::wstring(UndoFilePath()) + L"\" /reg:32"), 0u);
    DWORD type = 0;
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"removed", &type).value_or(""), Terminated(L"%x%"));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"list").value_or(""), oldList);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kTestKey, L"Dll").value_or(""), oldProvider);
}

}  // namespace
