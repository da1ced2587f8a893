#include "front/install_command.h"

#include "run/run_log.h"
#include "run/run_summary.h"
#include "plan/file_plan.h"
#include "plan/registry_plan.h"
#include "registry/key_wipe.h"

const InstallSteps kInstallSteps = {RunCleanupPass, CleanRegKey, PrintCleanSummary, StartRunLog, EndRunLog};

u32 RunInstallCommand(int argc, wchar_t** argv) { return RunInstallSteps(argc, argv, kInstallSteps); }

u32 RunCleanupPass(int wipe, int warn) {
    u32 result = RunFilePlan(wipe, warn);
    result |= RunRegistryPlan(wipe, warn);
    return result;
}
