#include "front/scan_command.h"

#include "front/entry_point.h"
#include "files/pending_renames.h"
#include "platform/read_only.h"
#include "run/error_report.h"
#include "run/run_summary.h"

void ReportRefusedCall(const char* function) {
    ErrorReport("kvscan", __LINE__, "%s refused: this check changes nothing", function);
}

u32 RunScanCommand(int argc, wchar_t** argv, const InstallSteps& steps) {
    ReportRefusalsThrough(&ReportRefusedCall);
    win32.setlocale(LC_ALL, "");
    for (int i = 1; i < argc; ++i) {
        if (AsksForHelp(argv[i])) continue;
        WideErrorPrint(L"kvscan: unknown argument `%ls': kvscan takes none (kvscan /? shows the help)\n", argv[i]);
        return kScanFailed;
    }
    if (argc > 1) {
        WidePrint(L"Run without parameters to look for what is left of the Kor-Vane products; nothing is changed.\n");
        WidePrint(L"Exit code: 0 no trace found, 1 traces found, 2 the check failed or did not run, "
                  L"3 nothing left but deletions that wait for the next reboot.\n");
        NarrowPrint("kvscan %s\n", KV_VERSION);
        return kScanFailed;
    }
    StartCountingFinds();
    // Each pass's file plan looks in the reboot-time rename list for what
    // waits at the family's places of its view.
    LoadWaitingDeletions();
    RunListPasses(steps);
    ForgetWaitingDeletions();
    return PrintScanSummary();
}
