#include <algorithm>
#include <map>

#include "registry/search_group.h"
#include "tests/registry/registry_fixture.h"

namespace {

const std::wstring kProviders = L"SOFTWARE\\KvTestSearch\\Providers";

std::string Header(const std::string& keyName, const std::string& valueName, const std::string& valueData,
                   const std::string& path) {
    return "Searching for\n    KeyName: '" + keyName + "'\n or ValName: '" + valueName + "'\n or ValData: '" +
           valueData + "'\n in '" + path + "'\n";
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Every key below a path with its value names, for seeing that nothing changed.
void Snapshot(HKEY root, const std::wstring& path, std::map<std::wstring, std::vector<std::wstring>>& into) {
    into[path] = ValueNames(root, path);
    for (const std::wstring& child : SubkeyNames(root, path)) Snapshot(root, path + L"\\" + child, into);
}

class SearchRegTreeTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        RemoveAfterwards(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTestSearch");
        Plant(HKEY_LOCAL_MACHINE, kProviders);
    }
    void Child(const std::wstring& relative) { ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, kProviders + L"\\" + relative)); }
};

TEST_F(SearchRegTreeTest, FindsAProviderKeyOneLevelDownAndRemovesItInWipeMode) {
    Child(L"Kor Vane GOST CSP");
    Child(L"Microsoft Base Cryptographic Provider v1.0");
    const std::string found = Header("Kor Vane", "", "", "SOFTWARE\\KvTestSearch\\Providers") +
                              "SOFTWARE\\KvTestSearch\\Providers\n"
                              "  Kor Vane GOST CSP\n"
                              "  ^^^ lpKeyNameMatch\n";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"Kor Vane", nullptr, nullptr, 0, 0));
        EXPECT_EQ(found + "\n", capture.out());
    }
    EXPECT_EQ(2u, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders).size());
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"Kor Vane", nullptr, nullptr, 1, 0));
        EXPECT_EQ(found +
                      "Right changed Kor Vane GOST CSP\n"
                      "Enum keys in Kor Vane GOST CSP\n"
                      "Deleted Kor Vane GOST CSP\n"
                      "\n",
                  capture.out());
    }
    EXPECT_EQ(std::vector<std::wstring>{L"Microsoft Base Cryptographic Provider v1.0"},
              SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(SearchRegTreeTest, MatchingKeyIsNotSearchedBelowAndGoesWhole) {
    Child(L"kvcsp\\kvcsp inner\\kvcsp deepest");
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kvcsp", nullptr, nullptr, 1, 0));
    EXPECT_EQ(1u, Occurrences(capture.out(), "^^^"));
    EXPECT_EQ(std::string::npos, capture.out().find("  kvcsp inner\n"));
    EXPECT_EQ(std::vector<std::wstring>{}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, OnlyPlainStringDataMatchesAndTheKeyGoesWithEverythingInIt) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Plain", L"Image Path", L"C:\\x\\kvcsp.dll here"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Plain", L"Other", L"unrelated"));
    Child(L"Plain\\Below");
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, kProviders + L"\\Multi", L"Image Path", {L"a", L"kvcsp.dll"}));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Expand", L"Image Path", L"%SystemRoot%\\kvcsp.dll",
                          0, REG_EXPAND_SZ));
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), nullptr, nullptr, L"kvcsp.dll", 1, 0));
    EXPECT_EQ(0u, capture.out().find(Header("", "", "kvcsp.dll", "SOFTWARE\\KvTestSearch\\Providers") +
                                     "SOFTWARE\\KvTestSearch\\Providers\n  Plain\n  ^^^ lpValDataMatch\n"))
        << capture.out();
    EXPECT_EQ((std::vector<std::wstring>{L"Expand", L"Multi"}), SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, ValueNameMatchIsTestedBeforeValueData) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Both", L"kvcsp", L"kvcsp"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\DataOnly", L"x", L"kvcsp"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), nullptr, L"kvcsp", L"kvcsp", 0, 0));
    EXPECT_NE(std::string::npos, capture.out().find("  Both\n  ^^^ lpValNameMatch\n  DataOnly\n  ^^^ lpValDataMatch\n"))
        << capture.out();
}

TEST_F(SearchRegTreeTest, EverySubkeyIsVisitedOnceAtEveryDepthWhileMatchesGo) {
    for (const wchar_t* key : {L"kv1", L"kv2", L"kv3", L"Other\\kv4", L"Other\\kv5", L"Other\\Plain",
                               L"Other\\Deeper\\kv6", L"Other\\Deeper\\Stays", L"Zed"})
        Child(key);
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 1, 0));
        const std::string& out = capture.out();
        EXPECT_EQ(6u, Occurrences(out, "^^^ lpKeyNameMatch"));
        for (const char* name : {"kv1", "kv2", "kv3", "kv4", "kv5", "kv6"})
            EXPECT_EQ(1u, Occurrences(out, std::string("Deleted ") + name + "\n")) << name;
        EXPECT_EQ(1u, Occurrences(out, "  Other\n"));
        EXPECT_EQ(1u, Occurrences(out, "    Deeper\n"));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Other", L"Zed"}), SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
    EXPECT_EQ((std::vector<std::wstring>{L"Deeper", L"Plain"}), SubkeyNames(HKEY_LOCAL_MACHINE, kProviders + L"\\Other"));
    EXPECT_EQ(std::vector<std::wstring>{L"Stays"}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders + L"\\Other\\Deeper"));
}

TEST_F(SearchRegTreeTest, ListModeReportsEachMatchUnderWarnAndChangesNothing) {
    for (const wchar_t* key : {L"kv1", L"kv2", L"Other\\kv3", L"Other\\Plain"}) Child(key);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Other\\Plain", L"x", L"kvcsp"));
    std::map<std::wstring, std::vector<std::wstring>> before, after;
    Snapshot(HKEY_LOCAL_MACHINE, kProviders, before);
    ConsoleCapture capture;
    EXPECT_NE(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, L"kvcsp", 0, 1));
    Printed printed = SplitReports(capture);
    EXPECT_EQ(std::vector<std::string>(4, "Redundant data found"), printed.reports);
    EXPECT_EQ(Header("kv", "", "kvcsp", "SOFTWARE\\KvTestSearch\\Providers") +
                  "SOFTWARE\\KvTestSearch\\Providers\n"
                  "  kv1\n  ^^^ lpKeyNameMatch\n"
                  "  kv2\n  ^^^ lpKeyNameMatch\n"
                  "  Other\n"
                  "    kv3\n    ^^^ lpKeyNameMatch\n"
                  "    Plain\n    ^^^ lpValDataMatch\n"
                  "\n",
              printed.text);
    Snapshot(HKEY_LOCAL_MACHINE, kProviders, after);
    EXPECT_EQ(before, after);
}

// The starting key is the shared list itself: it is searched below and never
// removed, whichever test it passes; a value on it that the search finds goes
// alone (the key's other values stay), and warn counts it.
TEST_F(SearchRegTreeTest, StartingKeyThatMatchesIsSearchedBelowAndLosesOnlyTheValueFound) {
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders, L"Other", L"Acme setup"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Kor Vane card", L"Provider", L"Kor Vane CSP"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Other card", L"Provider", L"Other CSP"));
    const std::string path = "SOFTWARE\\KvTestSearch\\Providers";
    for (const wchar_t* keyName : {static_cast<const wchar_t*>(nullptr), L"KvTestSearch"}) {
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders, L"Registered by", L"Kor Vane setup"));
        const std::string matchedBy = keyName ? "lpKeyNameMatch" : "lpValDataMatch";
        const std::string found = Header(keyName ? "KvTestSearch" : "", "", "Kor Vane", path) + path + "\n^^^ " +
                                  matchedBy + "\nValName: " + path +
                                  "\\Registered by\n  Kor Vane card\n  ^^^ lpValDataMatch\n";
        {
            ConsoleCapture capture;
            EXPECT_NE(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), keyName, nullptr, L"Kor Vane", 0, 1));
            Printed printed = SplitReports(capture);
            EXPECT_EQ(found + "\n", printed.text);
            EXPECT_EQ(std::vector<std::string>(2, "Redundant data found"), printed.reports);
        }
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), keyName, nullptr, L"Kor Vane", 1, 0));
        EXPECT_EQ(found + "Right changed Kor Vane card\nEnum keys in Kor Vane card\nDeleted Kor Vane card\n\n",
                  capture.out());
        EXPECT_EQ(std::vector<std::wstring>{L"Other"}, ValueNames(HKEY_LOCAL_MACHINE, kProviders));
        EXPECT_EQ(std::vector<std::wstring>{L"Other card"}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Kor Vane card", L"Provider", L"Kor Vane CSP"));
    }
}

// A subkey that refuses reading is found by its name, which came with the
// listing: listed as found, and in wipe mode taken over and removed.
TEST_F(SearchRegTreeTest, SubkeyThatRefusesReadingIsFoundByItsNameAndTakenOver) {
    Child(L"kvClosed\\Inner");
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, kProviders + L"\\kvClosed", L"O:SYD:P(A;;WOWD;;;BA)"));
    const std::string found = Header("kv", "", "", "SOFTWARE\\KvTestSearch\\Providers") +
                              "SOFTWARE\\KvTestSearch\\Providers\n  kvClosed\n  ^^^ lpKeyNameMatch\n";
    ConsoleCapture capture;
    EXPECT_NE(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 0, 1));
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 1, 0));
    EXPECT_EQ(found + "\n" + found + "Right changed kvClosed\nEnum keys in kvClosed\nRight changed Inner\n"
                      "Enum keys in Inner\nDeleted Inner\nDeleted kvClosed\n\n", SplitReports(capture).text);
    EXPECT_EQ(std::vector<std::wstring>{}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, MissingOrInaccessibleKeysArePrintedNotFailed) {
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTestNoSearch", L"kv", nullptr, nullptr, 1, 1));
        EXPECT_EQ("Key not exist: SOFTWARE\\KvTestNoSearch\n\n", capture.out());
    }
    Child(L"Closed");
    Child(L"kvAfter");
    auto locked = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM, PHKEY) { return wcscmp(name, L"Closed") == 0; }, LONG(ERROR_ACCESS_DENIED),
        ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 1, 0));
    EXPECT_NE(std::string::npos,
              capture.out().find("SOFTWARE\\KvTestSearch\\Providers\n  Access denied (skipping): Closed\n  kvAfter\n"))
        << capture.out();
    EXPECT_EQ(std::vector<std::wstring>{L"Closed"}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, ChildThatNeverOpensIsSteppedOverOnce) {
    Child(L"Ghost");
    Child(L"kvAfter");
    auto ghost = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM, PHKEY) { return wcscmp(name, L"Ghost") == 0; }, LONG(ERROR_FILE_NOT_FOUND),
        ERROR_FILE_NOT_FOUND);
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 1, 0));
    EXPECT_EQ(1u, Occurrences(capture.out(), "Key not exist: Ghost\n"));
    EXPECT_EQ(std::vector<std::wstring>{L"Ghost"}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, MatchThatSurvivesItsRemovalButNoLongerOpensIsNotVisitedAgain) {
    Child(L"kvStuck");
    Child(L"kvNext");
    DeletionRefusal refusal({L"kvStuck"});
    int readOpens = 0;
    auto vanishing = FailWhen<&Win32Api::RegOpenKeyExW>(
        [&](HKEY, LPCWSTR name, DWORD, REGSAM access, PHKEY) {
            return wcscmp(name, L"kvStuck") == 0 && (access & ~KEY_WOW64_64KEY) == KEY_READ && ++readOpens > 1;
        },
        LONG(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
    ConsoleCapture capture;
    EXPECT_NE(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, 1, 0));
    EXPECT_EQ(1u, Occurrences(capture.out(), "  kvStuck\n"));
    EXPECT_EQ(1u, Occurrences(capture.out(), "Deleted kvNext\n"));
    EXPECT_EQ(std::vector<std::wstring>{L"kvStuck"}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, RemovalAnywhereBelowSystemNeedsAReboot) {
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\kvtestsearch";
    RemoveAfterwards(HKEY_LOCAL_MACHINE, services);
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, services + L"\\Group\\kvdrv"));
    {
        ConsoleCapture capture;
        SearchRegTree(HKEY_LOCAL_MACHINE, services.c_str(), L"kvdrv", nullptr, nullptr, 0, 0);
    }
    EXPECT_EQ(0u, g_rebootNeeded) << "list mode";
    Child(L"kvdrv");
    {
        ConsoleCapture capture;
        SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kvdrv", nullptr, nullptr, 1, 0);
    }
    EXPECT_EQ(0u, g_rebootNeeded) << "under SOFTWARE";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, services.c_str(), L"kvdrv", nullptr, nullptr, 1, 0));
    }
    EXPECT_EQ(1u, g_rebootNeeded) << "two levels below a SYSTEM path";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, services + L"\\Group\\kvdrv"));
}

// One reading of a key's values tests several searches at once: names for
// those with a value-name text, REG_SZ data only for those with a data text.
TEST_F(SearchRegTreeTest, OneReadingTestsNamesAndPlainStringDataForEverySearch) {
    const std::wstring path = kProviders + L"\\Counted";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"kv name", L"plain text"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"expand", L"expand text", 0, REG_EXPAND_SZ));
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, path, L"multi", {L"multi text"}));
    // Odd size and no NUL: the text still ends inside its buffer.
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, path, L"odd", REG_SZ, "k\0v\0x", 5));
    const SearchPatterns searches[] = {{nullptr, L"kv", nullptr},      {nullptr, L"text", nullptr},
                                       {nullptr, nullptr, L"plain"},   {nullptr, nullptr, L"expand"},
                                       {nullptr, nullptr, L"multi"},   {nullptr, nullptr, L"kvx"},
                                       {nullptr, nullptr, L""},        {nullptr, L"odd", L"nowhere"}};
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    ValueBuffers buffers;
    ASSERT_EQ(0u, AllocateValueBuffers(&buffers));
    ValueHits hits = {99, 99};
    bool failed = true;
    EXPECT_EQ(0u, ReadValueHits(key, searches, 0xFF, buffers, false, &hits, &failed));
    EXPECT_FALSE(failed);
    EXPECT_EQ(SearchBit(0) | SearchBit(7), hits.byName);
    EXPECT_EQ(SearchBit(2) | SearchBit(5) | SearchBit(6), hits.byData);
    // Only the searches asked for are tested.
    EXPECT_EQ(0u, ReadValueHits(key, searches, SearchBit(5), buffers, true, &hits, &failed));
    EXPECT_EQ(0u, hits.byName);
    EXPECT_EQ(SearchBit(5), hits.byData);
    ::RegCloseKey(key);
}

// Data too long to come with its enumeration is queried by name: it still
// matches when it is REG_SZ and holds the text, and only then.
TEST_F(SearchRegTreeTest, LongDataIsReadByNameAndMatchesOnlyAsPlainString) {
    const std::wstring path = kProviders + L"\\Long";
    const std::wstring filler(5000, L'x');
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"long match", filler + L"kv data", 0));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"long other", filler + filler, 0));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"long expand", filler + L"kv expand", 0, REG_EXPAND_SZ));
    const std::string binary(70000, 'k');
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, path, L"long binary", REG_BINARY, binary.data(),
                         static_cast<DWORD>(binary.size())));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"short", L"kv short", 0));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    std::vector<std::wstring> queried;
    ScopedHook<&Win32Api::RegQueryValueExW> record(
        [&, real = ScopedHook<&Win32Api::RegQueryValueExW>::Current()](HKEY k, LPCWSTR name, LPDWORD reserved,
                                                                      LPDWORD type, LPBYTE data, LPDWORD bytes) {
            if (!data) queried.push_back(name);
            return real(k, name, reserved, type, data, bytes);
        });
    const SearchPatterns searches[] = {{nullptr, nullptr, L"xkv data"}, {nullptr, nullptr, L"kv expand"},
                                       {nullptr, nullptr, L"\x6b6b\x6b6b"}, {nullptr, nullptr, L"kv short"}};
    ValueBuffers buffers;
    ASSERT_EQ(0u, AllocateValueBuffers(&buffers));
    ValueHits hits;
    bool failed = true;
    EXPECT_EQ(0u, ReadValueHits(key, searches, 0xF, buffers, true, &hits, &failed));
    EXPECT_FALSE(failed);
    EXPECT_EQ(SearchBit(0) | SearchBit(3), hits.byData);
    std::sort(queried.begin(), queried.end());
    EXPECT_EQ((std::vector<std::wstring>{L"long binary", L"long expand", L"long match", L"long other"}), queried);
    ::RegCloseKey(key);
}

// Every value is read with one enumeration call; nothing is queried again
// (the starting key's check whether it is a link reads no value's data).
TEST_F(SearchRegTreeTest, ValueDataSearchReadsEachValueOnce) {
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\Leaf", L"v" + std::to_wstring(i),
                              L"C:\\Program Files\\Vendor\\module" + std::to_wstring(i) + L".dll"));
    int enumerations = 0, queries = 0;
    ScopedHook<&Win32Api::RegEnumValueW> countEnumerations(
        [&, real = ScopedHook<&Win32Api::RegEnumValueW>::Current()](HKEY k, DWORD i, LPWSTR n, LPDWORD s, LPDWORD r,
                                                                   LPDWORD t, LPBYTE d, LPDWORD b) {
            ++enumerations;
            return real(k, i, n, s, r, t, d, b);
        });
    ScopedHook<&Win32Api::RegQueryValueExW> countQueries(
        [&, real = ScopedHook<&Win32Api::RegQueryValueExW>::Current()](HKEY k, LPCWSTR n, LPDWORD r, LPDWORD t,
                                                                      LPBYTE d, LPDWORD b) {
            queries += wcscmp(n, L"SymbolicLinkValue") != 0;
            return real(k, n, r, t, d, b);
        });
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), nullptr, nullptr, L"kvcsp", 0, 0));
    EXPECT_EQ(1 + 5 + 1, enumerations) << "Providers: the end of its values; Leaf: five values and the end";
    EXPECT_EQ(0, queries);
}

// Without the block that carries data along, or when a long value's query
// fails, the reading goes on: a search's own reading reports each failure as
// met, a shared one only says that something failed.
TEST_F(SearchRegTreeTest, LongDataQueryFailuresAreReportedAndTheReadingGoesOn) {
    const std::wstring path = kProviders + L"\\Long";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"long", std::wstring(5000, L'x') + L"kv", 0));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, path, L"short", L"kv", 0));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    const SearchPatterns searches[] = {{nullptr, nullptr, L"xkv"}, {nullptr, nullptr, L"kv"}};
    ValueHits hits;
    bool failed = false;
    {
        ValueBuffers withoutDataBlock;
        {
            auto noDataBlock = FailNthAllocation(2);
            ASSERT_EQ(0u, AllocateValueBuffers(&withoutDataBlock));
        }
        EXPECT_EQ(0u, ReadValueHits(key, searches, 3, withoutDataBlock, true, &hits, &failed));
        EXPECT_EQ(3u, hits.byData);
        EXPECT_FALSE(failed);
    }
    ValueBuffers buffers;
    ASSERT_EQ(0u, AllocateValueBuffers(&buffers));
    for (int failing : {1, 2}) {
        for (bool report : {true, false}) {
            auto fail = FailNthCall<&Win32Api::RegQueryValueExW>(failing, LONG(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
            ConsoleCapture capture;
            EXPECT_EQ(report ? u32(ERROR_FILE_NOT_FOUND) : 0u, ReadValueHits(key, searches, 3, buffers, report, &hits, &failed))
                << failing;
            EXPECT_TRUE(failed);
            EXPECT_EQ(SearchBit(1), hits.byData) << failing;
            EXPECT_EQ(report ? std::vector<std::string>{"RegQueryValueEx failed"} : std::vector<std::string>{},
                      SplitReports(capture).reports)
                << failing;
        }
    }
    {
        auto noMemory = FailNthAllocation(1);
        ConsoleCapture capture;
        EXPECT_NE(0u, ReadValueHits(key, searches, 3, buffers, true, &hits, &failed));
        EXPECT_EQ(SearchBit(1), hits.byData);
        EXPECT_EQ(std::vector<std::string>{"Not enough memory"}, SplitReports(capture).reports);
    }
    ::RegCloseKey(key);
}

// A search opens each subkey once to read it, in list and in wipe mode: it
// never opens one again to see whether its removal took it (the removal says so).
TEST_F(SearchRegTreeTest, EachSubkeyIsOpenedOnceToBeRead) {
    for (const wchar_t* key : {L"kv1", L"Other\\kv2", L"Plain"}) Child(key);
    auto opensOf = [](const OpenRecorder& recorder, const std::wstring& name) {
        int count = 0;
        for (const RecordedOpen& open : recorder.opens())
            count += open.name == name && (open.access & ~KEY_WOW64_64KEY) == KEY_READ;
        return count;
    };
    for (int wipe : {0, 1}) {
        OpenRecorder recorder;
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"kv", nullptr, nullptr, wipe, 0));
        for (const wchar_t* name : {L"kv1", L"Other", L"kv2", L"Plain"})
            EXPECT_EQ(1, opensOf(recorder, name)) << Utf8(name) << " wipe " << wipe;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Other", L"Plain"}), SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

// Names as long as the registry allows (255 units for a key, 16383 for a
// value) are read whole: another vendor's long names stop nothing.
TEST_F(SearchRegTreeTest, NamesAtTheRegistrysLimitsAreSearchedAndTheFamilysKeyStillGoes) {
    const std::wstring longKey = L"Acme " + std::wstring(250, L'k');
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\" + longKey, std::wstring(16383, L'v'), L"Acme CSP"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProviders + L"\\" + longKey, L"Image Path", L"acme.dll"));
    Child(L"Kor Vane GOST CSP");
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, kProviders.c_str(), L"Kor Vane", L"kv", L"kvcsp", 1, 0));
    EXPECT_EQ(Header("Kor Vane", "kv", "kvcsp", "SOFTWARE\\KvTestSearch\\Providers") +
                  "SOFTWARE\\KvTestSearch\\Providers\n"
                  "  Kor Vane GOST CSP\n  ^^^ lpKeyNameMatch\n"
                  "Right changed Kor Vane GOST CSP\nEnum keys in Kor Vane GOST CSP\nDeleted Kor Vane GOST CSP\n\n",
              capture.out());
    EXPECT_EQ(std::vector<std::wstring>{longKey}, SubkeyNames(HKEY_LOCAL_MACHINE, kProviders));
}

TEST_F(SearchRegTreeTest, EachViewSearchesAndRemovesOnlyItsOwnTree) {
    const std::wstring path = L"SOFTWARE\\KvTestSearchViews";
    Plant(HKEY_LOCAL_MACHINE, path + L"\\kvcsp", KEY_WOW64_64KEY);
    Plant(HKEY_LOCAL_MACHINE, path + L"\\kvcsp", KEY_WOW64_32KEY);
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    RemoveAfterwards(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    g_registryView = KEY_WOW64_64KEY;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, path.c_str(), L"kvcsp", nullptr, nullptr, 1, 0));
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\kvcsp", KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\kvcsp", KEY_WOW64_32KEY));
    g_registryView = 0;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_LOCAL_MACHINE, path.c_str(), L"kvcsp", nullptr, nullptr, 1, 0));
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path + L"\\kvcsp", KEY_WOW64_32KEY));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
}

}  // namespace
