// TEMPORARY, test-only: stand-ins for the plan runners and CleanRegKey so that
// the tests of RunInstallCommand link before plan/ and registry/ are merged.
// Delete this file at the merge. The tests that link against these never
// expect a pass to run, so any call is a test failure.
#include <gtest/gtest.h>

#include "plan/file_plan.h"
#include "plan/registry_plan.h"
#include "registry/key_wipe.h"

u32 RunFilePlan(int, int) {
    ADD_FAILURE() << "RunFilePlan ran";
    return 0;
}

u32 RunRegistryPlan(int, int) {
    ADD_FAILURE() << "RunRegistryPlan ran";
    return 0;
}

u32 CleanRegKey(HKEY, const wchar_t*, int, int) {
    ADD_FAILURE() << "CleanRegKey ran";
    return 0;
}
