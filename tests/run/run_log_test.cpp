// The run's log when its writing fails.
#include <gtest/gtest.h>

#include "run/run_log.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

// A write that fails ends the log with one report, where it failed; the run
// goes on printing to the console, and the log's end returns the failure.
TEST(RunLog, AWriteThatFailsIsReportedOnceAndPrintingGoesOn) {
    ConsoleCapture capture;
    ASSERT_EQ(0u, StartRunLog()) << capture.out();
    {
        auto diskFull = FailAlways<&Win32Api::WriteFile>(FALSE, ERROR_DISK_FULL);
        WidePrint(L"first\n");
        NarrowPrint("second\n");
    }
    EXPECT_EQ(static_cast<u32>(ERROR_DISK_FULL), EndRunLog());
    const std::string& out = capture.out();
    EXPECT_EQ(0u, out.find("Log file: ")) << out;
    EXPECT_EQ(out.find("An error occurred"), out.rfind("An error occurred")) << out;
    EXPECT_LT(out.find(":Can not write the log file: "), out.find("second\n")) << out;
    RemoveFileTree(KnownFolder(CSIDL_COMMON_APPDATA) + L"\\kvclean");
}

}  // namespace
