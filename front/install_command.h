// The install command: options, cleanup passes in both registry views, key
// settings removal and the reboot prompt.
#pragma once

#include "platform/win32.h"

u32 RunInstallCommand(int argc, wchar_t** argv);
// The file plan, then the registry plan, with the same pass flags.
u32 RunCleanupPass(int wipe, int warn);
void PrintUsage();

// The work that the install command puts in order. The program uses
// kInstallSteps (RunCleanupPass, CleanRegKey, PrintCleanSummary and the run's
// log); tests put
// recorders in.
struct InstallSteps {
    u32 (*cleanupPass)(int wipe, int warn);
    u32 (*cleanRegKey)(HKEY root, const wchar_t* subkey, int wipe, int warn);
    // The run's last line, before the reboot prompt; none when null.
    void (*finishRun)();
    // A cleanup's log, started before its first pass and ended after its last
    // line (run/run_log.h); none when null.
    u32 (*startLog)();
    u32 (*endLog)();
};
extern const InstallSteps kInstallSteps;

// RunInstallCommand with the given steps.
u32 RunInstallSteps(int argc, wchar_t** argv, const InstallSteps& steps);

// kvscan's run: the list passes of a run with warn on, in the 64-bit view
// first under WOW64, then natively; nothing else.
u32 RunListPasses(const InstallSteps& steps);
