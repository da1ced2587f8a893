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

u32 RunRegistryPlan(int wipe, int warn);
