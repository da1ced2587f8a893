// The recorder writes a key tree as Windows' own reg.exe exports it, and reads
// each value once.
#include <gtest/gtest.h>

#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/key_record.h"

namespace {

const wchar_t kExportKey[] = L"SOFTWARE\\KvUndoExport";
const wchar_t kCountedKey[] = L"SOFTWARE\\KvUndoCounted";

std::string Terminated(const std::wstring& text) { return Utf16Bytes(text) + std::string(2, '\0'); }

std::string TextBytes(const RegText& text) {
    return std::string(reinterpret_cast<const char*>(RegTextUnits(text)), text.length * sizeof(wchar_t));
}

// Counts the calls of one table entry while it lives.
template <auto Slot>
ScopedHook<Slot> Counting(int* calls) {
    return ScopedHook<Slot>([calls, real = ScopedHook<Slot>::Current()](auto... args) {
        ++*calls;
        return real(args...);
    });
}

class KeyRecord : public ::testing::Test {
protected:
    void TearDown() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kExportKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kCountedKey);
    }
};

// Header, key lines, escaping, every value form and the folding of hex lines
// at each column, compared with what reg.exe exports from the same key. Only
// values that regedit writes in a form that comes back exactly are planted.
TEST_F(KeyRecord, TreeTextIsWhatRegExportWrites) {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring key = kExportKey;
    for (size_t length = 1; length <= 85; ++length) {
        std::string data(30 + length % 7, '\0');
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 + length);
        ASSERT_TRUE(PlantValue(root, key, std::wstring(length, L'a' + length % 26), REG_BINARY, data, 0));
    }
    ASSERT_TRUE(PlantValue(root, key, L"", REG_SZ, Terminated(L"default"), 0));
    ASSERT_TRUE(PlantValue(root, key, L"sz \"quoted\" \\back\\", REG_SZ, Terminated(L"C:\\x \"y\" ;z"), 0));
    ASSERT_TRUE(PlantValue(root, key, L"dword", REG_DWORD, std::string("\x0f\x00\xa0\xfe", 4), 0));
    ASSERT_TRUE(PlantValue(root, key, L"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8), 0));
    ASSERT_TRUE(PlantValue(root, key, L"expand", REG_EXPAND_SZ, Terminated(L"%SystemRoot%\\system32\\kv.dll"), 0));
    ASSERT_TRUE(PlantValue(root, key, L"multi", REG_MULTI_SZ,
                           Terminated(std::wstring(L"first entry\0second entry\0third entry\0", 38)), 0));
    ASSERT_TRUE(PlantValue(root, key, L"none", REG_NONE, std::string("\x00\x01", 2), 0));
    ASSERT_TRUE(PlantValue(root, key, L"empty", REG_BINARY, "", 0));
    ASSERT_TRUE(PlantValue(root, key, L"type 12345", 0x12345, std::string(40, 'x'), 0));
    ASSERT_TRUE(PlantValue(root, key + L"\\sub key", L"v", REG_SZ, Terminated(L"below"), 0));
    ASSERT_TRUE(CreateKey(root, key + L"\\sub key\\empty"));
    ASSERT_TRUE(CreateKey(root, key + L"\\z"));

    std::wstring exported = MakeScratchDirectory(L"export") + L"\\export.reg";
    ASSERT_EQ(RunRegExe(L"export HKEY_LOCAL_MACHINE\\SOFTWARE\\KvUndoExport \"" + exported + L"\" /y"), 0u);

    RegText text;
    ASSERT_TRUE(StartRegText(&text, 256, nullptr, nullptr));
    AppendRegFileHeader(&text);
    EXPECT_EQ(RecordKeyTree(&text, root, kExportKey, 0), 0u);
    // reg.exe ends its file with one more line break.
    EXPECT_EQ(TextBytes(text) + Utf16Bytes(L"\r\n"), ReadFileBytes(exported).value_or(""));
}

// A tree, per key: one open, one enumeration per value whose data fits the
// first block plus one that ends the list, one more for a larger value, one
// enumeration per subkey and the one that ends it, one close; below the
// starting key one query for the link value. An open key alone: its values'
// enumerations and nothing else.
TEST_F(KeyRecord, EachValueIsReadOnce) {
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kCountedKey, L"v" + std::to_wstring(i), REG_DWORD, "abcd", 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kCountedKey, L"large", REG_BINARY, std::string(10000, 'x'), 0));
    const std::wstring child = std::wstring(kCountedKey) + L"\\child";
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, child, L"a", REG_SZ, Terminated(L"1"), 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, child, L"b", REG_SZ, Terminated(L"2"), 0));

    int opens = 0, valueEnumerations = 0, queries = 0, keyEnumerations = 0, closes = 0;
    auto countOpens = Counting<&Win32Api::RegOpenKeyExW>(&opens);
    auto countValues = Counting<&Win32Api::RegEnumValueW>(&valueEnumerations);
    auto countQueries = Counting<&Win32Api::RegQueryValueExW>(&queries);
    auto countKeys = Counting<&Win32Api::RegEnumKeyExW>(&keyEnumerations);
    auto countCloses = Counting<&Win32Api::RegCloseKey>(&closes);

    RegText text;
    ASSERT_TRUE(StartRegText(&text, 256, nullptr, nullptr));
    EXPECT_EQ(RecordKeyTree(&text, HKEY_LOCAL_MACHINE, kCountedKey, 0), 0u);
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(valueEnumerations, (11 + 1 + 1) + (2 + 1));
    EXPECT_EQ(queries, 1);
    EXPECT_EQ(keyEnumerations, 2 + 1);
    EXPECT_EQ(closes, 2);

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCountedKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    opens = valueEnumerations = queries = keyEnumerations = closes = 0;
    RegText alone;
    ASSERT_TRUE(StartRegText(&alone, 256, nullptr, nullptr));
    EXPECT_EQ(RecordOpenKey(&alone, HKEY_LOCAL_MACHINE, kCountedKey, key), 0u);
    ::RegCloseKey(key);
    EXPECT_EQ(opens + queries + keyEnumerations + closes, 0);
    EXPECT_EQ(valueEnumerations, 11 + 1 + 1);
    std::string tree = TextBytes(text), open = TextBytes(alone);
    EXPECT_EQ(tree.substr(0, open.size()), open);
    EXPECT_EQ(tree.substr(open.size(), 10), Utf16Bytes(L"\r\n[HK"));
}

}  // namespace
