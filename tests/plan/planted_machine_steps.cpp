// Steps of planted_machine.test.sh: both plans, through their runners, on a
// 64-bit machine that kvfootprint has planted, in the order and with the
// settings the install command uses: the 64-bit view with file-system
// redirection off, then the native view. Disabled in ordinary runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run/process_state.h"
#include "plan/file_plan.h"
#include "plan/registry_plan.h"
#include "platform/file_redirection.h"
#include "tests/support/capture.h"

namespace {

// What one pass (file plan, then registry plan) returned and printed.
struct PassOutcome {
    u32 filePlan;
    u32 registryPlan;
    std::string out;
};

PassOutcome RunPass(int wipe, int warn) {
    ConsoleCapture capture;
    PassOutcome outcome;
    outcome.filePlan = RunFilePlan(wipe, warn);
    outcome.registryPlan = RunRegistryPlan(wipe, warn);
    outcome.out = capture.out();
    return outcome;
}

// Runs `passes` in the 64-bit view: the view flag set and the 64-bit system
// directory reached with redirection off around each file call, as the
// install command has them.
template <typename Passes>
void In64BitView(Passes passes) {
    RedirectionSwitch redirection = {
        LookUpFunction<Wow64DisableWow64FsRedirectionFn>(L"kernel32", "Wow64DisableWow64FsRedirection"),
        LookUpFunction<Wow64RevertWow64FsRedirectionFn>(L"kernel32", "Wow64RevertWow64FsRedirection")};
    ASSERT_TRUE(redirection.disable && redirection.revert) << "not a 32-bit process on 64-bit Windows";
    BeginFileCallsWithoutRedirection(redirection);
    g_registryView = KEY_WOW64_64KEY;
    passes();
    g_registryView = 0;
    EXPECT_TRUE(EndFileCallsWithoutRedirection());
}

bool Shows(const PassOutcome& pass, const std::string& line) { return pass.out.find("\n" + line + "\n") != std::string::npos; }

bool ChangesNothing(const PassOutcome& pass) {
    for (const char* change : {"\nDeleted ", "\nRename: ", "\nRight changed ", "\nDelete file: ", "Marked to delete"})
        if (pass.out.find(change) != std::string::npos) return false;
    return true;
}

void ExpectNoReport(const PassOutcome& pass) {
    EXPECT_EQ(0u, pass.filePlan);
    EXPECT_EQ(0u, pass.registryPlan);
    size_t report = pass.out.find("An error occurred");
    EXPECT_EQ(std::string::npos, report) << pass.out.substr(report == std::string::npos ? 0 : report, 600);
}

TEST(PlantedMachine, DISABLED_ListAndWipePassesInBothViewsRemoveTheFamily) {
    PassOutcome list64, wipe64;
    In64BitView([&] {
        list64 = RunPass(0, 0);
        wipe64 = RunPass(1, 0);
    });
    PassOutcome listNative = RunPass(0, 0);
    PassOutcome wipeNative = RunPass(1, 0);

    for (const PassOutcome* pass : {&list64, &wipe64, &listNative, &wipeNative}) ExpectNoReport(*pass);
    EXPECT_TRUE(ChangesNothing(list64));
    EXPECT_TRUE(ChangesNothing(listNative));

    // The SYSTEM hive is one for both views; SOFTWARE has one of its own in each.
    EXPECT_TRUE(Shows(list64, "Key: SYSTEM\\CurrentControlSet\\Services\\kvrmcsp"));
    EXPECT_TRUE(Shows(list64, "Key: SOFTWARE\\Kor Vane\\Cryptography"));
    EXPECT_TRUE(Shows(wipe64, "Deleted SYSTEM\\CurrentControlSet\\Services\\kvrmcsp"));
    EXPECT_TRUE(Shows(wipe64, "Deleted SOFTWARE\\Kor Vane\\Cryptography"));
    EXPECT_NE(std::string::npos, wipe64.out.find("Rename: C:\\Program Files\\Kor Vane into "));
    EXPECT_TRUE(Shows(listNative, "Key not exist: SYSTEM\\CurrentControlSet\\Services\\kvrmcsp"));
    EXPECT_TRUE(Shows(listNative, "Key: SOFTWARE\\Kor Vane\\Cryptography"));
    EXPECT_TRUE(Shows(wipeNative, "Deleted SOFTWARE\\Kor Vane\\Cryptography"));
    EXPECT_NE(std::string::npos, wipeNative.out.find("Rename: C:\\Program Files (x86)\\Kor Vane into "));
}

// With warn set, anything of the family that a list pass finds is reported
// and fails the pass. The output goes to the script, which reads it too.
TEST(PlantedMachine, DISABLED_ASecondListPassInBothViewsFindsNothing) {
    PassOutcome list64;
    In64BitView([&] { list64 = RunPass(0, 1); });
    PassOutcome listNative = RunPass(0, 1);
    ExpectNoReport(list64);
    ExpectNoReport(listNative);
    std::string both = list64.out + listNative.out;
    fwrite(both.data(), 1, both.size(), stdout);
}

}  // namespace
