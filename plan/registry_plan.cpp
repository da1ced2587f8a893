#include "plan/registry_plan.h"

#include "registry/key_wipe.h"
#include "registry/revocation.h"
#include "registry/security_packages.h"
#include "registry/search_group.h"
#include "registry/value_match.h"

namespace {

u32 RunEntry(const RegistryPlanEntry& entry, int wipe, int warn) {
    switch (entry.kind) {
        case kKey:
            return CleanRegKey(entry.root, entry.path, wipe, warn);
        case kSearch:
            return SearchRegTree(entry.root, entry.path, entry.lpKeyNameMatch, entry.lpValNameMatch,
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

// Consecutive searches from the same starting key: one walk of its tree.
u32 RunSearchGroup(const RegistryPlanEntry* entries, int count, int wipe, int warn) {
    SearchRow rows[kMaxSearchGroup];
    for (int i = 0; i < count; ++i)
        rows[i] = {entries[i].path, {entries[i].lpKeyNameMatch, entries[i].lpValNameMatch, entries[i].lpValDataMatch}};
    return SearchRegTreeGroup(entries[0].root, rows, count, wipe, warn);
}

}  // namespace

// Every entry runs, whatever the ones before it returned: each primitive has
// already reported its own failures, and the pass result only collects them.
u32 RunRegistryPlan(int wipe, int warn) {
    u32 result = 0;
    for (int row = 0; row < kRegistryPlanSize;) {
        int group = SearchGroupSize(kRegistryPlan + row, kRegistryPlanSize - row);
        if (group > kMaxSearchGroup) group = kMaxSearchGroup;
        if (group > 1) {
            result |= RunSearchGroup(kRegistryPlan + row, group, wipe, warn);
            row += group;
        } else {
            result |= RunEntry(kRegistryPlan[row], wipe, warn);
            ++row;
        }
    }
    return result;
}
