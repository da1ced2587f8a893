#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "front/install_command.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

// Everything the recording steps and hooks saw, in order.
std::vector<std::string> g_events;
// What the recorded passes return, one after another (0 when the list runs out).
std::vector<u32> g_passResults;
size_t g_passesRun = 0;
// A file reached through the system directory only while redirection is on
// (in a 64-bit prefix it lies in SysWOW64).
std::wstring g_sentinel;
// Set by a recorded pass to ask for a reboot, as a removal under SYSTEM does.
bool g_passNeedsReboot = false;

std::string Hex(u32 value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Whether the sentinel is out of reach, so redirection off: for a file call
// through the table (as the passes make them) and for a call of the pass itself.
u32 RecordPass(int wipe, int warn) {
    bool fileCallRedirected = win32.GetFileAttributesW(g_sentinel.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool passRedirected = ::GetFileAttributesW(g_sentinel.c_str()) != INVALID_FILE_ATTRIBUTES;
    g_events.push_back(std::string(wipe ? "wipe" : "list") + " pass warn=" + std::to_string(warn) +
                       " view=" + Hex(g_registryView) + (fileCallRedirected ? "" : " redirection off for file calls") +
                       (passRedirected ? "" : " redirection off for the pass"));
    if (g_passNeedsReboot) g_rebootNeeded = 1;
    return g_passesRun < g_passResults.size() ? g_passResults[g_passesRun++] : 0;
}

u32 RecordKeyRemoval(HKEY root, const wchar_t* subkey, int wipe, int warn) {
    g_events.push_back(std::string(root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "?\\") + Utf8(subkey) +
                       " wipe=" + std::to_string(wipe) + " warn=" + std::to_string(warn) +
                       " view=" + Hex(g_registryView));
    return 0;
}

const InstallSteps kRecordingSteps = {RecordPass, RecordKeyRemoval};

typedef std::vector<std::string> Events;

const Events kFourPasses = {
    "list pass warn=0 view=0x100 redirection off for file calls",
    "wipe pass warn=0 view=0x100 redirection off for file calls",
    "list pass warn=0 view=0x0",
    "wipe pass warn=0 view=0x0",
};

const char kUsage[] =
    "C:\\kv\\kvclean.exe -install [<command>] [<options>]\n"
    "KVTEST CSP install info and clearing out\n"
    "<commands>:\n"
    "  -show             Installation information\n"
    "  -clear            Clear out KorVane CSP\n"
    "  -delkeys          Clear out User keys\n"
    "  -help             Shows this screen\n"
    "<options>:\n"
    "  -warn             Return error if something redundant left\n";

const char kNothingRemoved[] =
    "kvclean: removed 0 registry keys, 0 values, 0 list entries, 0 files and folders; 0 deferred to the next reboot; "
    "0 failures\n";

// The reboot question and the reboot request go into the event list too, so
// that their place in the run shows.
class InstallSequence : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRunCounts();
        g_events.clear();
        g_passResults.clear();
        g_passesRun = 0;
        g_passNeedsReboot = false;
        g_rebootNeeded = 0;
        g_programName = L"C:\\kv\\kvclean.exe";
        wchar_t system[MAX_PATH];
        ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
        g_sentinel = std::wstring(system) + L"\\kvfront-redirection-sentinel.txt";
        ASSERT_TRUE(WriteFileBytes(g_sentinel, "sentinel"));
    }
    void TearDown() override {
        EXPECT_EQ(0u, g_registryView);
        g_rebootNeeded = 0;
        ::DeleteFileW(g_sentinel.c_str());
    }

    // The vector as a main function gets it, element 0 being the program.
    wchar_t** Argv(std::vector<std::wstring> words) {
        words_ = std::move(words);
        words_.insert(words_.begin(), L"C:\\kv\\kvclean.exe");
        argv_.clear();
        for (std::wstring& word : words_) argv_.push_back(&word[0]);
        argv_.push_back(nullptr);
        return argv_.data();
    }
    int Argc() const { return static_cast<int>(words_.size()); }

    u32 Run(std::vector<std::wstring> words) {
        wchar_t** argv = Argv(std::move(words));
        return RunInstallSteps(Argc(), argv, kRecordingSteps);
    }

    std::vector<std::wstring> words_;
    std::vector<wchar_t*> argv_;

    ConsoleCapture capture;
    int rebootAnswer = IDNO;
    ScopedHook<&Win32Api::MessageBoxW> dialogs{[this](HWND, LPCWSTR text, LPCWSTR, UINT) -> int {
        g_events.push_back("dialog " + Utf8(text));
        return rebootAnswer;
    }};
    ScopedHook<&Win32Api::ExitWindowsEx> reboots{[](UINT flags, DWORD reason) -> BOOL {
        g_events.push_back("reboot flags=" + std::to_string(flags) + " reason=" + Hex(reason));
        return TRUE;
    }};
};

const std::string kRebootDialog =
    "dialog " + std::string(u8"Для завершения удаления продуктов компании Кор-Ване необходима перезагрузка! Выполнить её сейчас?");

TEST_F(InstallSequence, ListAndWipeRunIn64BitViewWithRedirectionOffForFileCallsThenNatively) {
    EXPECT_EQ(0u, Run({L"-show", L"-clear"}));
    EXPECT_EQ(kFourPasses, g_events);
    EXPECT_EQ("", capture.out());
    EXPECT_EQ("", capture.err());
}

TEST_F(InstallSequence, ListComesBeforeWipeWhateverTheOptionOrder) {
    EXPECT_EQ(0u, Run({L"-clear", L"-show", L"-clear"}));
    EXPECT_EQ(kFourPasses, g_events);
}

TEST_F(InstallSequence, ShowAloneOnlyLists) {
    EXPECT_EQ(0u, Run({L"-show"}));
    EXPECT_EQ((Events{"list pass warn=0 view=0x100 redirection off for file calls", "list pass warn=0 view=0x0"}),
              g_events);
}

TEST_F(InstallSequence, ClearAloneOnlyWipes) {
    EXPECT_EQ(0u, Run({L"--clear"}));
    EXPECT_EQ((Events{"wipe pass warn=0 view=0x100 redirection off for file calls", "wipe pass warn=0 view=0x0"}),
              g_events);
}

TEST_F(InstallSequence, WarnReachesEveryPass) {
    Run({L"-show", L"-clear", L"-warn"});
    EXPECT_EQ((Events{
                  "list pass warn=1 view=0x100 redirection off for file calls",
                  "wipe pass warn=1 view=0x100 redirection off for file calls",
                  "list pass warn=1 view=0x0",
                  "wipe pass warn=1 view=0x0",
              }),
              g_events);
}

TEST_F(InstallSequence, EveryPassRunsAndTheResultIsTheOrOfAll) {
    g_passResults = {0x10, 0x2, 0x100, 0x5};
    EXPECT_EQ(0x117u, Run({L"-show", L"-clear"}));
    EXPECT_EQ(4u, g_events.size());
}

TEST_F(InstallSequence, WarnAloneEnablesThePrivilegeAndRunsNothing) {
    std::vector<std::wstring> looked;
    auto lookup = ScopedHook<&Win32Api::LookupPrivilegeValueW>([&](LPCWSTR system, LPCWSTR name, PLUID luid) {
        looked.push_back(name);
        return ::LookupPrivilegeValueW(system, name, luid);
    });
    EXPECT_EQ(0u, Run({L"-warn"}));
    EXPECT_EQ((std::vector<std::wstring>{L"SeTakeOwnershipPrivilege"}), looked);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ("", capture.out());
}

TEST_F(InstallSequence, HelpAfterShowPrintsUsageAndRunsNothing) {
    auto noToken = FailAlways<&Win32Api::OpenProcessToken>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0u, Run({L"-show", L"-help", L"-bogus"}));
    EXPECT_EQ(kUsage, capture.out());
    EXPECT_EQ("", capture.err());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(InstallSequence, NoOptionsPrintUsageAndFail) {
    EXPECT_EQ(1u, Run({}));
    EXPECT_EQ(kUsage, capture.out());
    capture.clear();
    EXPECT_EQ(1u, Run({L"word", L"-"}));
    EXPECT_EQ(kUsage, capture.out());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(InstallSequence, ScannerErrorStopsBeforeAnythingRuns) {
    EXPECT_EQ(1u, Run({L"-show", L"-clear", L"-SHOW"}));
    EXPECT_EQ("C:\\kv\\kvclean.exe: unrecognized option `-SHOW'\n", capture.err());
    EXPECT_EQ("", capture.out());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(InstallSequence, ValueGivenToAnOptionStopsTheRun) {
    EXPECT_EQ(1u, Run({L"--show=1", L"-clear"}));
    EXPECT_EQ("C:\\kv\\kvclean.exe: option `--show' doesn't allow an argument\n", capture.err());
    EXPECT_TRUE(g_events.empty());
}

TEST_F(InstallSequence, NonOptionBetweenOptionsIsIgnored) {
    EXPECT_EQ(0u, Run({L"-show", L"anything", L"-cl"}));
    EXPECT_EQ(kFourPasses, g_events);
}

TEST_F(InstallSequence, PrivilegeFailureStopsBeforeAnyPassWithTwoReportsOfOneError) {
    auto noToken = FailAlways<&Win32Api::OpenProcessToken>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(5u, Run({L"-show", L"-clear", L"-delkeys"}));
    EXPECT_TRUE(g_events.empty());
    std::string out = capture.out();
    size_t first = out.find(":OpenProcessToken()\nError number 0x5 (5).\n");
    size_t second = out.find(":GetPriveleges() fail\nError number 0x5 (5).\n");
    EXPECT_NE(std::string::npos, first);
    EXPECT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
}

// The token is closed between the two reports; whatever that leaves as the
// last error, the second report shows the number of the first.
TEST_F(InstallSequence, SecondPrivilegeReportShowsTheFirstErrorWhateverTheTokenCloseLeaves) {
    auto unknown = FailAlways<&Win32Api::LookupPrivilegeValueW>(FALSE, ERROR_NO_SUCH_PRIVILEGE);
    auto close = ScopedHook<&Win32Api::CloseHandle>([](HANDLE handle) -> BOOL {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    });
    EXPECT_EQ(static_cast<u32>(ERROR_NO_SUCH_PRIVILEGE), Run({L"-show"}));
    EXPECT_TRUE(g_events.empty());
    EXPECT_NE(std::string::npos, capture.out().find(":GetPriveleges() fail\nError number 0x521 (1313).\n"));
}

TEST_F(InstallSequence, KeySettingsGoAfterAllPassesInTheNativeView) {
    EXPECT_EQ(0u, Run({L"-delkeys", L"-show", L"-clear"}));
    Events expected = kFourPasses;
    expected.push_back("HKLM\\SOFTWARE\\Kor Vane\\Settings wipe=1 warn=0 view=0x0");
    EXPECT_EQ(expected, g_events);
}

TEST_F(InstallSequence, KeySettingsAreRemovedEvenWithoutClear) {
    EXPECT_EQ(0u, Run({L"-delkeys", L"-warn"}));
    EXPECT_EQ((Events{"HKLM\\SOFTWARE\\Kor Vane\\Settings wipe=1 warn=1 view=0x0"}), g_events);
}

TEST_F(InstallSequence, RebootIsOfferedLastFromTheWindowEntryWhenNeeded) {
    g_passNeedsReboot = true;
    rebootAnswer = IDYES;
    EXPECT_EQ(0u, Run({L"-show", L"-clear", L"-delkeys", L"-from_window"}));
    Events expected = kFourPasses;
    expected.push_back("HKLM\\SOFTWARE\\Kor Vane\\Settings wipe=1 warn=0 view=0x0");
    expected.push_back(kRebootDialog);
    expected.push_back("reboot flags=2 reason=0x80040001");
    EXPECT_EQ(expected, g_events);
}

TEST_F(InstallSequence, DeclinedRebootIsNotAFailure) {
    g_passNeedsReboot = true;
    EXPECT_EQ(0u, Run({L"-show", L"-clear", L"-from_window"}));
    EXPECT_EQ(kRebootDialog, g_events.back());
}

TEST_F(InstallSequence, NoRebootOfferWithoutTheWindowEntryEvenWhenNeeded) {
    g_passNeedsReboot = true;
    rebootAnswer = IDYES;
    EXPECT_EQ(0u, Run({L"-show", L"-clear"}));
    EXPECT_EQ(kFourPasses, g_events);
    EXPECT_EQ(1u, g_rebootNeeded);
}

TEST_F(InstallSequence, NoRebootOfferWhenNothingNeedsIt) {
    rebootAnswer = IDYES;
    EXPECT_EQ(0u, Run({L"-show", L"-clear", L"-from_window"}));
    EXPECT_EQ(kFourPasses, g_events);
}

TEST_F(InstallSequence, FailedRebootPromptAddsOne) {
    g_passNeedsReboot = true;
    g_passResults = {0x10, 0, 0, 0};
    // The take-ownership step ignores a privilege it cannot get; the prompt does not.
    auto notHeld = ScopedHook<&Win32Api::AdjustTokenPrivileges>(
        [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) -> BOOL {
            ::SetLastError(ERROR_NOT_ALL_ASSIGNED);
            return TRUE;
        });
    EXPECT_EQ(0x11u, Run({L"-show", L"-clear", L"-from_window"}));
    EXPECT_EQ(kFourPasses, g_events);
}

// WOW64 functions looked up by name; tests swap in their own.
std::vector<std::string> g_lookups;

template <typename Fn>
Fn RealKernel32(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), name)));
}

BOOL WINAPI IsWow64ProcessFails(HANDLE, PBOOL) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI DisableFails(PVOID*) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
// The value handed out is shifted, so that only the same value given back
// restores the real one.
const uintptr_t kShift = 0x5A5A0000;
BOOL WINAPI DisableAndRecord(PVOID* saved) {
    BOOL ok = RealKernel32<Wow64DisableWow64FsRedirectionFn>("Wow64DisableWow64FsRedirection")(saved);
    *saved = reinterpret_cast<PVOID>(reinterpret_cast<uintptr_t>(*saved) + kShift);
    g_events.push_back("redirection off");
    return ok;
}
BOOL WINAPI RevertAndRecord(PVOID saved) {
    uintptr_t value = reinterpret_cast<uintptr_t>(saved);
    g_events.push_back(value >= kShift && value < kShift + 0x10000 ? "revert with the saved value"
                                                                    : "revert with another value");
    return RealKernel32<Wow64RevertWow64FsRedirectionFn>("Wow64RevertWow64FsRedirection")(
        reinterpret_cast<PVOID>(value - kShift));
}
// Switches back every time; says so for the first g_revertsThatSucceed calls only.
int g_revertsThatSucceed = 0;
BOOL WINAPI RevertThenFail(PVOID saved) {
    BOOL reverted = RevertAndRecord(saved);
    if (g_revertsThatSucceed-- > 0) return reverted;
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

// Answers lookups of the named functions with the replacements (null: absent);
// records every lookup.
ScopedHook<&Win32Api::GetProcAddress> ReplaceFunctions(std::map<std::string, void*> replacements) {
    g_lookups.clear();
    return ScopedHook<&Win32Api::GetProcAddress>([=](HMODULE module, LPCSTR wanted) -> FARPROC {
        g_lookups.push_back(wanted);
        auto replacement = replacements.find(wanted);
        if (replacement != replacements.end()) return reinterpret_cast<FARPROC>(replacement->second);
        return ::GetProcAddress(module, wanted);
    });
}

void* Fn(BOOL(WINAPI* function)(PVOID*)) { return reinterpret_cast<void*>(function); }
void* Fn(BOOL(WINAPI* function)(PVOID)) { return reinterpret_cast<void*>(function); }
void* Fn(BOOL(WINAPI* function)(HANDLE, PBOOL)) { return reinterpret_cast<void*>(function); }

const Events kNativePassesOnly = {"list pass warn=0 view=0x0", "wipe pass warn=0 view=0x0"};

TEST_F(InstallSequence, WowFunctionsAreLookedUpInKernel32AtEveryRun) {
    std::vector<std::wstring> modules;
    auto moduleHook = ScopedHook<&Win32Api::GetModuleHandleW>([&](LPCWSTR name) {
        modules.push_back(name ? name : L"(null)");
        return ::GetModuleHandleW(name);
    });
    auto lookups = ReplaceFunctions({});
    Run({L"-show"});
    Run({L"-show"});
    std::vector<std::string> once = {"IsWow64Process", "Wow64DisableWow64FsRedirection",
                                     "Wow64RevertWow64FsRedirection"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(twice, g_lookups);
    EXPECT_EQ(std::vector<std::wstring>(6, L"kernel32"), modules);
}

// Once to see that the switch works, then around each file call of the
// 64-bit passes (one in each recorded pass).
TEST_F(InstallSequence, RedirectionIsSwitchedOffAroundEachFileCallAndBackWithTheValueSaved) {
    auto wow = ReplaceFunctions({{"Wow64DisableWow64FsRedirection", Fn(DisableAndRecord)},
                                 {"Wow64RevertWow64FsRedirection", Fn(RevertAndRecord)}});
    EXPECT_EQ(0u, Run({L"-show", L"-clear"}));
    Events expected = {"redirection off", "revert with the saved value",
                       "redirection off", "revert with the saved value", kFourPasses[0],
                       "redirection off", "revert with the saved value", kFourPasses[1],
                       kFourPasses[2], kFourPasses[3]};
    EXPECT_EQ(expected, g_events);
}

// IsWow64Process missing or failing, redirection that cannot be switched off,
// or no way to switch it back on: the 64-bit passes are left out, and nothing is reported.
TEST_F(InstallSequence, NoWayInto64BitViewRunsOnlyTheNativePassesSilently) {
    const std::map<std::string, void*> cases[] = {
        {{"IsWow64Process", nullptr}},
        {{"IsWow64Process", Fn(IsWow64ProcessFails)}},
        {{"Wow64DisableWow64FsRedirection", Fn(DisableFails)}},
        {{"Wow64RevertWow64FsRedirection", nullptr}},
    };
    for (const auto& replacements : cases) {
        g_events.clear();
        auto replaced = ReplaceFunctions(replacements);
        EXPECT_EQ(0u, Run({L"-show", L"-clear"})) << replacements.begin()->first;
        EXPECT_EQ(kNativePassesOnly, g_events) << replacements.begin()->first;
        EXPECT_EQ("", capture.out());
    }
}

TEST_F(InstallSequence, WithoutTheDisableFunctionThe64BitPassesRunWithRedirectionOn) {
    auto absent = ReplaceFunctions({{"Wow64DisableWow64FsRedirection", nullptr}});
    EXPECT_EQ(0u, Run({L"-show", L"-clear"}));
    EXPECT_EQ((Events{"list pass warn=0 view=0x100", "wipe pass warn=0 view=0x100", "list pass warn=0 view=0x0",
                      "wipe pass warn=0 view=0x0"}),
              g_events);
}

const char kRevertReport[] = ":Wow64RevertWow64FsRedirection() fail\nError number 0x1 (1).\n";

// The switch works once, then fails to go back on after the file calls: one
// report after the 64-bit passes, and the native passes still run.
TEST_F(InstallSequence, FailedRevertAroundFileCallsIsReportedOnceAndTheNativePassesStillRun) {
    g_revertsThatSucceed = 1;
    auto wow = ReplaceFunctions({{"Wow64DisableWow64FsRedirection", Fn(DisableAndRecord)},
                                 {"Wow64RevertWow64FsRedirection", Fn(RevertThenFail)}});
    EXPECT_EQ(static_cast<u32>(ERROR_INVALID_FUNCTION), Run({L"-show", L"-clear"}));
    Events expected = {"redirection off", "revert with the saved value",
                       "redirection off", "revert with the saved value", kFourPasses[0],
                       "redirection off", "revert with the saved value", kFourPasses[1],
                       kFourPasses[2], kFourPasses[3]};
    EXPECT_EQ(expected, g_events);
    size_t report = capture.out().find(kRevertReport);
    EXPECT_NE(std::string::npos, report);
    EXPECT_EQ(std::string::npos, capture.out().find(kRevertReport, report + 1));
}

// A switch that does not go back on is no switch: reported, and only the
// native passes run.
TEST_F(InstallSequence, RedirectionThatCannotBeSwitchedBackOnLeavesThe64BitPassesOut) {
    g_revertsThatSucceed = 0;
    auto wow = ReplaceFunctions({{"Wow64DisableWow64FsRedirection", Fn(DisableAndRecord)},
                                 {"Wow64RevertWow64FsRedirection", Fn(RevertThenFail)}});
    EXPECT_EQ(static_cast<u32>(ERROR_INVALID_FUNCTION), Run({L"-show", L"-clear"}));
    Events expected = {"redirection off", "revert with the saved value", kFourPasses[2], kFourPasses[3]};
    EXPECT_EQ(expected, g_events);
    EXPECT_NE(std::string::npos, capture.out().find(kRevertReport));
}

// Whether each call of the table ran with redirection off, by entry and view.
struct CallTally {
    std::map<std::string, int> offIn64BitView, onIn64BitView, offInNativeView;
};
CallTally g_tally;

void TallyCall(const char* entry) {
    DWORD error = ::GetLastError();
    bool off = ::GetFileAttributesW(g_sentinel.c_str()) == INVALID_FILE_ATTRIBUTES;
    ::SetLastError(error);
    if (g_registryView == 0) {
        if (off) ++g_tally.offInNativeView[entry];
    } else {
        ++(off ? g_tally.offIn64BitView : g_tally.onIn64BitView)[entry];
    }
}

template <auto Slot>
ScopedHook<Slot> Tallied(const char* entry) {
    auto previous = ScopedHook<Slot>::Current();
    return ScopedHook<Slot>([=](auto... args) -> typename ScopedHook<Slot>::Result {
        TallyCall(entry);
        return previous(args...);
    });
}

struct EveryEntryTallied {
#define KV_TALLIED_ENTRY(name, type) ScopedHook<&Win32Api::name> name##Tally = Tallied<&Win32Api::name>(#name);
    KV_WIN32_FUNCTIONS(KV_TALLIED_ENTRY)
#undef KV_TALLIED_ENTRY
};

// The entries of the table that reach the file system by path, written out
// here rather than taken from the list that switches redirection around them.
const std::set<std::string> kFileSystemEntries = {
    "GetFileAttributesW", "SetFileAttributesW", "DeleteFileW",      "RemoveDirectoryW",
    "FindFirstFileW",     "FindNextFileW",      "CreateFileW",      "GetFullPathNameW",
    "GetTempFileNameW",   "MoveFileExW",        "CreateDirectoryW", "RegLoadKeyW",
};

// What `probe` returns with redirection off, so in the 64-bit system directory.
template <typename Probe>
bool In64BitSystemDirectory(Probe probe) {
    PVOID saved = nullptr;
    if (!RealKernel32<Wow64DisableWow64FsRedirectionFn>("Wow64DisableWow64FsRedirection")(&saved)) return false;
    bool result = probe();
    RealKernel32<Wow64RevertWow64FsRedirectionFn>("Wow64RevertWow64FsRedirection")(saved);
    return result;
}

// The real passes on a machine with a family module in each system directory,
// a module in use in the 64-bit program folder (moved aside and scheduled) and
// a key of the family in the 64-bit view (recorded in a new undo folder): the
// 64-bit passes make every kind of file-system call.
TEST_F(InstallSequence, RedirectionIsOffOnlyAroundTheFileCallsOfThe64BitPasses) {
    wchar_t system[MAX_PATH];
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    std::wstring module = std::wstring(system) + L"\\kvcng.dll";
    ASSERT_TRUE(WriteFileBytes(module, "32-bit"));
    ASSERT_TRUE(In64BitSystemDirectory([&] { return WriteFileBytes(module, "64-bit"); }));
    wchar_t programFiles[MAX_PATH];
    ASSERT_NE(0u, ::ExpandEnvironmentStringsW(L"%ProgramW6432%", programFiles, MAX_PATH));
    const std::wstring programFolder = std::wstring(programFiles) + L"\\Kor Vane";
    const std::wstring inUse = programFolder + L"\\CSP\\kvcsp.dll";
    ASSERT_TRUE(MakeDirs(programFolder + L"\\CSP"));
    ASSERT_TRUE(::CopyFileW((std::wstring(system) + L"\\msimg32.dll").c_str(), inUse.c_str(), FALSE));
    HMODULE loaded = ::LoadLibraryW(inUse.c_str());
    ASSERT_NE(nullptr, loaded);
    const std::wstring dataFolder = KnownFolder(CSIDL_COMMON_APPDATA) + L"\\kvclean";
    ASSERT_FALSE(PathExists(dataFolder));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kor Vane\\OCSPAPI", KEY_WOW64_64KEY));

    g_tally = CallTally();
    {
        EveryEntryTallied tallied;
        wchar_t** argv = Argv({L"-show", L"-clear"});
        EXPECT_EQ(0u, RunInstallSteps(Argc(), argv, kInstallSteps)) << capture.out();
    }
    ::FreeLibrary(loaded);
    for (const auto& [entry, calls] : g_tally.onIn64BitView)
        EXPECT_EQ(0u, kFileSystemEntries.count(entry)) << entry << " ran " << calls << " times with redirection on";
    for (const auto& [entry, calls] : g_tally.offIn64BitView)
        EXPECT_EQ(1u, kFileSystemEntries.count(entry)) << entry << " ran " << calls << " times with redirection off";
    for (const auto& [entry, calls] : g_tally.offInNativeView)
        ADD_FAILURE() << entry << " ran " << calls << " times with redirection off in the native passes";
    for (const std::string& entry : kFileSystemEntries)
        EXPECT_NE(0, g_tally.offIn64BitView[entry]) << entry << " never ran in the 64-bit passes";
    EXPECT_NE(0, g_tally.onIn64BitView["RegOpenKeyExW"]);
    EXPECT_NE(0, g_tally.onIn64BitView["SHGetFolderPathW"]);
    EXPECT_FALSE(PathExists(module));
    EXPECT_FALSE(In64BitSystemDirectory([&] { return PathExists(module); }));
    EXPECT_FALSE(PathExists(programFolder));
    EXPECT_TRUE(PathExists(dataFolder));
    RemoveFileTree(dataFolder);
}

TEST_F(InstallSequence, UsageNamesTheProgramAsStarted) {
    g_programName = L"D:\\Утилиты\\kvclean.exe";
    PrintUsage();
    EXPECT_EQ(0u, capture.out().find(u8"D:\\Утилиты\\kvclean.exe -install [<command>] [<options>]\n"));
}

// On 32-bit Windows there is no other view: exactly the two native passes.
class InstallSequenceOn32BitMachine : public InstallSequence {};

TEST_F(InstallSequenceOn32BitMachine, ShowAndClearRunExactlyTwoPasses) {
    EXPECT_EQ(0u, Run({L"-show", L"-clear"}));
    EXPECT_EQ(kNativePassesOnly, g_events);
    EXPECT_EQ("", capture.out());
}

TEST_F(InstallSequenceOn32BitMachine, KeySettingsAndRebootOfferFollowTheNativePasses) {
    g_passNeedsReboot = true;
    EXPECT_EQ(0u, Run({L"-show", L"-clear", L"-delkeys", L"-from_window"}));
    Events expected = kNativePassesOnly;
    expected.push_back("HKLM\\SOFTWARE\\Kor Vane\\Settings wipe=1 warn=0 view=0x0");
    expected.push_back(kRebootDialog);
    EXPECT_EQ(expected, g_events);
}

// The command as the program runs it, on vectors that run no pass.
class InstallCommand : public InstallSequence {
protected:
    u32 RunCommand(std::vector<std::wstring> words) {
        wchar_t** argv = Argv(std::move(words));
        return RunInstallCommand(Argc(), argv);
    }
};

TEST_F(InstallCommand, WarnAloneReturnsZero) {
    EXPECT_EQ(0u, RunCommand({L"-warn"}));
    EXPECT_EQ(kNothingRemoved, capture.out());
}

TEST_F(InstallCommand, HelpAfterShowPrintsUsageAndReturnsZero) {
    EXPECT_EQ(0u, RunCommand({L"-show", L"--help"}));
    EXPECT_EQ(kUsage, capture.out());
}

TEST_F(InstallCommand, NoOptionsPrintUsageAndReturnOne) {
    EXPECT_EQ(1u, RunCommand({L"show"}));
    EXPECT_EQ(kUsage, capture.out());
}

TEST_F(InstallCommand, UnrecognizedOptionReturnsOne) {
    EXPECT_EQ(1u, RunCommand({L"-show", L"-Clear"}));
    EXPECT_EQ("C:\\kv\\kvclean.exe: unrecognized option `-Clear'\n", capture.err());
}

TEST_F(InstallCommand, PrivilegeFailureReturnsTheReportedError) {
    auto noToken = FailAlways<&Win32Api::OpenProcessToken>(FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(5u, RunCommand({L"-show", L"-clear"}));
    EXPECT_NE(std::string::npos, capture.out().find(":GetPriveleges() fail\nError number 0x5 (5).\n"));
    // Both reports are failures, and the last line says so.
    const std::string last = "; 0 deferred to the next reboot; 2 failures\n";
    EXPECT_EQ(capture.out().size() - last.size(), capture.out().rfind(last));
}

// The program's last line comes after every other, before the reboot question.
TEST_F(InstallCommand, LastLineCountsWhatTheWipePassesDidAndComesBeforeTheRebootQuestion) {
    auto recordLine = ScopedHook<&Win32Api::vprintf>([](const char* format, va_list args) {
        char line[256];
        vsnprintf(line, sizeof line, format, args);
        g_events.push_back(line);
        return 0;
    });
    CountRemoved(kCountedKey);
    CountRemoved(kCountedFile);
    CountDeferred();
    g_rebootNeeded = 1;
    EXPECT_EQ(0u, RunCommand({L"-warn", L"-from_window"})) << "the reboot question, answered No";
    EXPECT_EQ((Events{"kvclean: removed 1 registry keys, 0 values, 0 list entries, 1 files and folders; 1 deferred to "
                      "the next reboot; 0 failures\n",
                      kRebootDialog}),
              g_events);
}

}  // namespace
