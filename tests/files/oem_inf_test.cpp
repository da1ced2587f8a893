#include <gtest/gtest.h>

#include "files/oem_inf.h"
#include "run/error_report.h"
#include "tests/files/file_checks.h"

// The tests work in the prefix's real inf folder; Wine lists it sorted by name.

namespace {

const std::wstring kByteOrderMark = L"\xFEFF";

class DriverInf : public testing::Test {
protected:
    void SetUp() override {
        inf_ = KnownFolder(CSIDL_WINDOWS) + L"\\inf";
        RemoveOemFiles();
    }
    void TearDown() override { RemoveOemFiles(); }

    void RemoveOemFiles() {
        for (const std::wstring& name : DirectoryNames(inf_)) {
            if (_wcsnicmp(name.c_str(), L"oem", 3) != 0 && name != L"kvclean.inf") continue;
            std::wstring path = inf_ + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
    std::wstring Path(const std::wstring& name) const { return inf_ + L"\\" + name; }
    std::wstring Write(const std::wstring& name, const std::string& bytes) {
        std::wstring path = Path(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes)) << Utf8(path);
        return path;
    }
    // A driver setup file in UTF-16 with its byte-order mark, and its companion.
    void WritePair(const std::wstring& stem, const std::wstring& text) {
        Write(stem + L".inf", Utf16Bytes(kByteOrderMark + text));
        Write(stem + L".pnf", "compiled");
    }
    std::string Found(const std::wstring& name) const { return "Find file: " + Utf8(Path(name)) + "\n"; }
    std::string Deleted(const std::wstring& name) const { return "Delete file: " + Utf8(Path(name)) + "\n"; }

    std::wstring inf_;
};

const std::wstring kMakerInf = L"[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=KorVane\r\n";

TEST_F(DriverInf, NoDriverSetupFilesIsAPrintedLineAndSuccess) {
    for (int wipe = 0; wipe <= 1; ++wipe) {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanOemInfFiles(wipe));
        EXPECT_EQ("No driver setup files found: " + Utf8(inf_) + "\\oem*.inf\n", capture.out());
    }
}

TEST_F(DriverInf, ListModeShowsTheFileAndItsCompanionAndKeepsThem) {
    WritePair(L"oem7", kMakerInf);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(0));
    EXPECT_EQ(Found(L"oem7.inf") + Found(L"oem7.pnf"), capture.out());
    EXPECT_TRUE(PathExists(Path(L"oem7.inf")));
    EXPECT_TRUE(PathExists(Path(L"oem7.pnf")));
}

TEST_F(DriverInf, WipeModeDeletesTheFileAndItsCompanionEvenWhenReadOnly) {
    WritePair(L"oem7", kMakerInf);
    WritePair(L"oem8", kMakerInf);
    ASSERT_TRUE(::SetFileAttributesW(Path(L"oem8.inf").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW(Path(L"oem8.pnf").c_str(), FILE_ATTRIBUTE_READONLY));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(1));
    EXPECT_EQ(Deleted(L"oem7.inf") + Deleted(L"oem7.pnf") + Deleted(L"oem8.inf") + Deleted(L"oem8.pnf"),
              capture.out());
    for (const wchar_t* name : {L"oem7.inf", L"oem7.pnf", L"oem8.inf", L"oem8.pnf"})
        EXPECT_FALSE(PathExists(Path(name))) << Utf8(name);
}

TEST_F(DriverInf, OnlyTheExactNameInUtf16TextMatches) {
    Write(L"oem1.inf", "[Version]\r\nProvider=KorVane\r\n");
    Write(L"oem1.pnf", "compiled");
    WritePair(L"oem2", L"[Version]\r\nProvider=korvane\r\n");
    WritePair(L"oem3", L"[Version]\r\nProvider=KORVANE\r\n");
    WritePair(L"oem4", L"[Version]\r\nProvider=Kor Vane\r\n");
    WritePair(L"oem5", L"[Version]\r\nProvider=Microsoft\r\n");
    WritePair(L"kvclean", kMakerInf);
    for (int wipe = 0; wipe <= 1; ++wipe) {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanOemInfFiles(wipe));
        EXPECT_EQ("", capture.out());
    }
    for (const wchar_t* stem : {L"oem1", L"oem2", L"oem3", L"oem4", L"oem5", L"kvclean"}) {
        EXPECT_TRUE(PathExists(Path(std::wstring(stem) + L".inf"))) << Utf8(stem);
        EXPECT_TRUE(PathExists(Path(std::wstring(stem) + L".pnf"))) << Utf8(stem);
    }
}

// The last whole unit read becomes the terminator: a name that ends there is
// not seen; one unit more and it is.
TEST_F(DriverInf, TheFilesLastUnitIsNotSearched) {
    WritePair(L"oem1", L"Provider=KorVane");
    Write(L"oem2.inf", Utf16Bytes(kByteOrderMark + L"Provider=KorVane") + "\n");
    Write(L"oem2.pnf", "compiled");
    WritePair(L"oem3", L"Provider=KorVane;");
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(0));
    EXPECT_EQ(Found(L"oem3.inf") + Found(L"oem3.pnf"), capture.out());
}

// Windows names its copies "oem<number>.inf"; a name too long for the path
// buffer is none of them and is passed over.
TEST_F(DriverInf, NameTooLongForThePathBufferIsPassedOver) {
    std::wstring longStem = L"oem" + std::wstring(243, L'9');
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + Path(longStem + L".inf"), Utf16Bytes(kByteOrderMark + kMakerInf)));
    WritePair(L"oem1", kMakerInf);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(1));
    EXPECT_EQ(Deleted(L"oem1.inf") + Deleted(L"oem1.pnf"), capture.out());
    EXPECT_TRUE(PathExists(L"\\\\?\\" + Path(longStem + L".inf")));
    ::DeleteFileW((L"\\\\?\\" + Path(longStem + L".inf")).c_str());
}

TEST_F(DriverInf, EmptyAndOneByteFilesArePassedOverUnopened) {
    Write(L"oem1.inf", "");
    Write(L"oem2.inf", "K");
    WritePair(L"oem3", L"Provider=Microsoft\r\n");
    std::vector<std::wstring> opened;
    auto record = ScopedHook<&Win32Api::CreateFileW>(
        [&opened, real = ScopedHook<&Win32Api::CreateFileW>::Current()](
            LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
            HANDLE templateFile) {
            opened.push_back(path);
            return real(path, access, share, security, disposition, flags, templateFile);
        });
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(1));
    EXPECT_EQ("", capture.out());
    EXPECT_EQ(std::vector<std::wstring>{Path(L"oem3.inf")}, opened);
    EXPECT_TRUE(PathExists(Path(L"oem1.inf")));
    EXPECT_TRUE(PathExists(Path(L"oem2.inf")));
}

TEST_F(DriverInf, ReadShorterThanOneUnitIsPassedOver) {
    WritePair(L"oem1", kMakerInf);
    auto shortRead = ScopedHook<&Win32Api::ReadFile>(
        [real = ScopedHook<&Win32Api::ReadFile>::Current()](HANDLE file, LPVOID buffer, DWORD, LPDWORD got,
                                                            LPOVERLAPPED overlapped) {
            return real(file, buffer, 1, got, overlapped);
        });
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(1));
    EXPECT_EQ("", capture.out());
    EXPECT_TRUE(PathExists(Path(L"oem1.inf")));
}

TEST_F(DriverInf, MissingCompanionIsAPrintedLineAndTheEnumerationGoesOn) {
    Write(L"oem8.inf", Utf16Bytes(kByteOrderMark + kMakerInf));
    WritePair(L"oem9", kMakerInf);
    std::string companionMissing = "File not exist: " + Utf8(Path(L"oem8.pnf")) + "\n";
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanOemInfFiles(0));
        EXPECT_EQ(Found(L"oem8.inf") + companionMissing + Found(L"oem9.inf") + Found(L"oem9.pnf"), capture.out());
    }
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CleanOemInfFiles(1));
        EXPECT_EQ(Deleted(L"oem8.inf") + companionMissing + Deleted(L"oem9.inf") + Deleted(L"oem9.pnf"),
                  capture.out());
    }
    EXPECT_FALSE(PathExists(Path(L"oem8.inf")));
    EXPECT_FALSE(PathExists(Path(L"oem9.inf")));
}

// The first failing file ends the pass; the next pass finds everything again.
TEST_F(DriverInf, FailureEndsTheEnumerationAndLeavesTheRestForTheNextPass) {
    WritePair(L"oem10", kMakerInf);
    WritePair(L"oem11", kMakerInf);
    {
        auto fail = FailNthCall<&Win32Api::CreateFileW>(1, INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_SHARING_VIOLATION), CleanOemInfFiles(1));
        EXPECT_EQ(ReportText("CreateFile()", ERROR_SHARING_VIOLATION), WithoutLineNumbers(capture.out()));
    }
    for (const wchar_t* name : {L"oem10.inf", L"oem10.pnf", L"oem11.inf", L"oem11.pnf"})
        EXPECT_TRUE(PathExists(Path(name))) << Utf8(name);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CleanOemInfFiles(1));
    EXPECT_EQ(Deleted(L"oem10.inf") + Deleted(L"oem10.pnf") + Deleted(L"oem11.inf") + Deleted(L"oem11.pnf"),
              capture.out());
}

TEST_F(DriverInf, EachFailureOfOneFileIsReportedAndEndsThePass) {
    WritePair(L"oem1", kMakerInf);
    WritePair(L"oem2", kMakerInf);
    auto pnf = [](LPCWSTR path) { return wcsstr(path, L".pnf") != nullptr; };
    auto inf = [](LPCWSTR path) { return wcsstr(path, L".inf") != nullptr; };
    {
        auto fail = FailAlways<&Win32Api::ReadFile>(FALSE, ERROR_READ_FAULT);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_READ_FAULT), CleanOemInfFiles(0));
        EXPECT_EQ(ReportText("ReadFile()", ERROR_READ_FAULT), WithoutLineNumbers(capture.out()));
    }
    {
        auto fail = FailNthAllocation(4);  // after the three path buffers: the content
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_NOT_ENOUGH_MEMORY), CleanOemInfFiles(0));
        EXPECT_EQ(ReportText("Out of memory.", ERROR_NOT_ENOUGH_MEMORY), WithoutLineNumbers(capture.out()));
    }
    {
        auto fail = FailWhen<&Win32Api::FindFirstFileW>([pnf](LPCWSTR path, LPWIN32_FIND_DATAW) { return pnf(path); },
                                                        INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanOemInfFiles(0));
        EXPECT_EQ(Found(L"oem1.inf") + ReportText("FindFirstFile()", ERROR_ACCESS_DENIED),
                  WithoutLineNumbers(capture.out()));
    }
    {
        auto fail = FailWhen<&Win32Api::SetFileAttributesW>([inf](LPCWSTR path, DWORD) { return inf(path); }, FALSE,
                                                            ERROR_ACCESS_DENIED);
        ASSERT_TRUE(::SetFileAttributesW(Path(L"oem1.inf").c_str(), FILE_ATTRIBUTE_READONLY));
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanOemInfFiles(1));
        EXPECT_EQ(ReportText("SetFileAttributes() fail", ERROR_ACCESS_DENIED) +
                      ReportText("ChangeFileAttrib() fail", ERROR_ACCESS_DENIED),
                  WithoutLineNumbers(capture.out()));
        ::SetFileAttributesW(Path(L"oem1.inf").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    {
        auto fail = FailWhen<&Win32Api::DeleteFileW>(inf, FALSE, ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanOemInfFiles(1));
        EXPECT_EQ(ReportText("DeleteFile() *.inf", ERROR_ACCESS_DENIED), WithoutLineNumbers(capture.out()));
    }
    {
        auto fail = FailWhen<&Win32Api::DeleteFileW>(pnf, FALSE, ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanOemInfFiles(1));
        EXPECT_EQ(Deleted(L"oem1.inf") + ReportText("DeleteFile() *.pnf", ERROR_ACCESS_DENIED),
                  WithoutLineNumbers(capture.out()));
    }
    EXPECT_TRUE(PathExists(Path(L"oem1.pnf")));
    EXPECT_TRUE(PathExists(Path(L"oem2.inf")));
    EXPECT_TRUE(PathExists(Path(L"oem2.pnf")));
}

TEST_F(DriverInf, FailuresBeforeTheEnumerationAreReported) {
    WritePair(L"oem1", kMakerInf);
    {
        auto fail = FailNthAllocation(3);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_NOT_ENOUGH_MEMORY), CleanOemInfFiles(1));
        EXPECT_EQ(ReportText("Out of memory.", ERROR_NOT_ENOUGH_MEMORY), WithoutLineNumbers(capture.out()));
    }
    {
        auto fail = FailAlways<&Win32Api::SHGetFolderPathW>(E_FAIL, ERROR_PATH_NOT_FOUND);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_PATH_NOT_FOUND), CleanOemInfFiles(1));
        EXPECT_EQ(ReportText("SHGetFolderPath()", ERROR_PATH_NOT_FOUND), WithoutLineNumbers(capture.out()));
    }
    {
        // Only a search that finds nothing is absence; anything else fails.
        auto fail = FailAlways<&Win32Api::FindFirstFileW>(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), CleanOemInfFiles(0));
        EXPECT_EQ(ReportText("FindFirstFile()", ERROR_ACCESS_DENIED), WithoutLineNumbers(capture.out()));
    }
    EXPECT_TRUE(PathExists(Path(L"oem1.inf")));
    EXPECT_TRUE(PathExists(Path(L"oem1.pnf")));
}

}  // namespace
