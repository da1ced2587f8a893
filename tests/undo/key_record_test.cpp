// A removal records the tree it takes as Windows' own reg.exe exports it, and
// the record of a key reads each value once.
#include <gtest/gtest.h>

#include "registry/key_wipe.h"
#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"
#include "tests/undo/undo_checks.h"
#include "undo/key_record.h"
#include "undo/undo_file.h"

namespace {

const wchar_t kExportKey[] = L"SOFTWARE\\KvUndoExport";
const wchar_t kCountedKey[] = L"SOFTWARE\\KvUndoCounted";

std::string Terminated(const std::wstring& text) { return Utf16Bytes(text) + std::string(2, '\0'); }

std::string TextBytes(const RegText& text) {
    return std::string(reinterpret_cast<const char*>(RegTextUnits(text)), text.length * sizeof(wchar_t));
}

// An undo file without the comment lines of its header.
std::string WithoutHeaderComments(const std::string& file) {
    const std::string lineEnd = Utf16Bytes(L"\r\n"), comment = Utf16Bytes(L"; ");
    std::string kept;
    bool inHeader = true;
    for (size_t at = 0; at < file.size();) {
        size_t end = file.find(lineEnd, at);
        end = end == std::string::npos ? file.size() : end + lineEnd.size();
        std::string line = file.substr(at, end - at);
        if (line.compare(0, comment.size(), comment) != 0) {
            if (at > 0) inHeader = false;
            kept += line;
        } else if (!inHeader) {
            kept += line;
        }
        at = end;
    }
    return kept;
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
    void SetUp() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
    }
    void TearDown() override {
        UndoEndPass();
        RemoveFileTree(KvcleanDataFolder());
        DeleteTree(HKEY_LOCAL_MACHINE, kExportKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kCountedKey);
    }
};

// Header, key lines, escaping, every value form and the folding of hex lines
// at each column: what the removal of a tree records, compared with what
// reg.exe exports from the same tree. Only values that regedit writes in a
// form that comes back exactly are planted.
TEST_F(KeyRecord, RemovedTreeIsRecordedAsRegExportWritesIt) {
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

    ConsoleCapture capture;
    UndoBeginPass(0);
    EXPECT_EQ(CleanRegKey(root, kExportKey, 1, 0), 0u);
    EXPECT_EQ(UndoEndPass(), 0u);
    ASSERT_FALSE(KeyExists(root, kExportKey));
    // reg.exe ends its file with one more line break.
    EXPECT_EQ(WithoutHeaderComments(ReadFileBytes(UndoFilePath()).value_or("")) + Utf16Bytes(L"\r\n"),
              ReadFileBytes(exported).value_or(""));
}

// An open key: its line, then its values, each read with one enumeration
// (one more for a value larger than the first block, and the one that ends
// the list); nothing is opened, queried or listed besides.
TEST_F(KeyRecord, EachValueIsReadOnce) {
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kCountedKey, L"v" + std::to_wstring(i), REG_DWORD, "abcd", 0));
    ASSERT_TRUE(PlantValue(HKEY_LOCAL_MACHINE, kCountedKey, L"large", REG_BINARY, std::string(10000, 'x'), 0));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kCountedKey) + L"\\child"));

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCountedKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    int opens = 0, valueEnumerations = 0, queries = 0, keyEnumerations = 0, closes = 0;
    RegText text;
    ASSERT_TRUE(StartRegText(&text, 256, nullptr, nullptr));
    {
        auto countOpens = Counting<&Win32Api::RegOpenKeyExW>(&opens);
        auto countValues = Counting<&Win32Api::RegEnumValueW>(&valueEnumerations);
        auto countQueries = Counting<&Win32Api::RegQueryValueExW>(&queries);
        auto countKeys = Counting<&Win32Api::RegEnumKeyExW>(&keyEnumerations);
        auto countCloses = Counting<&Win32Api::RegCloseKey>(&closes);
        EXPECT_EQ(RecordOpenKey(&text, HKEY_LOCAL_MACHINE, kCountedKey, key), 0u);
    }
    ::RegCloseKey(key);
    EXPECT_EQ(opens + queries + keyEnumerations + closes, 0);
    EXPECT_EQ(valueEnumerations, 11 + 1 + 1);
    std::string recorded = TextBytes(text);
    EXPECT_EQ(recorded.find(Utf16Bytes(L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KvUndoCounted]\r\n")), 0u);
    EXPECT_EQ(recorded.find(Utf16Bytes(L"child")), std::string::npos);
}

}  // namespace
