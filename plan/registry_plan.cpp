#include "plan/registry_plan.h"

#include "registry/key_wipe.h"
#include "registry/revocation.h"
#include "registry/security_packages.h"
#include "registry/search_group.h"
#include "registry/user_hives.h"
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

struct PassFlags {
    int wipe;
    int warn;
};

// The rows of the running account's own hives, in another user's: those of
// HKEY_CURRENT_USER in the user's hive, those of HKEY_CLASSES_ROOT in the
// user's classes, in plan order, each with that hive's root for its root.
u32 RunUserRows(HKEY root, UserHiveKind kind, void* context) {
    const PassFlags& flags = *static_cast<const PassFlags*>(context);
    HKEY planRoot = kind == kUserHive ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
    u32 result = 0;
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.root != planRoot || (entry.kind != kKey && entry.kind != kSearch)) continue;
        RegistryPlanEntry row = entry;
        row.root = root;
        result |= RunEntry(row, flags.wipe, flags.warn);
    }
    return result;
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
    // Then every other user's hives (registry/user_hives.h).
    PassFlags flags = {wipe, warn};
    return result | ForEachOtherUserHive(RunUserRows, &flags);
}
