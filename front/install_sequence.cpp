// The order of a run: options, privilege, the log, the 64-bit passes under
// WOW64, the native passes, the key settings, the last line, the reboot prompt.
#include "run/error_report.h"
#include "front/install_command.h"
#include "front/option_scanner.h"
#include "front/privileges.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "platform/file_redirection.h"
#include "undo/undo_file.h"

namespace {

const u32 kListCommand = 1;
const u32 kWipeCommand = 2;
const u32 kKeySettingsCommand = 4;

const LongOption kInstallOptions[] = {
    {L"show", 's'}, {L"clear", 'c'}, {L"delkeys", 'd'}, {L"warn", 'w'}, {L"from_window", '0'}, {L"help", 'h'},
    {nullptr, 0},
};

const wchar_t kKeySettingsPath[] = L"SOFTWARE\\Kor Vane\\Settings";

struct InstallRequest {
    u32 commands;
    int warn;
    int fromWindow;
};

// The list pass, then the wipe pass, as requested, in the current view. The
// wipe pass records what it removes in the view's undo file; a record that
// failed makes the pass fail, the removals went on.
u32 RunRequestedPasses(const InstallSteps& steps, const InstallRequest& request) {
    u32 result = 0;
    if (request.commands & kListCommand) result |= steps.cleanupPass(0, request.warn);
    if (request.commands & kWipeCommand) {
        UndoBeginPass(g_registryView);
        result |= steps.cleanupPass(1, request.warn);
        result |= UndoEndPass();
    }
    return result;
}

// On 64-bit Windows this 32-bit process reaches the 64-bit registry only
// through the view flag and the 64-bit system directory only with file-system
// redirection off, which it is for each file-system call of these passes and
// for nothing else. Any failure to get there skips these passes: for a scan
// the check failed.
u32 Run64BitPasses(const InstallSteps& steps, const InstallRequest& request) {
    if (!RunsUnderWow64()) return 0;
    const wchar_t kSkipped[] = L"the 64-bit registry view and system directory (no file-system redirection switch)";

    RedirectionSwitch redirection = {};
    redirection.disable =
        LookUpFunction<Wow64DisableWow64FsRedirectionFn>(L"kernel32", "Wow64DisableWow64FsRedirection");
    if (redirection.disable) {
        // Redirection that could not be switched back on would send everything
        // after it into the 64-bit system directory: without a revert that
        // works, no switch. One switch off and on again shows that it does.
        redirection.revert =
            LookUpFunction<Wow64RevertWow64FsRedirectionFn>(L"kernel32", "Wow64RevertWow64FsRedirection");
        if (!redirection.revert) return CouldNotLook(ERROR_PROC_NOT_FOUND, kSkipped);
        PVOID saved = nullptr;
        if (!redirection.disable(&saved)) return CouldNotLook(static_cast<LONG>(win32.GetLastError()), kSkipped);
        if (!redirection.revert(saved)) return REPORT("Wow64RevertWow64FsRedirection() fail");
        BeginFileCallsWithoutRedirection(redirection);
    }

    g_registryView = KEY_WOW64_64KEY;
    u32 result = RunRequestedPasses(steps, request);
    g_registryView = 0;
    if (redirection.disable && !EndFileCallsWithoutRedirection())
        result |= REPORT("Wow64RevertWow64FsRedirection() fail");
    return result;
}

}  // namespace

void PrintUsage() {
    WidePrint(L"%ls -install [<command>] [<options>]\n", g_programName);
    NarrowPrint("KVTEST CSP install info and clearing out\n");
    NarrowPrint("<commands>:\n");
    PrintOptionHelp("show", "Installation information");
    PrintOptionHelp("clear", "Clear out KorVane CSP");
    PrintOptionHelp("delkeys", "Clear out User keys");
    PrintOptionHelp("help", "Shows this screen");
    NarrowPrint("<options>:\n");
    PrintOptionHelp("warn", "Return error if something redundant left");
}

u32 RunInstallSteps(int argc, wchar_t** argv, const InstallSteps& steps) {
    OptionScan scan = kFreshOptionScan;
    int code = ScanLongOption(argc, argv, kInstallOptions, &scan);
    if (code == kScanDone) {
        PrintUsage();
        return 1;
    }
    // Nothing runs before every option is read.
    InstallRequest request = {};
    for (; code != kScanDone; code = ScanLongOption(argc, argv, kInstallOptions, &scan)) {
        switch (code) {
            case 's': request.commands |= kListCommand; break;
            case 'c': request.commands |= kWipeCommand; break;
            case 'd': request.commands |= kKeySettingsCommand; break;
            case 'w': request.warn = 1; break;
            case '0': request.fromWindow = 1; break;
            case 'h': PrintUsage(); return 0;
            default: return 1;  // the scanner has said why
        }
    }

    u32 privilegeFailure = GetPriveleges();
    if (privilegeFailure != 0) {
        // The second report shows the same error number as the first.
        win32.SetLastError(privilegeFailure);
        u32 result = REPORT("GetPriveleges() fail");
        if (steps.finishRun) steps.finishRun();
        return result;
    }

    UndoBeginRun();
    // A cleanup writes its log with the undo files' date and time.
    bool logged = (request.commands & kWipeCommand) && steps.startLog;
    u32 result = logged ? steps.startLog() : 0;
    result |= Run64BitPasses(steps, request);
    result |= RunRequestedPasses(steps, request);
    if (request.commands & kKeySettingsCommand)
        result |= steps.cleanRegKey(HKEY_LOCAL_MACHINE, kKeySettingsPath, 1, request.warn);
    // The last line comes before the prompt: a reboot started there may end the process.
    if (steps.finishRun) steps.finishRun();
    if (logged) result |= steps.endLog();
    if (g_rebootNeeded && request.fromWindow && !PromptReboot()) result |= 1;
    return result;
}

u32 RunListPasses(const InstallSteps& steps) {
    const InstallRequest request = {kListCommand, 1, 0};
    u32 result = Run64BitPasses(steps, request);
    return result | RunRequestedPasses(steps, request);
}
