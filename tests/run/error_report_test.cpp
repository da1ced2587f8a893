#include <gtest/gtest.h>

#include "run/error_report.h"
#include "tests/support/capture.h"

namespace {

// The system's own text for an error, as the report prints it.
std::string SystemText(DWORD error, UINT codePage = ::GetConsoleOutputCP()) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (!text) return std::string();
    int bytes = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, 0, text, -1, &converted[0], bytes, nullptr, nullptr);
    converted.resize(strlen(converted.c_str()));
    ::LocalFree(text);
    return converted;
}

TEST(ErrorReport, ErrorCodeZeroIsReportedAsAFailureAndLeftBehind) {
    ConsoleCapture capture;
    ::SetLastError(0);
    u32 result = ErrorReport("install", 1295, "Redundant data found");
    EXPECT_EQ(0x7777777u, result);
    EXPECT_EQ(0x7777777u, ::GetLastError());
    std::string expected = "<12>An error occurred in running the program.\n<15>install:1295:Redundant data found\n"
                           "Error number 0x0 (0).\n";
    std::string text = SystemText(0);
    if (!text.empty()) expected += text + "\n";
    EXPECT_EQ(expected + "<7>", capture.outWithColours());
}

TEST(ErrorReport, PrintsBannerPlaceMessageNumberAndSystemTextInColour) {
    ConsoleCapture capture;
    std::wstring key = L"SOFTWARE\\Kor Vane";
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    u32 result = ErrorReport("install", 1305, "Can not RecurseWipeRegTree: %S", key.c_str());
    EXPECT_EQ(2u, result);
    EXPECT_EQ(2u, ::GetLastError());
    std::string systemText = SystemText(2);
    ASSERT_FALSE(systemText.empty());
    EXPECT_EQ("<12>An error occurred in running the program.\n<15>install:1305:Can not RecurseWipeRegTree: "
              "SOFTWARE\\Kor Vane\nError number 0x2 (2).\n" +
                  systemText + "\n<7>",
              capture.outWithColours());
    EXPECT_EQ((std::vector<WORD>{12, 15, 7}), capture.colours());
}

TEST(ErrorReport, ConversionBufferFailureSaysNotEnoughMemoryAndLeavesColourAt15) {
    ConsoleCapture capture;
    auto failFirst = FailNthAllocation(1);
    ::SetLastError(ERROR_ACCESS_DENIED);
    u32 result = ErrorReport("install", 10, "Something");
    EXPECT_EQ(0x80090300u, result);
    EXPECT_EQ("<12>An error occurred in running the program.\n<15>install:10:Something\nError number 0x5 (5).\n"
              "Not enough memory.\n",
              capture.outWithColours());
    EXPECT_EQ((std::vector<WORD>{12, 15}), capture.colours());
}

TEST(ErrorReport, UnformattableErrorPrintsNoSystemText) {
    ConsoleCapture capture;
    ::SetLastError(0x20001234);
    u32 result = ErrorReport("install", 7, "Custom");
    EXPECT_EQ(0x20001234u, result);
    EXPECT_EQ("<12>An error occurred in running the program.\n<15>install:7:Custom\n"
              "Error number 0x20001234 (536875572).\n<7>",
              capture.outWithColours());
}

TEST(ErrorReport, WideArgumentsAreConvertedAsTheRuntimePrintsThem) {
    ConsoleCapture capture;
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    ErrorReport("install", 1, "MoveFileEx from file: %S to %S fail.", L"C:\\a b\\x.dll", L"C:\\a b\\csp1.tmp");
    EXPECT_NE(std::string::npos, capture.out().find("install:1:MoveFileEx from file: C:\\a b\\x.dll to C:\\a "
                                                    "b\\csp1.tmp fail.\nError number 0x2 (2).\n"));
}

// Run by the scenario test with a Russian locale: ANSI code page 1251, console 866.
TEST(ErrorReportRussianLocale, CyrillicArgumentAndSystemTextUseTheirCodePages) {
    ASSERT_EQ(1251u, ::GetACP());
    ASSERT_EQ(866u, ::GetOEMCP());
    // Tests run without a console; the program's users have one in code page 866.
    ScopedHook<&Win32Api::GetConsoleOutputCP> console([] { return 866u; });
    win32.setlocale(LC_ALL, "");
    ConsoleCapture capture;
    ::SetLastError(ERROR_ACCESS_DENIED);
    ErrorReport("install", 3, "Can not remove: %S", L"C:\\Кор-Ване");
    // The message goes through the runtime (ANSI code page), the system text
    // through the console code page.
    EXPECT_NE(std::string::npos, capture.out().find("install:3:Can not remove: C:\\\xCA\xEE\xF0-\xC2\xE0\xED\xE5\n"))
        << capture.out();
    std::string systemText = SystemText(ERROR_ACCESS_DENIED, 866);
    EXPECT_NE(systemText, SystemText(ERROR_ACCESS_DENIED, 1251));
    EXPECT_NE(std::string::npos, capture.out().find("Error number 0x5 (5).\n" + systemText + "\n"));
    win32.setlocale(LC_ALL, "C");
}

// A console code page of several bytes a character needs more bytes than the
// text has units: the system text still comes out whole.
TEST(ErrorReportRussianLocale, SystemTextComesOutWholeInAMultiByteConsoleCodePage) {
    ScopedHook<&Win32Api::GetConsoleOutputCP> console([] { return static_cast<UINT>(CP_UTF8); });
    ConsoleCapture capture;
    ::SetLastError(ERROR_ACCESS_DENIED);
    ErrorReport("install", 4, "Can not remove");
    std::string systemText = SystemText(ERROR_ACCESS_DENIED, CP_UTF8);
    ASSERT_GT(systemText.size(), Wide(systemText).size() + 1) << systemText;
    EXPECT_NE(std::string::npos, capture.out().find("Error number 0x5 (5).\n" + systemText + "\n")) << capture.out();
}

TEST(PrintOptionHelp, PadsTheNameToSixteenAndEndsTheLine) {
    ConsoleCapture capture;
    PrintOptionHelp("warn", "Return error if something redundant left");
    EXPECT_EQ("  -warn             Return error if something redundant left\n", capture.out());
}

TEST(PrintOptionHelp, ContinuationLinesLineUpUnderTheFirst) {
    ConsoleCapture capture;
    PrintOptionHelp("show", "First\nSecond");
    PrintOptionHelp("show", "First\n\nSecond\n");
    std::string once = "  -show             First\n                    Second\n";
    EXPECT_EQ(once + once, capture.out());
}

TEST(PrintOptionHelp, LongNameIsPrintedWholeWithOneBlank) {
    ConsoleCapture capture;
    PrintOptionHelp("a_very_long_option_name", "Text");
    EXPECT_EQ("  -a_very_long_option_name Text\n", capture.out());
}

TEST(PrintOptionHelp, AllocationFailureReportsOutOfMemory) {
    ConsoleCapture capture;
    auto failFirst = FailNthAllocation(1);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    PrintOptionHelp("help", "Shows this screen");
    EXPECT_NE(std::string::npos, capture.outWithColours().find("  -help             <12>An error occurred"));
    EXPECT_NE(std::string::npos, capture.out().find(":Out of memory\nError number 0x8 (8).\n"));
    EXPECT_EQ(std::string::npos, capture.out().find("Shows this screen"));
}

}  // namespace
