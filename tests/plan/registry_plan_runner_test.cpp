#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/process_state.h"
#include "plan/registry_plan.h"
#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"

namespace {

const wchar_t kFirstKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KVanIntegrity";
const wchar_t kLastServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\kvefssrv";

const RegistryPlanEntry& Row(int seq) { return kRegistryPlan[seq - 1]; }

struct OpenedKey {
    HKEY root;
    std::wstring path;
    REGSAM access;
};

// Records every registry open that goes through the platform table, and passes it on.
class OpenRecorder {
public:
    OpenRecorder()
        : previous_(ScopedHook<&Win32Api::RegOpenKeyExW>::Current()),
          hook_([this](HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) -> LONG {
              opened_.push_back({root, path ? path : L"", access});
              return previous_(root, path, options, access, key);
          }) {}
    const std::vector<OpenedKey>& opened() const { return opened_; }

private:
    std::vector<OpenedKey> opened_;
    ScopedHook<&Win32Api::RegOpenKeyExW>::Function previous_;
    ScopedHook<&Win32Api::RegOpenKeyExW> hook_;
};

// Rows that open the key they name; the repairs open keys of their own.
bool OpensItsPath(const RegistryPlanEntry& entry) {
    return entry.kind == kKey || entry.kind == kSearch || entry.kind == kValueMatch;
}
HKEY RootOf(const RegistryPlanEntry& entry) { return entry.kind == kValueMatch ? HKEY_LOCAL_MACHINE : entry.root; }
// What a row opens first under its root: a key row or a search the parent
// path of its key (the key itself is then opened below it, as itself); a
// value row its key.
std::wstring FirstOpenOf(const RegistryPlanEntry& entry) {
    std::wstring path = entry.path;
    size_t separator = path.rfind(L'\\');
    if (entry.kind == kValueMatch || separator == std::wstring::npos) return path;
    return path.substr(0, separator);
}

// The first row from `firstSeq` on whose key was never opened, in plan order; 0 when every one was.
int FirstRowNotOpenedInOrder(const std::vector<OpenedKey>& opened, int firstSeq) {
    size_t at = 0;
    for (int seq = firstSeq; seq <= kRegistryPlanSize; ++seq) {
        const RegistryPlanEntry& entry = Row(seq);
        if (!OpensItsPath(entry)) continue;
        while (at < opened.size() && !(opened[at].root == RootOf(entry) && opened[at].path == FirstOpenOf(entry))) ++at;
        if (at == opened.size()) return seq;
        ++at;
    }
    return 0;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(RegistryPlanRunner, ListPassOnACleanMachineFindsNothingAndSucceeds) {
    g_registryView = 0;
    ConsoleCapture capture;
    EXPECT_EQ(0u, RunRegistryPlan(0, 0));
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.kind != kKey) continue;
        EXPECT_NE(std::string::npos, capture.out().find("Key not exist: " + Utf8(entry.path) + "\n")) << entry.seq;
    }
}

TEST(RegistryPlanRunner, FailureInTheFirstEntryStillRunsEveryOtherEntry) {
    g_registryView = 0;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kFirstKey, L"Level", L"3"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KVanPatches",
                          L"Patch", L"1"));
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, Row(259).path));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, Row(536).path));

    OpenRecorder recorder;
    // Entry 1's key can be read but not opened for its removal.
    auto refuse = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM access, PHKEY) {
            return name && wcscmp(name, L"KVanIntegrity") == 0 && (access & DELETE);
        },
        LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    u32 result = RunRegistryPlan(1, 0);

    EXPECT_NE(0u, result);
    EXPECT_NE(std::string::npos, capture.out().find("Can not RecurseWipeRegTree: " + Utf8(kFirstKey)));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kFirstKey));
    EXPECT_EQ(0, FirstRowNotOpenedInOrder(recorder.opened(), 2));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KVanPatches"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, Row(259).path));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Row(536).path));
    DeleteTree(HKEY_LOCAL_MACHINE, kFirstKey);
}

TEST(RegistryPlanRunner, RepeatedEntriesRunEachTimeAndTheSecondRunFindsNothing) {
    g_registryView = 0;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kLastServiceKey, L"ImagePath", L"kvefssrv.exe"));
    ConsoleCapture capture;
    RunRegistryPlan(1, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kLastServiceKey));
    std::string missing = "Key not exist: " + Utf8(kLastServiceKey) + "\n";
    // Seq 527 removed it; seq 530 found nothing.
    EXPECT_EQ(1u, Occurrences(capture.out(), missing));
    EXPECT_EQ(1u, Occurrences(capture.out(), "Key: " + Utf8(kLastServiceKey) + "\n"));

    capture.clear();
    EXPECT_EQ(0u, RunRegistryPlan(0, 0));
    EXPECT_EQ(2u, Occurrences(capture.out(), missing));
}

TEST(RegistryPlanRunner, EveryRegistryOpenCarriesTheViewFlagOfThePass) {
    g_registryView = KEY_WOW64_64KEY;
    OpenRecorder recorder;
    {
        ConsoleCapture capture;
        RunRegistryPlan(0, 0);
    }
    g_registryView = 0;
    ASSERT_FALSE(recorder.opened().empty());
    for (const OpenedKey& open : recorder.opened()) EXPECT_TRUE(open.access & KEY_WOW64_64KEY) << Utf8(open.path);
    EXPECT_EQ(0, FirstRowNotOpenedInOrder(recorder.opened(), 1));
}

// Other users' hives: one held open elsewhere cannot be loaded, a failure; one
// whose file is missing is one line, no failure, and its profile's classes are
// not tried; an unload that keeps failing is tried again, then reported; one
// that a stopped run left loaded under the program's name is unloaded first.
void ExpectOtherUsersHivesThatCannotBeLoadedOrUnloadedReportedMissingOnesSkipped() {
    g_registryView = 0;
    const std::wstring list = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9-9-9-";
    const std::wstring users = MakeScratchDirectory(L"kvusers");
    for (const wchar_t* user : {L"1001", L"1002", L"1003", L"1004"})
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, list + user, L"ProfileImagePath", users + L"\\" + user, KEY_WOW64_64KEY));
    const std::wstring leftover = L"kvclean-S-1-5-21-9-9-9-1004";
    ASSERT_TRUE(CreateKey(HKEY_USERS, leftover));
    auto load = ScopedHook<&Win32Api::RegLoadKeyW>([](HKEY root, LPCWSTR name, LPCWSTR file) -> LONG {
        if (wcsstr(file, L"1001\\NTUSER.DAT")) return ERROR_SHARING_VIOLATION;
        if (wcsstr(file, L"1002\\NTUSER.DAT") || wcsstr(file, L"1004\\NTUSER.DAT"))
            return KeyExists(root, name) ? ERROR_ALREADY_EXISTS : CreateKey(root, name) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
        return ERROR_FILE_NOT_FOUND;
    });
    int unloads = 0;
    auto unload = ScopedHook<&Win32Api::RegUnLoadKeyW>([&](HKEY root, LPCWSTR name) -> LONG {
        if (wcsstr(name, L"1002")) return ++unloads, ERROR_ACCESS_DENIED;
        return DeleteTree(root, name), ERROR_SUCCESS;
    });
    auto pause = ScopedHook<&Win32Api::Sleep>([](DWORD) {});
    ConsoleCapture capture;
    EXPECT_NE(0u, RunRegistryPlan(0, 0));
    DeleteTree(HKEY_USERS, L"kvclean-S-1-5-21-9-9-9-1002");
    for (const wchar_t* user : {L"1001", L"1002", L"1003", L"1004"}) DeleteTree(HKEY_LOCAL_MACHINE, list + user, KEY_WOW64_64KEY);
    const std::string out = capture.out(), folder = Utf8(users);
    EXPECT_NE(std::string::npos, out.find("Can not load the hive " + folder + "\\1001\\NTUSER.DAT"));
    EXPECT_NE(std::string::npos, out.find("Hive of S-1-5-21-9-9-9-1002 (loaded as HKEY_USERS\\kvclean-S-1-5-21-9-9-9-1002): " +
                                          folder + "\\1002\\NTUSER.DAT\nKey not exist: Software\\Kor Vane\\EFS\n"));
    EXPECT_NE(std::string::npos, out.find("Can not unload the hive loaded as HKEY_USERS\\kvclean-S-1-5-21-9-9-9-1002"));
    EXPECT_EQ(5, unloads);
    EXPECT_NE(std::string::npos,
              out.find("Hive file not found (skipping): S-1-5-21-9-9-9-1003: " + folder + "\\1003\\NTUSER.DAT\n"));
    EXPECT_EQ(std::string::npos, out.find("1003\\Local Settings"));
    EXPECT_NE(std::string::npos, out.find("Hive left loaded by an earlier run, unloaded: HKEY_USERS\\" + Utf8(leftover) +
                                          "\nHive of S-1-5-21-9-9-9-1004 (loaded as HKEY_USERS\\" + Utf8(leftover)));
    EXPECT_FALSE(KeyExists(HKEY_USERS, leftover));
    RemoveFileTree(users);
}

TEST(RegistryPlanRunner, OtherUsersHivesThatCannotBeLoadedOrUnloadedAreReportedMissingOnesSkipped) {
    ExpectOtherUsersHivesThatCannotBeLoadedOrUnloadedReportedMissingOnesSkipped();
}
TEST(RegistryPlanRunnerOn32BitMachine, OtherUsersHivesThatCannotBeLoadedOrUnloadedAreReportedMissingOnesSkipped) {
    ExpectOtherUsersHivesThatCannotBeLoadedOrUnloadedReportedMissingOnesSkipped();
}

}  // namespace
