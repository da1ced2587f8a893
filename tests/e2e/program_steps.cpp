// Steps of the end-to-end scenarios that need the program inside the test's
// own process: kvclean.exe's entry point with its install command (or with one
// pass of its file plan), run on a machine that the scenario has planted, with
// the dialogs answered through the platform table and the reboot request
// recorded instead of performed. The scenario surveys the machine afterwards.
// Disabled in ordinary runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "front/entry_point.h"
#include "front/install_command.h"
#include "plan/file_plan.h"
#include "run/process_state.h"
#include "tests/support/capture.h"
#include "tests/support/hooks.h"
#include "tests/support/machine.h"

namespace {

const char kFirstWarning[] = u8"Все продукты компании Кор-Ване будут уничтожены! Продолжить?";
const char kKeyQuestion[] = u8"Удалить все закрытые ключи?";
const char kKeyConfirmation[] = u8"Точно удалить все закрытые ключи? Эта операция необратима.";
const char kRebootQuestion[] =
    u8"Для завершения удаления продуктов компании Кор-Ване необходима перезагрузка! Выполнить её сейчас?";
const DWORD kRebootReason = 0x80040001;  // planned, application, maintenance

const wchar_t kKeySettings[] = L"SOFTWARE\\Kor Vane\\Settings";

typedef std::vector<std::string> Texts;

struct ProgramRun {
    u32 exitCode;
    std::vector<MessageBoxRecord> dialogs;
    Texts dialogTexts;
    std::vector<RebootRequest> reboots;
    std::string out;
};

// What kvclean.exe does when started with `words` after its own name.
ProgramRun RunProgram(std::vector<std::wstring> words, std::vector<int> answers) {
    words.insert(words.begin(), L"C:\\Tools\\kvclean.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    ConsoleCapture capture;
    DialogAnswers dialogs(std::move(answers));
    RebootRecorder reboots;
    ProgramRun run;
    run.exitCode = RunEntryPoint(static_cast<int>(words.size()), argv.data(), RunInstallCommand);
    run.dialogs = dialogs.shown();
    for (const MessageBoxRecord& dialog : run.dialogs) run.dialogTexts.push_back(Utf8(dialog.text));
    run.reboots = reboots.requests();
    run.out = capture.out();
    return run;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// Where the fourth and last pass's file plan reached the Start Menu.
size_t LastPassStart(const std::string& out) { return out.rfind("Path to Start Menu "); }

// The log that the run's first line names, as UTF-8: UTF-16LE after its byte order mark.
std::string LogText(const std::string& out) {
    const std::string line = "Log file: ";
    if (out.compare(0, line.size(), line) != 0) return "(no log line first)";
    std::string bytes = ReadFileBytes(Wide(out.substr(line.size(), out.find('\n') - line.size()))).value_or("");
    if (bytes.compare(0, 2, "\xFF\xFE") != 0) return "(no byte order mark)";
    return Utf8(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2));
}

void ExpectWholeRun(const ProgramRun& run) {
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(4u, Occurrences(run.out, "Path to Start Menu ")) << "four passes on a 64-bit machine";
    EXPECT_EQ(0u, Occurrences(run.out, "An error occurred")) << run.out.substr(0, 4000);
    // The log holds what the run printed, line for line, with CRLF line ends.
    std::string printed, logged = LogText(run.out);
    for (char c : run.out) printed += c == '\n' ? "\r\n" : std::string(1, c);
    size_t from = std::mismatch(printed.begin(), printed.end(), logged.begin(), logged.end()).first - printed.begin();
    EXPECT_TRUE(printed == logged) << "from byte " << from << ": " << logged.substr(from > 200 ? from - 200 : 0, 400);
    EXPECT_EQ(1u, Occurrences(run.out, "Log file: "));
}

TEST(WholeProgram, DISABLED_PlainVectorNeverOffersTheReboot) {
    ProgramRun run = RunProgram({L"clean"}, {});
    ExpectWholeRun(run);
    EXPECT_EQ(1u, g_rebootNeeded) << "the run removed keys under SYSTEM: a reboot is needed";
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_TRUE(run.reboots.empty());
}

TEST(WholeProgram, DISABLED_WindowVectorOffersTheRebootOnceAndYesRequestsIt) {
    ProgramRun run = RunProgram({}, {IDYES, IDYES});
    ExpectWholeRun(run);
    EXPECT_EQ(1u, g_rebootNeeded);
    ASSERT_EQ((Texts{kFirstWarning, kRebootQuestion}), run.dialogTexts);
    const MessageBoxRecord& question = run.dialogs[1];
    EXPECT_EQ(u8"Предупреждение", Utf8(question.caption));
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), question.style);
    EXPECT_EQ(nullptr, question.owner);
    ASSERT_EQ(1u, run.reboots.size());
    EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), run.reboots[0].flags);
    EXPECT_EQ(kRebootReason, run.reboots[0].reason);
}

TEST(WholeProgram, DISABLED_KeyRequestAnsweredYesRemovesTheKeySettingsInTheNativeView) {
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kKeySettings)) << "not planted";
    ProgramRun run = RunProgram({L"-delkeys"}, {IDYES, IDYES, IDYES, IDNO});
    ExpectWholeRun(run);
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion, kKeyConfirmation, kRebootQuestion}), run.dialogTexts);
    EXPECT_TRUE(run.reboots.empty()) << "the reboot was declined";

    // After every pass, in the native view only.
    std::string removal = "Key: SOFTWARE\\Kor Vane\\Settings\n";
    size_t listed = run.out.rfind(removal);
    ASSERT_NE(std::string::npos, listed);
    EXPECT_GT(listed, LastPassStart(run.out));
    EXPECT_NE(std::string::npos, run.out.find("Deleted SOFTWARE\\Kor Vane\\Settings\n", listed));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKeySettings));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kKeySettings, KEY_WOW64_64KEY));
}

TEST(WholeProgram, DISABLED_KeyRequestAnsweredYesThenNoKeepsTheKeySettings) {
    ProgramRun run = RunProgram({L"-delkeys"}, {IDYES, IDNO, IDNO});
    ExpectWholeRun(run);
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion, kRebootQuestion}), run.dialogTexts);
    EXPECT_EQ(std::string::npos, run.out.find("Key: SOFTWARE\\Kor Vane\\Settings\n"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kKeySettings));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kKeySettings, KEY_WOW64_64KEY));
}

// For undo_restore_64.test.sh: the undo folder refuses new files. Each wipe
// pass reports that once and removes all the same; the run's exit code says so.
TEST(WholeProgram, DISABLED_UndoFolderThatRefusesFilesIsReportedOncePerWipePass) {
    auto refused = FailWhen<&Win32Api::CreateFileW>(
        [](LPCWSTR path, auto...) { return wcsstr(path, L"\\kvclean\\undo\\") != nullptr; }, INVALID_HANDLE_VALUE,
        ERROR_ACCESS_DENIED);
    ProgramRun run = RunProgram({L"clean"}, {});
    EXPECT_EQ(static_cast<u32>(ERROR_ACCESS_DENIED), run.exitCode);
    EXPECT_EQ(4u, Occurrences(run.out, "Path to Start Menu "));
    EXPECT_EQ(2u, Occurrences(run.out, "An error occurred")) << run.out.substr(0, 4000);
    EXPECT_EQ(2u, Occurrences(run.out, ":Can not create the undo file: C:\\ProgramData\\kvclean\\undo\\kvclean-"));
    EXPECT_EQ(0u, Occurrences(run.out, "Undo file: "));
}

// For locale.test.sh: the program as started (its locale), printing to the
// console that the scenario gives it, with one wipe pass of its file plan as
// all its work; that pass prints the Start Menu folders' names.
TEST(WholeProgram, DISABLED_FilePlanPrintsToTheConsole) {
    std::wstring program = L"C:\\Tools\\kvclean.exe", word = L"clean";
    wchar_t* argv[] = {&program[0], &word[0], nullptr};
    EXPECT_EQ(0u, RunEntryPoint(2, argv, [](int, wchar_t**) { return RunFilePlan(1, 0); }));
}

// Another process, for locked_file.test.sh: holds two of the family's modules
// loaded, as a running system would (the provider in its program folder, the
// TLS package in the system directory), until the script lets them go; and a
// tool of the program folder open without leave to delete or move it, until
// the script lets that go first.
TEST(FamilyModuleHolder, DISABLED_HoldUntilReleased) {
    const std::wstring signals = L"C:\\kve2e";
    wchar_t programFiles[MAX_PATH];
    ASSERT_NE(0u, ::ExpandEnvironmentStringsW(L"%ProgramFiles%", programFiles, MAX_PATH));
    const std::wstring modules[] = {std::wstring(programFiles) + L"\\Kor Vane\\CSP\\kvcsp.dll",
                                    KnownFolder(CSIDL_SYSTEM) + L"\\kvssl.dll"};
    std::wstring library = KnownFolder(CSIDL_SYSTEM) + L"\\msimg32.dll";
    std::vector<HMODULE> loaded;
    for (const std::wstring& module : modules) {
        ASSERT_TRUE(PathExists(module)) << "not planted: " << Utf8(module);
        // The planted file becomes a real library, so that it can be loaded.
        ASSERT_TRUE(::CopyFileW(library.c_str(), module.c_str(), FALSE)) << Utf8(module);
        HMODULE handle = ::LoadLibraryW(module.c_str());
        ASSERT_NE(nullptr, handle) << Utf8(module);
        loaded.push_back(handle);
    }
    HANDLE tool = ::CreateFileW((std::wstring(programFiles) + L"\\Kor Vane\\Tools\\kvtest.exe").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, tool);
    ASSERT_TRUE(MakeDirs(signals));
    ASSERT_TRUE(WriteFileBytes(signals + L"\\holder.ready", "ready"));
    for (const wchar_t* signal : {L"\\holder.unlock", L"\\holder.release"}) {
        for (int waited = 0; waited < 1200 && !PathExists(signals + signal); ++waited) ::Sleep(100);
        EXPECT_TRUE(PathExists(signals + signal));
        if (tool == INVALID_HANDLE_VALUE) continue;
        ::CloseHandle(tool);
        tool = INVALID_HANDLE_VALUE;
        ASSERT_TRUE(WriteFileBytes(signals + L"\\holder.unlocked", "unlocked"));
    }
    for (HMODULE handle : loaded) ::FreeLibrary(handle);
}

}  // namespace
