#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "tests/support/capture.h"

namespace {

TEST(PlatformTable, StartsWithTheRealFunctions) {
    EXPECT_EQ(kRealWin32.DeleteFileW, win32.DeleteFileW);
    EXPECT_EQ(kRealWin32.RegOpenKeyExW, win32.RegOpenKeyExW);
    EXPECT_EQ(kRealWin32.malloc, win32.malloc);
    EXPECT_EQ(kRealWin32.MessageBoxW, win32.MessageBoxW);
}

TEST(PlatformTable, FailedCallSetsTheChosenErrorAndOnlyForMatchingArguments) {
    auto hook = FailWhen<&Win32Api::GetFileAttributesW>(
        [](LPCWSTR path) { return wcscmp(path, L"C:\\missing-on-purpose") == 0; }, INVALID_FILE_ATTRIBUTES,
        ERROR_SHARING_VIOLATION);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, win32.GetFileAttributesW(L"C:\\missing-on-purpose"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, win32.GetFileAttributesW(L"C:\\windows"));
}

TEST(PlatformTable, RegistryCallFailsWithItsReturnedCode) {
    auto hook = FailAlways<&Win32Api::RegOpenKeyExW>(LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, win32.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key));
}

TEST(PlatformTable, NthAllocationFailsAndOthersSucceed) {
    auto hook = FailNthAllocation(2);
    void* first = win32.malloc(16);
    void* second = win32.malloc(16);
    void* third = win32.malloc(16);
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(nullptr, second);
    EXPECT_NE(nullptr, third);
    win32.free(first);
    win32.free(third);
}

TEST(PlatformTable, HooksNestAndRestoreInOrder) {
    {
        auto outer = FailNthCall<&Win32Api::DeleteFileW>(1, FALSE, ERROR_ACCESS_DENIED);
        auto outerFn = win32.DeleteFileW;
        {
            auto inner = FailNthCall<&Win32Api::DeleteFileW>(1, FALSE, ERROR_SHARING_VIOLATION);
            EXPECT_FALSE(win32.DeleteFileW(L"C:\\nothing-here"));
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
            // The inner hook passes later calls on to the outer one.
            EXPECT_FALSE(win32.DeleteFileW(L"C:\\nothing-here"));
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
        }
        EXPECT_EQ(outerFn, win32.DeleteFileW);
    }
    EXPECT_EQ(kRealWin32.DeleteFileW, win32.DeleteFileW);
}

void FailWhileHooked() {
    auto hook = FailAlways<&Win32Api::RemoveDirectoryW>(FALSE, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(false) << "failing on purpose with a hook in place";
}

TEST(PlatformTable, FailingTestStillRestoresTheRealFunction) {
    EXPECT_FATAL_FAILURE(FailWhileHooked(), "failing on purpose");
    EXPECT_EQ(kRealWin32.RemoveDirectoryW, win32.RemoveDirectoryW);
}

TEST(PlatformTable, DialogsAreAnsweredInOrderAndRecorded) {
    DialogAnswers answers({IDYES, IDNO});
    EXPECT_EQ(IDYES, win32.MessageBoxW(nullptr, L"Первый", L"Предупреждение", MB_YESNO));
    EXPECT_EQ(IDNO, win32.MessageBoxW(nullptr, L"Второй", L"Предупреждение", MB_YESNO | MB_ICONEXCLAMATION));
    EXPECT_EQ(0, win32.MessageBoxW(nullptr, L"Третий", L"Предупреждение", MB_YESNO));
    ASSERT_EQ(3u, answers.shown().size());
    EXPECT_EQ(L"Второй", answers.shown()[1].text);
    EXPECT_EQ(0x34u, answers.shown()[1].style);
}

TEST(PlatformTable, RebootRequestsAreRecordedNotPerformed) {
    RebootRecorder reboots;
    EXPECT_TRUE(win32.ExitWindowsEx(EWX_REBOOT, 0x80040001));
    ASSERT_EQ(1u, reboots.requests().size());
    EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), reboots.requests()[0].flags);
    EXPECT_EQ(0x80040001u, reboots.requests()[0].reason);
}

TEST(PlatformTable, CaptureSeesWideNarrowAndErrorStreams) {
    ConsoleCapture capture;
    WidePrint(L"Key: %ls\n", L"SOFTWARE\\Кор-Ване");
    NarrowPrint("%s:%d:", "install", 12);
    WideErrorPrint(L"%ls: option `%ls' is ambiguous\n", L"kvclean.exe", L"--=x");
    EXPECT_EQ(u8"Key: SOFTWARE\\Кор-Ване\ninstall:12:", capture.out());
    EXPECT_EQ("kvclean.exe: option `--=x' is ambiguous\n", capture.err());
}

}  // namespace
