#include "plan/registry_plan.h"

#include "registry/key_wipe.h"
#include "registry/revocation.h"
#include "registry/security_packages.h"
#include "registry/tree_search.h"
#include "registry/value_match.h"

namespace {

u32 RunEntry(const RegistryPlanEntry& entry, int wipe, int warn) {
    switch (entry.kind) {
        case kKey:
            return CleanRegKey(entry.root, entry.path, wipe, warn);
        case kSearch:
            return SearchRegTree(entry.root, entry.path, 0, entry.lpKeyNameMatch, entry.lpValNameMatch,
                                 entry.lpValDataMatch, wipe, warn);
        case kValueMatch:
            return RemoveMatchingValues(entry.path, entry.pattern, wipe, warn);
        case kTlsPackages:
            return TlsRegUninstall(wipe, warn);
        case kSslPackages:
            return SslRegUninstall(wipe, warn);
        case kRevocation:
            return CertDllVerifyRevocationRegUninstall(wipe, warn);
    }
    return 0;
}

}  // namespace

// Every entry runs, whatever the ones before it returned: each primitive has
// already reported its own failures, and the pass result only collects them.
u32 RunRegistryPlan(int wipe, int warn) {
    u32 result = 0;
    for (const RegistryPlanEntry& entry : kRegistryPlan) result |= RunEntry(entry, wipe, warn);
    return result;
}
