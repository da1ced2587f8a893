#include <gtest/gtest.h>

#include <string>

#include "front/privileges.h"
#include "tests/support/capture.h"

namespace {

// Whether the process token holds the named privilege enabled.
bool PrivilegeEnabled(const wchar_t* name) {
    LUID wanted = {};
    if (!::LookupPrivilegeValueW(nullptr, name, &wanted)) return false;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD bytes = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &bytes);
    std::string buffer(bytes, '\0');
    bool enabled = false;
    if (::GetTokenInformation(token, TokenPrivileges, &buffer[0], bytes, &bytes)) {
        const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
            if (entry.Luid.LowPart == wanted.LowPart && entry.Luid.HighPart == wanted.HighPart)
                enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    ::CloseHandle(token);
    return enabled;
}

// Makes the adjustment succeed partially, as for a token without the privilege.
ScopedHook<&Win32Api::AdjustTokenPrivileges> PrivilegeNotHeld() {
    return ScopedHook<&Win32Api::AdjustTokenPrivileges>(
        [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) -> BOOL {
            ::SetLastError(ERROR_NOT_ALL_ASSIGNED);
            return TRUE;
        });
}

const char kRebootQuestion[] =
    u8"Для завершения удаления продуктов компании Кор-Ване необходима перезагрузка! Выполнить её сейчас?";
const char kCaption[] = u8"Предупреждение";

TEST(TakeOwnershipPrivilege, IsEnabledInTheProcessToken) {
    ConsoleCapture capture;
    EXPECT_EQ(0u, GetPriveleges());
    EXPECT_TRUE(PrivilegeEnabled(L"SeTakeOwnershipPrivilege"));
    EXPECT_EQ("", capture.out());
}

TEST(TakeOwnershipPrivilege, AccountWithoutThePrivilegeStillPasses) {
    ConsoleCapture capture;
    auto notHeld = PrivilegeNotHeld();
    EXPECT_EQ(0u, GetPriveleges());
    EXPECT_EQ("", capture.out());
}

TEST(TakeOwnershipPrivilege, TokenThatCannotBeOpenedIsReported) {
    ConsoleCapture capture;
    auto fail = FailAlways<&Win32Api::OpenProcessToken>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(5u, GetPriveleges());
    EXPECT_NE(std::string::npos, capture.out().find(":OpenProcessToken()\nError number 0x5 (5).\n"));
    EXPECT_EQ(0u, capture.out().find("An error occurred in running the program.\ninstall:"));
}

TEST(TakeOwnershipPrivilege, UnknownPrivilegeIsReportedAndTheTokenClosed) {
    ConsoleCapture capture;
    int opened = 0, closed = 0;
    HANDLE openedToken = nullptr;
    auto open = ScopedHook<&Win32Api::OpenProcessToken>([&](HANDLE process, DWORD access, PHANDLE token) -> BOOL {
        ++opened;
        BOOL ok = ::OpenProcessToken(process, access, token);
        openedToken = *token;
        return ok;
    });
    auto close = ScopedHook<&Win32Api::CloseHandle>([&](HANDLE handle) -> BOOL {
        if (handle == openedToken) ++closed;
        return ::CloseHandle(handle);
    });
    auto lookup = FailAlways<&Win32Api::LookupPrivilegeValueW>(FALSE, ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_EQ(static_cast<u32>(ERROR_NO_SUCH_PRIVILEGE), GetPriveleges());
    EXPECT_NE(std::string::npos, capture.out().find(":LookupPrivilegeValue()\nError number 0x521 (1313).\n"));
    EXPECT_EQ(1, opened);
    EXPECT_EQ(1, closed);
}

class RebootPrompt : public ::testing::Test {
protected:
    RebootRecorder reboots;
};

TEST_F(RebootPrompt, YesRequestsARebootForPlannedMaintenance) {
    DialogAnswers answers({IDYES});
    EXPECT_NE(0, PromptReboot());
    ASSERT_EQ(1u, answers.shown().size());
    const MessageBoxRecord& dialog = answers.shown()[0];
    EXPECT_EQ(kRebootQuestion, Utf8(dialog.text));
    EXPECT_EQ(kCaption, Utf8(dialog.caption));
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), dialog.style);
    EXPECT_EQ(nullptr, dialog.owner);
    ASSERT_EQ(1u, reboots.requests().size());
    EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), reboots.requests()[0].flags);
    EXPECT_EQ(0x80040001u, reboots.requests()[0].reason);
    EXPECT_TRUE(PrivilegeEnabled(L"SeShutdownPrivilege"));
}

TEST_F(RebootPrompt, NoIsHandledAndLeavesTheMachineRunning) {
    DialogAnswers answers({IDNO});
    EXPECT_EQ(1, PromptReboot());
    EXPECT_EQ(1u, answers.shown().size());
    EXPECT_TRUE(reboots.requests().empty());
}

TEST_F(RebootPrompt, DialogThatCannotBeShownCountsAsNo) {
    DialogAnswers answers({0});
    EXPECT_EQ(1, PromptReboot());
    EXPECT_TRUE(reboots.requests().empty());
}

TEST_F(RebootPrompt, RefusedRebootRequestIsAFailure) {
    DialogAnswers answers({IDYES});
    auto refuse = FailAlways<&Win32Api::ExitWindowsEx>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, PromptReboot());
}

TEST_F(RebootPrompt, ShutdownPrivilegeNotHeldGivesNoDialogAndFailure) {
    DialogAnswers answers({IDYES});
    auto notHeld = PrivilegeNotHeld();
    EXPECT_EQ(0, PromptReboot());
    EXPECT_TRUE(answers.shown().empty());
    EXPECT_TRUE(reboots.requests().empty());
}

TEST_F(RebootPrompt, FailedAdjustmentGivesNoDialogAndFailure) {
    DialogAnswers answers({IDYES});
    auto fail = FailAlways<&Win32Api::AdjustTokenPrivileges>(FALSE, ERROR_INVALID_HANDLE);
    EXPECT_EQ(0, PromptReboot());
    EXPECT_TRUE(answers.shown().empty());
}

// Even where an adjustment of the unset identifier would succeed, nothing is
// enabled and nothing asked.
TEST_F(RebootPrompt, UnknownPrivilegeGivesNoDialogAndFailure) {
    DialogAnswers answers({IDYES});
    auto fail = FailAlways<&Win32Api::LookupPrivilegeValueW>(FALSE, ERROR_NO_SUCH_PRIVILEGE);
    int adjustments = 0;
    auto adjust = ScopedHook<&Win32Api::AdjustTokenPrivileges>(
        [&](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) -> BOOL {
            ++adjustments;
            ::SetLastError(ERROR_SUCCESS);
            return TRUE;
        });
    EXPECT_EQ(0, PromptReboot());
    EXPECT_EQ(0, adjustments);
    EXPECT_TRUE(answers.shown().empty());
    EXPECT_TRUE(reboots.requests().empty());
}

TEST_F(RebootPrompt, TokenThatCannotBeOpenedGivesFailureWithoutAReport) {
    ConsoleCapture capture;
    DialogAnswers answers({IDYES});
    auto fail = FailAlways<&Win32Api::OpenProcessToken>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, PromptReboot());
    EXPECT_TRUE(answers.shown().empty());
    EXPECT_EQ("", capture.out());
}

}  // namespace
