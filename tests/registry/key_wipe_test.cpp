#include <algorithm>

#include "registry/key_wipe.h"
#include "tests/registry/registry_fixture.h"

namespace {

class CleanRegKeyTest : public RegistryTest {};

TEST_F(CleanRegKeyTest, ListsTheTreeDepthFirstAndChangesNothing) {
    const std::wstring path = L"SOFTWARE\\KvTestList";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"A", L"1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B", L"2"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0));
    EXPECT_EQ("Key: SOFTWARE\\KvTestList\n"
              "  ValName: A\n"
              "  Key: SOFTWARE\\KvTestList\\Sub\n"
              "    ValName: B\n"
              "\n",
              capture.out());
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B"));
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(CleanRegKeyTest, DefaultValuePrintsWithAnEmptyNameAndCountsAreSummed) {
    const std::wstring path = L"SOFTWARE\\KvTestCounts";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"", L"default"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\One", L"X", L"1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\One", L"Y", L"1"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + L"\\One\\Deeper"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + L"\\Two"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    ConsoleCapture capture;
    u32 keys = 0, values = 0;
    EXPECT_EQ(0u, ListRegTree(key, path.c_str(), 0, &keys, &values));
    ::RegCloseKey(key);
    EXPECT_EQ(4u, keys);
    EXPECT_EQ(3u, values);
    EXPECT_EQ(0u, capture.out().find("Key: SOFTWARE\\KvTestCounts\n  ValName: \n  Key: SOFTWARE\\KvTestCounts\\One\n"))
        << capture.out();
    EXPECT_NE(std::string::npos, capture.out().find("    Key: SOFTWARE\\KvTestCounts\\One\\Deeper\n  Key: SOFTWARE\\KvTestCounts\\Two\n"));
}

TEST_F(CleanRegKeyTest, MissingKeyIsOneLineAndNoFailureAlsoWithWarn) {
    for (int warn : {0, 1}) {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTestNowhere", 1, warn));
        EXPECT_EQ("Key not exist: SOFTWARE\\KvTestNowhere\n\n", capture.out());
    }
}

// A key that refuses us is one line in list mode; in wipe mode it is taken
// over and removed, and a takeover refused (as Wine refuses an administrator a
// key that grants only SYSTEM) is the row's failure. Windows lets an
// administrator take it over: here the key opens once its DACL is written.
TEST_F(CleanRegKeyTest, KeyThatRefusesUsIsOneLineInListModeAndTakenOverInWipeMode) {
    const std::wstring path = L"SOFTWARE\\KvTestDenied";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B", L"2"));
    bool takenOver = false, refusedForGood = true;
    ScopedHook<&Win32Api::RegOpenKeyExW> open([&, real = ScopedHook<&Win32Api::RegOpenKeyExW>::Current()](
                                                  HKEY parent, LPCWSTR name, DWORD options, REGSAM access, PHKEY key) {
        const REGSAM takeover = WRITE_OWNER | WRITE_DAC | KEY_WOW64_64KEY;
        bool refused = refusedForGood || (!takenOver && (access & ~takeover));
        if (wcscmp(name, L"KvTestDenied") == 0 && refused) return LONG(ERROR_ACCESS_DENIED);
        return real(parent, name, options, access, key);
    });
    ScopedHook<&Win32Api::RegSetKeySecurity> dacl([&, real = ScopedHook<&Win32Api::RegSetKeySecurity>::Current()](
                                                      HKEY key, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR sd) {
        LONG status = real(key, parts, sd);
        takenOver = takenOver || (status == ERROR_SUCCESS && (parts & DACL_SECURITY_INFORMATION));
        return status;
    });
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 1));
        EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
        EXPECT_EQ(0u, SplitReports(capture).text.find("Access denied (skipping): SOFTWARE\\KvTestDenied\n\n"
                                                      "Access denied (taking over): SOFTWARE\\KvTestDenied\n"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
    }
    refusedForGood = false;
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_EQ("Access denied (taking over): SOFTWARE\\KvTestDenied\nRight changed SOFTWARE\\KvTestDenied\n"
              "Enum keys in SOFTWARE\\KvTestDenied\nRight changed Sub\nEnum keys in Sub\nDeleted Sub\n"
              "Deleted SOFTWARE\\KvTestDenied\n\n",
              capture.out());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

// Wine itself refuses an administrator the takeover of a key that grants only
// SYSTEM (it stays behind in this prefix): the wipe fails, nothing is skipped.
TEST_F(CleanRegKeyTest, KeyGrantingOnlySystemThatCannotBeTakenOverFailsTheRow) {
    const std::wstring path = L"SOFTWARE\\KvTestSystemOnly";
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path));
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, path, L"O:SYD:P(A;;KA;;;SY)"));
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_EQ(0u, capture.out().find("Access denied (taking over): SOFTWARE\\KvTestSystemOnly\n")) << capture.out();
    std::vector<std::wstring> left = SubkeyNames(HKEY_LOCAL_MACHINE, L"SOFTWARE");
    EXPECT_NE(left.end(), std::find(left.begin(), left.end(), L"KvTestSystemOnly"));
}

// Rights on the keys above a row's key are never needed, as for reg.exe: a
// parent that refuses administrators all reading hides nothing below it.
TEST_F(CleanRegKeyTest, KeyBelowAParentThatRefusesReadingIsListedAndRemoved) {
    const std::wstring parent = L"SOFTWARE\\KvTestLockedParent", row = parent + L"\\Catalog";
    Plant(HKEY_LOCAL_MACHINE, parent);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, row, L"A", L"1"));
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, parent, L"O:SYD:P(A;;KA;;;SY)(A;;WOWD;;;BA)"));
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, row.c_str(), 0, 1)) << "found, under warn";
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, row.c_str(), 1, 0));
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, parent, L"O:BAD:(A;;KA;;;BA)"));
    EXPECT_EQ(0u, SplitReports(capture).text.find("Key: SOFTWARE\\KvTestLockedParent\\Catalog\n  ValName: A\n\n"
                                                  "Key: SOFTWARE\\KvTestLockedParent\\Catalog\n"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, row));
}

TEST_F(CleanRegKeyTest, EmptyKeyWithWarnIsRedundantData) {
    const std::wstring path = L"SOFTWARE\\KvTestEmpty";
    Plant(HKEY_LOCAL_MACHINE, path);
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 1));
    Printed printed = SplitReports(capture);
    EXPECT_EQ(std::vector<std::string>{"Redundant data found"}, printed.reports);
    EXPECT_EQ("Key: SOFTWARE\\KvTestEmpty\n\n", printed.text);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

// 255 characters is the longest key name the registry allows: listed, its
// path cut to 254 like any other, and the listing goes on with its siblings.
TEST_F(CleanRegKeyTest, SubkeyNameOf255CharactersIsListedAndItsSiblingsToo) {
    const std::wstring path = L"SOFTWARE\\KvTestLongName";
    const std::wstring longName = L"M" + std::wstring(254, L'x');
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + L"\\A"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\" + longName, L"V", L"1"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + L"\\Z"));
    ASSERT_EQ(3u, SubkeyNames(HKEY_LOCAL_MACHINE, path).size());
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0));
    std::string shown = Utf8((path + L"\\" + longName).substr(0, 254));
    EXPECT_EQ("Key: SOFTWARE\\KvTestLongName\n  Key: SOFTWARE\\KvTestLongName\\A\n  Key: " + shown +
                  "\n    ValName: V\n  Key: SOFTWARE\\KvTestLongName\\Z\n\n",
              capture.out());
}

TEST_F(CleanRegKeyTest, NameOf254CharactersIsListedWithItsPathCutTo254) {
    const std::wstring path = L"SOFTWARE\\KvTestCut";
    const std::wstring name(254, L'n');
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\" + name, L"V", L"1"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0));
    std::string shown = Utf8((path + L"\\" + name).substr(0, 254));
    EXPECT_EQ("Key: SOFTWARE\\KvTestCut\n  Key: " + shown + "\n    ValName: V\n\n", capture.out());
}

TEST_F(CleanRegKeyTest, WipeRemovesTheTreeBottomUpTakingOverEachKey) {
    const std::wstring path = L"SOFTWARE\\KvTestWipe";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"A", L"1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B", L"2"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + L"\\Sub\\Leaf"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_EQ("Key: SOFTWARE\\KvTestWipe\n"
              "  ValName: A\n"
              "  Key: SOFTWARE\\KvTestWipe\\Sub\n"
              "    ValName: B\n"
              "    Key: SOFTWARE\\KvTestWipe\\Sub\\Leaf\n"
              "Right changed SOFTWARE\\KvTestWipe\n"
              "Enum keys in SOFTWARE\\KvTestWipe\n"
              "Right changed Sub\n"
              "Enum keys in Sub\n"
              "Right changed Leaf\n"
              "Enum keys in Leaf\n"
              "Deleted Leaf\n"
              "Deleted Sub\n"
              "Deleted SOFTWARE\\KvTestWipe\n"
              "\n",
              capture.out());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(CleanRegKeyTest, ChildThatCannotBeDeletedIsSteppedOverAndTheParentStays) {
    const std::wstring path = L"SOFTWARE\\KvTestStuck";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* child : {L"\\A", L"\\B\\Inner", L"\\C", L"\\D"})
        ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + child));
    DeletionRefusal refusal({L"B"});
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    Printed printed = SplitReports(capture);
    EXPECT_EQ((std::vector<std::string>{"Can not RegDeleteKey: B", "Can not RegDeleteKey: SOFTWARE\\KvTestStuck",
                                        "Can not RecurseWipeRegTree: SOFTWARE\\KvTestStuck"}),
              printed.reports);
    EXPECT_NE(std::string::npos, printed.text.find("Right changed A\nEnum keys in A\nDeleted A\n"
                                                   "Right changed B\nEnum keys in B\n"
                                                   "Right changed Inner\nEnum keys in Inner\nDeleted Inner\n"
                                                   "Right changed C\nEnum keys in C\nDeleted C\n"
                                                   "Right changed D\nEnum keys in D\nDeleted D\n"))
        << printed.text;
    EXPECT_EQ(std::vector<std::wstring>{L"B"}, SubkeyNames(HKEY_LOCAL_MACHINE, path));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\B\\Inner"));
}

// A refused takeover is reported, but a key whose deletion then succeeds is
// gone: the sibling that moves into its place is visited all the same.
TEST_F(CleanRegKeyTest, RefusedTakeoversLeaveNoSiblingBehindWhenDeletionsSucceed) {
    const std::wstring path = L"SOFTWARE\\KvTestNoTakeover";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path);
    for (const wchar_t* child : {L"\\A", L"\\B\\One", L"\\B\\Two", L"\\B\\Three", L"\\C", L"\\D"})
        ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path + child));
    auto refuse = FailAlways<&Win32Api::RegSetKeySecurity>(LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    for (const std::string& report : SplitReports(capture).reports)
        EXPECT_EQ(std::string::npos, report.find("RegDeleteKey")) << report;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

TEST_F(CleanRegKeyTest, KeyThatCannotBeOpenedForFullAccessIsReportedByTheCaller) {
    const std::wstring path = L"SOFTWARE\\KvTestNoFull";
    Plant(HKEY_LOCAL_MACHINE, path);
    auto refuse = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM access, PHKEY) {
            return wcscmp(name, L"KvTestNoFull") == 0 && (access & KEY_ALL_ACCESS) == KEY_ALL_ACCESS;
        },
        LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    {
        HKEY software = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &software));
        ConsoleCapture capture;
        bool removed = true;
        EXPECT_EQ(kWipeOpenFailed,
                  WipeKeyAt(HKEY_LOCAL_MACHINE, path.c_str(), software, L"KvTestNoFull", path.c_str(), kWholeTree, &removed));
        ::RegCloseKey(software);
        EXPECT_FALSE(removed);
        EXPECT_EQ("Right changed SOFTWARE\\KvTestNoFull\n", capture.out());
    }
    ConsoleCapture capture;
    EXPECT_EQ(5u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_EQ(std::vector<std::string>{"Can not RecurseWipeRegTree: SOFTWARE\\KvTestNoFull"}, SplitReports(capture).reports);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

TEST_F(CleanRegKeyTest, RebootIsNeededAfterWipingUnderSystemOnlyAndEvenAfterErrors) {
    const std::wstring service = L"SYSTEM\\CurrentControlSet\\Services\\kvtestsvc";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, service);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, service, L"ImagePath", L"kvtest.sys"));
    {
        ConsoleCapture capture;
        CleanRegKey(HKEY_LOCAL_MACHINE, service.c_str(), 0, 1);
    }
    EXPECT_EQ(0u, g_rebootNeeded) << "list mode";
    {
        DeletionRefusal refusal({L"kvtestsvc"});
        ConsoleCapture capture;
        EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, service.c_str(), 1, 0));
    }
    EXPECT_EQ(1u, g_rebootNeeded) << "failed wipe under SYSTEM";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, service));

    g_rebootNeeded = 0;
    const std::wstring software = L"SOFTWARE\\KvTestNoReboot";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, software);
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, software));
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, software.c_str(), 1, 0));
    }
    EXPECT_EQ(0u, g_rebootNeeded) << "wipe under SOFTWARE";

    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, service.c_str(), 1, 0));
    }
    EXPECT_EQ(1u, g_rebootNeeded) << "wipe under SYSTEM";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, service));
}

TEST_F(CleanRegKeyTest, ListModeOpensNothingWithMoreThanKeyReadAndWritesNoSecurity) {
    const std::wstring path = L"SOFTWARE\\KvTestReadOnly";
    Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub\\Deeper", L"B", L"2", KEY_WOW64_64KEY));
    int securityWrites = 0;
    ScopedHook<&Win32Api::RegSetKeySecurity> countWrites(
        [&](HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) -> LONG { return ++securityWrites, ERROR_SUCCESS; });
    for (u32 view : {0u, static_cast<u32>(KEY_WOW64_64KEY)}) {
        g_registryView = view;
        OpenRecorder recorder;
        ConsoleCapture capture;
        CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 1);
        ASSERT_FALSE(recorder.opens().empty());
        for (const RecordedOpen& open : recorder.opens()) {
            EXPECT_EQ(0u, open.access & ~static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY)) << Utf8(open.name);
            EXPECT_EQ(view, open.access & KEY_WOW64_64KEY) << Utf8(open.name);
        }
    }
    EXPECT_EQ(0, securityWrites);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\Sub\\Deeper", KEY_WOW64_64KEY));
}

TEST_F(CleanRegKeyTest, MemoryShortageEndsTheListingOfThatKeyWithAReport) {
    const std::wstring path = L"SOFTWARE\\KvTestMemory";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B", L"2"));
    // Allocations: the parent path (nothing is listed), the value names (the
    // subkeys are still listed), then the display path and the subkey names
    // (the listing of the key stops).
    const std::string whole = "Key: SOFTWARE\\KvTestMemory\n  Key: SOFTWARE\\KvTestMemory\\Sub\n    ValName: B\n\n";
    const std::string stopped = "Key: SOFTWARE\\KvTestMemory\n\n";
    for (int nth : {1, 2, 3, 4}) {
        auto shortage = FailNthAllocation(nth);
        ConsoleCapture capture;
        EXPECT_NE(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0));
        Printed printed = SplitReports(capture);
        EXPECT_EQ(std::vector<std::string>{"Not enough memory."}, printed.reports) << nth;
        EXPECT_EQ(nth == 1 ? "\n" : nth == 2 ? whole : stopped, printed.text) << nth;
    }
}

TEST(IsUnderSystem, ComparesTheFirstSixCharactersWithoutRegardToCase) {
    EXPECT_TRUE(IsUnderSystem(L"SYSTEM\\CurrentControlSet\\Services\\kvdrv"));
    EXPECT_TRUE(IsUnderSystem(L"system\\ControlSet001"));
    EXPECT_TRUE(IsUnderSystem(L"SYSTEM"));
    EXPECT_FALSE(IsUnderSystem(L"SOFTWARE\\Kor Vane"));
    EXPECT_FALSE(IsUnderSystem(L"SYS"));
    EXPECT_FALSE(IsUnderSystem(L""));
}

// The same tree in the 64-bit and in the 32-bit view of a 64-bit machine: each
// pass touches only its own view.
class BothRegistryViews : public RegistryTest {
protected:
    void PlantBoth(const std::wstring& path) {
        Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
        Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"In64", L"1", KEY_WOW64_64KEY));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"In32", L"1", KEY_WOW64_32KEY));
        ASSERT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"In32", KEY_WOW64_64KEY));
    }
};

TEST_F(BothRegistryViews, SixtyFourBitPassListsAndWipesOnlyTheSixtyFourBitCopy) {
    const std::wstring path = L"SOFTWARE\\KvTestViews";
    PlantBoth(path);
    g_registryView = KEY_WOW64_64KEY;
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_NE(std::string::npos, capture.out().find("    ValName: In64\n"));
    EXPECT_EQ(std::string::npos, capture.out().find("In32"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"In32", KEY_WOW64_32KEY));
}

TEST_F(BothRegistryViews, NativePassListsAndWipesOnlyTheThirtyTwoBitCopy) {
    const std::wstring path = L"SOFTWARE\\KvTestViews";
    PlantBoth(path);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_NE(std::string::npos, capture.out().find("    ValName: In32\n"));
    EXPECT_EQ(std::string::npos, capture.out().find("In64"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"In64", KEY_WOW64_64KEY));
}

TEST_F(CleanRegKeyTest, WipeWorksOn32BitMachine) {
    const std::wstring path = L"SOFTWARE\\KvTestWin32";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path + L"\\Sub", L"B", L"2"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_LOCAL_MACHINE, path.c_str(), 1, 0));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

}  // namespace
