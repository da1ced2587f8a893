#include <algorithm>

#include "registry/value_match.h"
#include "tests/registry/registry_fixture.h"

namespace {

class RemoveMatchingValuesTest : public RegistryTest {
protected:
    // Printed lines in sorted order: the registry does not keep values in the order they were written.
    static std::vector<std::string> SortedLines(const std::string& text) {
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    static std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(RemoveMatchingValuesTest, RemovesOnlyValuesWhoseNamesContainTheTextCaseSensitively) {
    const std::wstring path = L"SOFTWARE\\KvTestShared";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* name : {L"C:\\Program Files\\Kor Vane\\kvcsp.dll", L"C:\\Windows\\kvcsp.sys", L"KVCSP.DLL",
                                L"C:\\Windows\\other.dll"})
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"1"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kvcsp", 1, 0));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Windows\\other.dll", L"KVCSP.DLL"}),
              Sorted(ValueNames(HKEY_LOCAL_MACHINE, path)));
    const std::string head = "Searching for ValName: SOFTWARE\\KvTestShared\\*kvcsp*\n";
    ASSERT_EQ(0u, capture.out().find(head));
    EXPECT_EQ((std::vector<std::string>{"", "ValName: SOFTWARE\\KvTestShared\\C:\\Program Files\\Kor Vane\\kvcsp.dll",
                                        "ValName: SOFTWARE\\KvTestShared\\C:\\Windows\\kvcsp.sys"}),
              SortedLines(capture.out().substr(head.size())));
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(RemoveMatchingValuesTest, EmptyTextMatchesEveryValueAndAdjacentMatchesGoInOnePass) {
    const std::wstring path = L"SOFTWARE\\KvTestAll";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* name : {L"", L"kv1", L"kv2", L"kv3", L"kv4"}) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"x"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"", 1, 0));
    EXPECT_EQ(std::vector<std::wstring>{}, ValueNames(HKEY_LOCAL_MACHINE, path));
    // The default value is listed with an empty name.
    EXPECT_NE(std::string::npos, capture.out().find("ValName: SOFTWARE\\KvTestAll\\\n")) << capture.out();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

TEST_F(RemoveMatchingValuesTest, ListModeReportsEveryMatchOnceUnderWarnAndDeletesNothing) {
    const std::wstring path = L"SOFTWARE\\KvTestWarn";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* name : {L"kvA", L"kvB", L"kvC", L"other"}) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"x"));
    ConsoleCapture capture;
    EXPECT_NE(0u, RemoveMatchingValues(path.c_str(), L"kv", 0, 1));
    EXPECT_EQ(3u, SplitReports(capture).reports.size());
    for (const std::string& report : SplitReports(capture).reports) EXPECT_EQ("Redundant data found", report);
    EXPECT_EQ(4u, ValueNames(HKEY_LOCAL_MACHINE, path).size());
}

TEST_F(RemoveMatchingValuesTest, WarnInWipeModeReportsEachMatchAndStillDeletes) {
    const std::wstring path = L"SOFTWARE\\KvTestWarnWipe";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* name : {L"kvA", L"kvB", L"other"}) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"x"));
    ConsoleCapture capture;
    EXPECT_NE(0u, RemoveMatchingValues(path.c_str(), L"kv", 1, 1));
    EXPECT_EQ((std::vector<std::string>{"Redundant data found", "Redundant data found"}), SplitReports(capture).reports);
    EXPECT_EQ(std::vector<std::wstring>{L"other"}, ValueNames(HKEY_LOCAL_MACHINE, path));
}

TEST_F(RemoveMatchingValuesTest, NoMatchSaysSoAndMissingKeyIsNoFailure) {
    const std::wstring path = L"SOFTWARE\\KvTestNoMatch";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"other", L"x"));
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kvcsp", 1, 1));
        EXPECT_EQ("Searching for ValName: SOFTWARE\\KvTestNoMatch\\*kvcsp*\n"
                  "Matching ValName not exist: SOFTWARE\\KvTestNoMatch\\*kvcsp*\n\n",
                  capture.out());
    }
    ConsoleCapture capture;
    EXPECT_EQ(0u, RemoveMatchingValues(L"SOFTWARE\\KvTestNoKey", L"kvcsp", 1, 1));
    EXPECT_EQ("Searching for ValName: SOFTWARE\\KvTestNoKey\\*kvcsp*\nKey not exist: SOFTWARE\\KvTestNoKey\n\n",
              capture.out());
}

TEST_F(RemoveMatchingValuesTest, KeyOpenedForFullAccessAlsoWhenListing) {
    const std::wstring path = L"SOFTWARE\\KvTestReadable";
    Plant(HKEY_LOCAL_MACHINE, path);
    auto readOnly = FailWhen<&Win32Api::RegOpenKeyExW>(
        [&](HKEY, LPCWSTR name, DWORD, REGSAM access, PHKEY) { return path == name && (access & KEY_SET_VALUE); },
        LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kv", 0, 0));
    EXPECT_EQ("Searching for ValName: SOFTWARE\\KvTestReadable\\*kv*\nAccess denied (skipping): SOFTWARE\\KvTestReadable\n\n",
              capture.out());
}

TEST_F(RemoveMatchingValuesTest, ValueThatCannotBeDeletedIsReportedAndSteppedOver) {
    const std::wstring path = L"SOFTWARE\\KvTestStuckValue";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* name : {L"kvA", L"kvB", L"kvC"}) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"x"));
    auto refuse = FailWhen<&Win32Api::RegDeleteValueW>([](HKEY, LPCWSTR name) { return wcscmp(name, L"kvB") == 0; },
                                                       LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(5u, RemoveMatchingValues(path.c_str(), L"kv", 1, 0));
    EXPECT_EQ(std::vector<std::string>{"Can not RegDeleteValue (SOFTWARE\\KvTestStuckValue\\kvB)"},
              SplitReports(capture).reports);
    EXPECT_EQ(std::vector<std::wstring>{L"kvB"}, ValueNames(HKEY_LOCAL_MACHINE, path));
}

// 16383 units is the longest value name the registry allows: another
// vendor's value of that length stops nothing.
TEST_F(RemoveMatchingValuesTest, ValueNameAtTheRegistrysLimitIsReadWhole) {
    const std::wstring path = L"SOFTWARE\\KvTestLongValueName";
    const std::wstring longName = L"C:\\Acme\\" + std::wstring(16383 - 8, L'a');
    const std::wstring family = L"C:\\Program Files\\Kor Vane\\kvcsp.dll";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (const std::wstring& name : {longName, family}) ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, name, L"1"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"Kor Vane", 1, 0));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, path, family));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, path, longName));
    EXPECT_EQ(std::vector<std::string>{}, SplitReports(capture).reports);
}

TEST_F(RemoveMatchingValuesTest, RemovalUnderSystemNeedsARebootInItsOwnView) {
    const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\kvtestgroups";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"kvsvc", L"x"));
    {
        ConsoleCapture capture;
        RemoveMatchingValues(path.c_str(), L"kv", 0, 0);
    }
    EXPECT_EQ(0u, g_rebootNeeded);
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kv", 1, 0));
    }
    EXPECT_EQ(1u, g_rebootNeeded);
    EXPECT_EQ(std::vector<std::wstring>{}, ValueNames(HKEY_LOCAL_MACHINE, path));
}

TEST_F(RemoveMatchingValuesTest, EachViewLosesOnlyItsOwnValues) {
    const std::wstring path = L"SOFTWARE\\KvTestValueViews";
    Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"kvcsp", L"64", KEY_WOW64_64KEY));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"kvcsp", L"32", KEY_WOW64_32KEY));
    g_registryView = KEY_WOW64_64KEY;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kv", 1, 0));
    }
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, path, L"kvcsp", KEY_WOW64_64KEY));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, path, L"kvcsp", KEY_WOW64_32KEY));
    g_registryView = 0;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, RemoveMatchingValues(path.c_str(), L"kv", 1, 0));
    }
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, path, L"kvcsp", KEY_WOW64_32KEY));
}

}  // namespace
