#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_redirection.h"
#include "tests/support/hooks.h"

namespace {

std::vector<std::string> g_steps;
DWORD g_disableError = 0;

BOOL WINAPI RecordedDisable(PVOID* saved) {
    *saved = reinterpret_cast<PVOID>(0x1234);
    if (g_disableError != 0) {
        ::SetLastError(g_disableError);
        return FALSE;
    }
    g_steps.push_back("off");
    return TRUE;
}

// Switches back on and, as any call may, leaves a last error of its own.
BOOL WINAPI RecordedRevert(PVOID saved) {
    g_steps.push_back(saved == reinterpret_cast<PVOID>(0x1234) ? "on with the saved value" : "on with another value");
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return TRUE;
}

class FileRedirection : public ::testing::Test {
protected:
    void SetUp() override {
        g_steps.clear();
        g_disableError = 0;
    }

    ScopedHook<&Win32Api::DeleteFileW> deletion{[](LPCWSTR) -> BOOL {
        g_steps.push_back("DeleteFileW");
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }};
    ScopedHook<&Win32Api::RegCloseKey> close{[](HKEY) -> LONG {
        g_steps.push_back("RegCloseKey");
        return ERROR_SUCCESS;
    }};
};

TEST_F(FileRedirection, FileCallRunsBetweenOffAndOnWithItsOwnLastErrorAndOtherCallsAsTheyAre) {
    auto hooked = win32.DeleteFileW;
    BeginFileCallsWithoutRedirection({RecordedDisable, RecordedRevert});
    EXPECT_FALSE(win32.DeleteFileW(L"C:\\nothing-here"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    win32.RegCloseKey(nullptr);
    EXPECT_TRUE(EndFileCallsWithoutRedirection());
    EXPECT_EQ(hooked, win32.DeleteFileW);
    EXPECT_EQ((std::vector<std::string>{"off", "DeleteFileW", "on with the saved value", "RegCloseKey"}), g_steps);
}

// Redirection still on would take the call to the 32-bit directory.
TEST_F(FileRedirection, FileCallWhoseSwitchOffFailsDoesNotRunAndFailsWithTheSwitchError) {
    BeginFileCallsWithoutRedirection({RecordedDisable, RecordedRevert});
    g_disableError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(win32.DeleteFileW(L"C:\\nothing-here"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    WIN32_FIND_DATAW found;
    EXPECT_EQ(INVALID_HANDLE_VALUE, win32.FindFirstFileW(L"C:\\*", &found));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    EXPECT_FALSE(win32.CreateDirectoryW(L"C:\\kvtest-not-made", nullptr));
    EXPECT_TRUE(EndFileCallsWithoutRedirection());
    EXPECT_TRUE(g_steps.empty());
}

}  // namespace
