// The registry plan: 536 operations in a fixed order, one primitive call each.
#pragma once

#include "platform/win32.h"

enum RegistryPlanKind { kKey, kSearch, kValueMatch, kTlsPackages, kSslPackages, kRevocation };

struct RegistryPlanEntry {
    int seq;
    RegistryPlanKind kind;
    HKEY root;                     // kKey and kSearch; kValueMatch rows show HKLM, where they always work
    const wchar_t* path;           // kKey, kSearch, kValueMatch
    const wchar_t* lpKeyNameMatch;  // kSearch
    const wchar_t* lpValNameMatch;  // kSearch
    const wchar_t* lpValDataMatch;  // kSearch
    const wchar_t* pattern;        // kValueMatch
};

const int kRegistryPlanSize = 536;
extern const RegistryPlanEntry kRegistryPlan[kRegistryPlanSize];

// How many rows from entries[0] on (of `count`) are searches that start at the
// same key: the same root, and a path the registry takes for the same. 0 when
// entries[0] is no search. One walk of the tree serves them.
int SearchGroupSize(const RegistryPlanEntry* entries, int count);

u32 RunRegistryPlan(int wipe, int warn);
