// Registry links at or below a key being listed, wiped or searched are never
// followed: the link is shown and removed itself, its target stays as it was.
#include "registry/key_security.h"
#include "registry/key_wipe.h"
#include "registry/search_group.h"
#include "registry/value_match.h"
#include "tests/registry/registry_fixture.h"

namespace {

const wchar_t kDecoy[] = L"SOFTWARE\\KvDecoyTarget";
const wchar_t kDecoyNtPath[] = L"\\Registry\\Machine\\Software\\KvDecoyTarget";
// Owner Administrators; Administrators and SYSTEM full access, Everyone read.
const wchar_t kDecoySddl[] = L"O:BAD:P(A;;KA;;;BA)(A;;KA;;;SY)(A;;KR;;;WD)";

class RegistryLinks : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        // A tree elsewhere that must survive, with values, a subkey and its own security.
        Plant(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kDecoy, L"Precious", L"keep me", KEY_WOW64_64KEY));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::wstring(kDecoy) + L"\\Inner", L"Deep", L"keep", KEY_WOW64_64KEY));
        ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, kDecoy, kDecoySddl, KEY_WOW64_64KEY));
        decoySecurity_ = KeySecurity(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY);
        ASSERT_FALSE(decoySecurity_.empty());
    }

    // The family's tree, planted by an unprivileged user, with a link inside.
    void PlantTreeWithLink(const std::wstring& tree) {
        Plant(HKEY_CURRENT_USER, tree);
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree, L"A", L"1"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, tree + L"\\Sub", L"B", L"2"));
        ASSERT_TRUE(CreateLinkKey(HKEY_CURRENT_USER, tree + L"\\Sub\\Link", kDecoyNtPath));
        // The link does reach the decoy when followed.
        ASSERT_TRUE(ValueExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link", L"Precious"));
    }

    void ExpectDecoyUntouched() {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY));
        EXPECT_EQ(std::vector<std::wstring>{L"Precious"}, ValueNames(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY));
        EXPECT_EQ(std::vector<std::wstring>{L"Inner"}, SubkeyNames(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY));
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, std::wstring(kDecoy) + L"\\Inner", L"Deep", KEY_WOW64_64KEY));
        EXPECT_EQ(decoySecurity_, KeySecurity(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY));
    }

    std::string decoySecurity_;
};

TEST_F(RegistryLinks, ListingShowsTheLinkItselfAndNothingOfItsTarget) {
    const std::wstring tree = L"Software\\KvTestLinksList";
    PlantTreeWithLink(tree);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 0, 0));
    EXPECT_EQ("Key: Software\\KvTestLinksList\n"
              "  ValName: A\n"
              "  Key: Software\\KvTestLinksList\\Sub\n"
              "    ValName: B\n"
              "    Key: Software\\KvTestLinksList\\Sub\\Link\n"
              "      ValName: SymbolicLinkValue\n"
              "\n",
              capture.out());
    EXPECT_TRUE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link"));
    ExpectDecoyUntouched();
}

TEST_F(RegistryLinks, WipeRemovesTheLinkNotItsTarget) {
    const std::wstring tree = L"Software\\KvTestLinksWipe";
    PlantTreeWithLink(tree);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 1, 0));
    Printed printed = SplitReports(capture);
    EXPECT_EQ(std::vector<std::string>{}, printed.reports);
    EXPECT_NE(std::string::npos, printed.text.find("Enum keys in Sub\nDeleted Link\nDeleted Sub\n")) << printed.text;
    EXPECT_EQ(std::string::npos, printed.text.find("Right changed Link")) << printed.text;
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree));
    ExpectDecoyUntouched();
}

TEST_F(RegistryLinks, WipeOfALinkThatRefusesAccessStillLeavesTheTargetAlone) {
    const std::wstring tree = L"Software\\KvTestLinksLocked";
    PlantTreeWithLink(tree);
    // The planted link refuses everything to everyone.
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_CURRENT_USER, tree + L"\\Sub\\Link", L"O:BAD:P"));
    ConsoleCapture capture;
    CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 1, 0);
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link")) << SplitReports(capture).text;
    ExpectDecoyUntouched();
}

TEST_F(RegistryLinks, SearchDoesNotDescendIntoALinkAndWipesOnlyTheLink) {
    const std::wstring tree = L"Software\\KvTestSearchTree";
    PlantTreeWithLink(tree);
    // The decoy's value data and subkey would match if the link were followed.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::wstring(kDecoy) + L"\\Inner", L"Deep", L"kvcsp", KEY_WOW64_64KEY));
    decoySecurity_ = KeySecurity(HKEY_LOCAL_MACHINE, kDecoy, KEY_WOW64_64KEY);
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, tree.c_str(), L"Inner", nullptr, L"kvcsp", 1, 0));
        Printed printed = SplitReports(capture);
        EXPECT_EQ(std::string::npos, printed.text.find("  Inner")) << printed.text;
        EXPECT_EQ(std::string::npos, printed.text.find("^^^")) << printed.text;
    }
    EXPECT_TRUE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link"));
    ExpectDecoyUntouched();

    // A link whose own name matches goes, itself.
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, tree.c_str(), L"Link", nullptr, nullptr, 1, 0));
        EXPECT_NE(std::string::npos, capture.out().find("    Link\n    ^^^ lpKeyNameMatch\nDeleted Link\n"))
            << capture.out();
    }
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, tree + L"\\Sub"));
    ExpectDecoyUntouched();
}

TEST_F(RegistryLinks, MatchingKeyWithALinkBelowGoesWholeAndTheTargetStays) {
    const std::wstring tree = L"Software\\KvTestMatchAbove";
    PlantTreeWithLink(tree);
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, tree.c_str(), L"Sub", nullptr, nullptr, 1, 0));
    EXPECT_NE(std::string::npos, capture.out().find("  Sub\n  ^^^ lpKeyNameMatch\nRight changed Sub\nEnum keys in Sub\n"
                                                    "Deleted Link\nDeleted Sub\n"))
        << capture.out();
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Link"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree + L"\\Sub"));
    ExpectDecoyUntouched();
}

TEST_F(RegistryLinks, DanglingLinkIsListedSearchedOnceAndRemoved) {
    const std::wstring tree = L"Software\\KvTestDangling";
    Plant(HKEY_CURRENT_USER, tree);
    ASSERT_TRUE(CreateLinkKey(HKEY_CURRENT_USER, tree + L"\\Broken", L"\\Registry\\Machine\\Software\\KvNowhere"));
    ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, tree + L"\\Next"));
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, tree.c_str(), L"nothing-matches", nullptr, nullptr, 1, 0));
        EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 0, 0));
        EXPECT_NE(std::string::npos, capture.out().find("  Key: Software\\KvTestDangling\\Broken\n"
                                                        "    ValName: SymbolicLinkValue\n"
                                                        "  Key: Software\\KvTestDangling\\Next\n"))
            << capture.out();
    }
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 1, 0));
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, tree + L"\\Broken"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree));
}

// A row's key planted as a link, where an unprivileged user may write: the
// row shows the link and removes it, never what it points at.
TEST_F(RegistryLinks, LinkAtAKeyRowsStartIsListedAndRemovedItself) {
    const std::wstring row = L"Software\\KvTestLinkRow";
    RemoveAfterwards(HKEY_CURRENT_USER, row);
    ASSERT_TRUE(CreateLinkKey(HKEY_CURRENT_USER, row, kDecoyNtPath));
    const std::string listed = "Key: Software\\KvTestLinkRow\n  ValName: SymbolicLinkValue\n";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, row.c_str(), 0, 0));
        EXPECT_EQ(listed + "\n", capture.out());
    }
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, row.c_str(), 1, 0));
    EXPECT_EQ(listed + "Deleted Software\\KvTestLinkRow\n\n", capture.out());
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, row));
    ExpectDecoyUntouched();
}

// A link in place of a search's starting key: listed as itself, not searched
// (the target's key name and data would match), and removed itself.
TEST_F(RegistryLinks, LinkAtASearchsStartIsListedNotSearchedAndRemovedItself) {
    const std::wstring row = L"Software\\KvTestLinkSearch";
    RemoveAfterwards(HKEY_CURRENT_USER, row);
    ASSERT_TRUE(CreateLinkKey(HKEY_CURRENT_USER, row, kDecoyNtPath));
    const std::string listed = "Searching for\n    KeyName: 'Inner'\n or ValName: ''\n or ValData: 'keep'\n"
                               " in 'Software\\KvTestLinkSearch'\n"
                               "Key: Software\\KvTestLinkSearch\n  ValName: SymbolicLinkValue\n";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, row.c_str(), L"Inner", nullptr, L"keep", 0, 0));
        EXPECT_EQ(listed + "\n", capture.out());
    }
    ConsoleCapture capture;
    EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, row.c_str(), L"Inner", nullptr, L"keep", 1, 0));
    EXPECT_EQ(listed + "Deleted Software\\KvTestLinkSearch\n\n", capture.out());
    EXPECT_FALSE(LinkKeyExists(HKEY_CURRENT_USER, row));
    ExpectDecoyUntouched();
}

// Any key on a row's path may be a link: in the user's own hive one the user
// made, in HKEY_CLASSES_ROOT one in the user's half (Wine merges none: here in
// the machine's). A row reaching other keys through one is skipped, and no
// security is written through it.
TEST_F(RegistryLinks, LinkOnAPathIsNotFollowedUnderAnyRoot) {
    const std::wstring link = L"Software\\KvTestUserPathLink";
    RemoveAfterwards(HKEY_CURRENT_USER, link);
    ASSERT_TRUE(CreateLinkKey(HKEY_CURRENT_USER, link, kDecoyNtPath));
    const std::wstring row = link + L"\\Inner";
    const std::wstring classes = L"KvTestClassesPathLink", machineClasses = L"SOFTWARE\\Classes\\" + classes;
    RemoveAfterwards(HKEY_LOCAL_MACHINE, machineClasses, KEY_WOW64_64KEY);
    ASSERT_TRUE(CreateLinkKey(HKEY_LOCAL_MACHINE, machineClasses, kDecoyNtPath, KEY_WOW64_64KEY));
    g_registryView = KEY_WOW64_64KEY;
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, row.c_str(), 1, 0));
    EXPECT_EQ(0u, SearchRegTree(HKEY_CURRENT_USER, row.c_str(), nullptr, nullptr, L"keep", 1, 0));
    EXPECT_EQ(0u, CleanRegKey(HKEY_CLASSES_ROOT, (classes + L"\\Inner").c_str(), 1, 0));
    EXPECT_EQ(0u, SearchRegTree(HKEY_CLASSES_ROOT, (classes + L"\\Inner").c_str(), nullptr, nullptr, L"keep", 1, 0));
    EXPECT_EQ(0u, RemoveMatchingValues((machineClasses + L"\\Inner").c_str(), L"Deep", 1, 0));
    EXPECT_NE(0u, ChangeRight(HKEY_CLASSES_ROOT, classes.c_str()));
    EXPECT_EQ("Link on the path (skipping): Software\\KvTestUserPathLink\\Inner\n\n"
              "Link on the path (skipping): Software\\KvTestUserPathLink\\Inner\n\n"
              "Link on the path (skipping): KvTestClassesPathLink\\Inner\n\n"
              "Link on the path (skipping): KvTestClassesPathLink\\Inner\n\n"
              "Searching for ValName: SOFTWARE\\Classes\\KvTestClassesPathLink\\Inner\\*Deep*\n"
              "Link on the path (skipping): SOFTWARE\\Classes\\KvTestClassesPathLink\\Inner\n\n",
              SplitReports(capture).text);
    ExpectDecoyUntouched();
}

// Another user's hive is a root of its own (registry/user_hives.h): a key below
// it is checked by the hive's kernel name, and in the 32-bit view a user's
// classes may hold it in their Wow6432Node, where Windows redirects them.
TEST_F(RegistryLinks, KeysOfAnotherUsersHivesAreCheckedUnderTheHiveItself) {
    const std::wstring user = L"KvTestUser", classes = L"KvTestUser_Classes";
    for (const std::wstring& hive : {user, classes}) {
        Plant(HKEY_USERS, hive + L"\\CLSID\\{1}", KEY_WOW64_64KEY);
        Plant(HKEY_USERS, hive + L"\\Wow6432Node\\CLSID\\{1}", KEY_WOW64_64KEY);
    }
    auto check = [](const std::wstring& root, const std::wstring& opened, REGSAM view) {
        HKEY rootKey = nullptr, key = nullptr;
        if (::RegOpenKeyExW(HKEY_USERS, root.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &rootKey) != ERROR_SUCCESS ||
            ::RegOpenKeyExW(HKEY_USERS, opened.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return LONG(ERROR_FILE_NOT_FOUND);
        g_registryView = view;
        LONG status = CheckKeyPath(rootKey, L"CLSID\\{1}", key);
        ::RegCloseKey(key);
        ::RegCloseKey(rootKey);
        return status;
    };
    EXPECT_EQ(ERROR_SUCCESS, check(classes, classes + L"\\CLSID\\{1}", KEY_WOW64_64KEY));
    EXPECT_EQ(ERROR_SUCCESS, check(classes, classes + L"\\Wow6432Node\\CLSID\\{1}", 0));
    EXPECT_EQ(kLinkOnThePath, check(classes, classes + L"\\Wow6432Node\\CLSID\\{1}", KEY_WOW64_64KEY));
    EXPECT_EQ(kLinkOnThePath, check(user, user + L"\\Wow6432Node\\CLSID\\{1}", 0));
    EXPECT_EQ(kLinkOnThePath, check(classes, user + L"\\CLSID\\{1}", KEY_WOW64_64KEY));
}

// A key that merely holds a REG_LINK value named SymbolicLinkValue is no link:
// listed, taken over and removed as any key, with all it holds.
TEST_F(RegistryLinks, KeyHoldingALinkValueIsAnOrdinaryKey) {
    const std::wstring row = L"Software\\KvTestLinkValue";
    Plant(HKEY_CURRENT_USER, row);
    const std::wstring target = kDecoyNtPath;
    ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, row, L"SymbolicLinkValue", REG_LINK, target.data(),
                         static_cast<DWORD>(target.size() * sizeof(wchar_t))));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, row + L"\\Sub", L"B", L"2"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanRegKey(HKEY_CURRENT_USER, row.c_str(), 1, 0));
    EXPECT_EQ("Key: Software\\KvTestLinkValue\n  ValName: SymbolicLinkValue\n"
              "  Key: Software\\KvTestLinkValue\\Sub\n    ValName: B\n"
              "Right changed Software\\KvTestLinkValue\nEnum keys in Software\\KvTestLinkValue\n"
              "Right changed Sub\nEnum keys in Sub\nDeleted Sub\nDeleted Software\\KvTestLinkValue\n\n",
              capture.out());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, row));
    ExpectDecoyUntouched();
}

// Only the parent path of the starting key resolves links; the starting key
// and everything below it are opened as themselves.
TEST_F(RegistryLinks, ListingWipeAndSearchOpenNothingFromTheStartDownWithoutOpenLink) {
    const std::wstring tree = L"Software\\KvTestLinksOpens";
    PlantTreeWithLink(tree);
    OpenRecorder recorder;
    {
        ConsoleCapture capture;
        SearchRegTree(HKEY_CURRENT_USER, tree.c_str(), L"nothing-matches", nullptr, nullptr, 1, 0);
        CleanRegKey(HKEY_CURRENT_USER, tree.c_str(), 1, 0);
    }
    for (const RecordedOpen& open : recorder.opens()) {
        if (open.name == L"Software" || open.name == L"SOFTWARE\\Classes\\CLSID") continue;
        EXPECT_EQ(static_cast<DWORD>(REG_OPTION_OPEN_LINK), open.options) << Utf8(open.name);
    }
    ExpectDecoyUntouched();
}

}  // namespace
