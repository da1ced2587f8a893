// kvfloor.exe: the least registry work that a full run of kvclean.exe requires
// on this machine, for the benchmark.
//
// It walks the trees of kvclean's own registry plan table, in the passes and
// views a plain run makes (on 64-bit Windows two passes in the 64-bit view and
// two in the native one, else two), and does only what finding the plan's
// keys needs:
//   - one open and one close per key, and one size query per key (RegQueryInfoKeyW)
//     in place of the two calls that end its enumerations;
//   - one walk per distinct tree per pass: consecutive searches from the same
//     starting key (plan/search_groups.cpp) read each key once together;
//   - one call per subkey and per value; a value-data search reads the data with
//     the enumeration itself and stops at its first match;
//   - a subkey whose name matches every key-name search still looking is never
//     opened, a key is searched below only for the searches it did not match
//     (the starting key for all of them);
//   - value-name removals enumerate one key's names, the list repairs read one value.
// It changes nothing and prints nothing on standard output but a summary; the
// call counts go to standard error as "calls <Function> <count>" lines and
// "calls registry-total <n>", as kvclean_counting.exe prints them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include <vector>

#include "plan/registry_plan.h"

namespace {

enum Call { kOpen, kQueryInfo, kEnumKey, kEnumValue, kQueryValue, kClose, kCallKinds };
const char* const kCallNames[kCallKinds] = {"RegOpenKeyExW",  "RegQueryInfoKeyW", "RegEnumKeyExW",
                                            "RegEnumValueW",  "RegQueryValueExW", "RegCloseKey"};
unsigned long long g_calls[kCallKinds];

REGSAM g_view = 0;
unsigned long long g_keysWalked = 0;
unsigned long long g_matches = 0;

LONG Open(HKEY parent, const wchar_t* name, DWORD options, HKEY* key) {
    ++g_calls[kOpen];
    return ::RegOpenKeyExW(parent, name, options, KEY_READ | g_view, key);
}

void Close(HKEY key) {
    ++g_calls[kClose];
    ::RegCloseKey(key);
}

struct KeyShape {
    DWORD subkeys = 0;
    DWORD values = 0;
    DWORD longestData = 0;
};

KeyShape Shape(HKEY key) {
    ++g_calls[kQueryInfo];
    ++g_keysWalked;
    KeyShape shape;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &shape.subkeys, nullptr, nullptr, &shape.values, nullptr,
                           &shape.longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return KeyShape();
    return shape;
}

// Buffers shared by the whole walk.
wchar_t g_keyName[256];
wchar_t g_valueName[16384];
std::vector<BYTE> g_data(4096);

bool EnumKey(HKEY key, DWORD index) {
    ++g_calls[kEnumKey];
    DWORD size = 256;
    return ::RegEnumKeyExW(key, index, g_keyName, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool EnumValueName(HKEY key, DWORD index) {
    ++g_calls[kEnumValue];
    DWORD size = 16384;
    return ::RegEnumValueW(key, index, g_valueName, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Reads one value with its data; the text is closed by zero bytes behind it.
bool EnumValueWithData(HKEY key, DWORD index, DWORD* type) {
    for (;;) {
        ++g_calls[kEnumValue];
        DWORD size = 16384;
        DWORD bytes = static_cast<DWORD>(g_data.size() - 4);
        LONG status = ::RegEnumValueW(key, index, g_valueName, &size, nullptr, type, g_data.data(), &bytes);
        if (status == ERROR_MORE_DATA && bytes > g_data.size() - 4) {
            g_data.resize(bytes + 4);  // grown since the size query
            continue;
        }
        if (status != ERROR_SUCCESS) return false;
        memset(g_data.data() + bytes, 0, 4);
        return true;
    }
}

bool Contains(const wchar_t* text, const wchar_t* part) { return !*part || wcsstr(text, part); }

// The listing of a key row: every value name and every subkey, depth-first.
void ListTree(HKEY key) {
    KeyShape shape = Shape(key);
    for (DWORD i = 0; i < shape.values; ++i)
        if (!EnumValueName(key, i)) break;
    for (DWORD i = 0; i < shape.subkeys; ++i) {
        if (!EnumKey(key, i)) break;
        HKEY child = nullptr;
        if (Open(key, g_keyName, REG_OPTION_OPEN_LINK, &child) != ERROR_SUCCESS) continue;
        ListTree(child);
        Close(child);
    }
}

// Consecutive searches from one starting key: one walk serves them all.
// `searching`: the searches that look at this key's values and below it.
// A value-data search stops reading values once it matched; a search that
// matched a key never looks below it, and a subkey whose name every search
// still looking matches by name is never opened.
void SearchGroup(HKEY key, const RegistryPlanEntry* searches, unsigned searching, bool start) {
    KeyShape shape = Shape(key);
    unsigned readers = 0;
    for (int i = 0; i < 32; ++i)
        if ((searching >> i & 1) && (searches[i].lpValDataMatch || searches[i].lpValNameMatch)) readers |= 1u << i;
    unsigned matched = 0;
    if (readers && g_data.size() < shape.longestData + 4) g_data.resize(shape.longestData + 4);
    for (DWORD i = 0; readers & ~matched && i < shape.values; ++i) {
        DWORD type = REG_NONE;
        if (!EnumValueWithData(key, i, &type)) break;
        for (int r = 0; r < 32; ++r) {
            if (!(readers >> r & 1)) continue;
            const RegistryPlanEntry& search = searches[r];
            if ((search.lpValNameMatch && Contains(g_valueName, search.lpValNameMatch)) ||
                (search.lpValDataMatch && type == REG_SZ &&
                 Contains(reinterpret_cast<const wchar_t*>(g_data.data()), search.lpValDataMatch)))
                matched |= 1u << r;
        }
    }
    for (unsigned left = matched; left; left &= left - 1) ++g_matches;
    // The starting key is searched below whatever it matched.
    unsigned below = start ? searching : searching & ~matched;
    for (DWORD i = 0; below && i < shape.subkeys; ++i) {
        if (!EnumKey(key, i)) break;
        unsigned byName = 0;
        for (int r = 0; r < 32; ++r)
            if ((below >> r & 1) && searches[r].lpKeyNameMatch && Contains(g_keyName, searches[r].lpKeyNameMatch))
                byName |= 1u << r;
        for (unsigned left = byName; left; left &= left - 1) ++g_matches;
        if (!(below & ~byName)) continue;
        HKEY child = nullptr;
        if (Open(key, g_keyName, REG_OPTION_OPEN_LINK, &child) != ERROR_SUCCESS) continue;
        SearchGroup(child, searches, below & ~byName, false);
        Close(child);
    }
}

void ReadOneValue(const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (Open(HKEY_LOCAL_MACHINE, path, 0, &key) != ERROR_SUCCESS) return;
    static BYTE data[65536];
    DWORD bytes = sizeof(data);
    ++g_calls[kQueryValue];
    ::RegQueryValueExW(key, name, nullptr, nullptr, data, &bytes);
    Close(key);
}

// Runs the row, or the group of searches that starts with it; returns how many rows it took.
int RunEntry(const RegistryPlanEntry* entries, int left) {
    const RegistryPlanEntry& entry = entries[0];
    int group = SearchGroupSize(entries, left);
    if (group > 32) group = 32;
    int taken = group > 0 ? group : 1;
    if (entry.kind == kTlsPackages || entry.kind == kSslPackages) {
        ReadOneValue(L"SYSTEM\\CurrentControlSet\\Control\\Lsa", L"Security Packages");
        return taken;
    }
    if (entry.kind == kRevocation) {
        ReadOneValue(L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT", L"Dll");
        return taken;
    }
    HKEY key = nullptr;
    if (Open(entry.kind == kValueMatch ? HKEY_LOCAL_MACHINE : entry.root, entry.path, 0, &key) != ERROR_SUCCESS)
        return taken;
    switch (entry.kind) {
        case kKey:
            ListTree(key);
            break;
        case kValueMatch: {
            KeyShape shape = Shape(key);
            for (DWORD i = 0; i < shape.values; ++i)
                if (!EnumValueName(key, i)) break;
            break;
        }
        case kSearch:
            SearchGroup(key, entries, group >= 32 ? 0xFFFFFFFFu : (1u << group) - 1, true);
            break;
        default:
            break;
    }
    Close(key);
    return taken;
}

bool IsWow64() {
    typedef BOOL(WINAPI * Fn)(HANDLE, PBOOL);
    Fn isWow64 = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

int wmain() {
    // A plain run: list pass and wipe pass, in the 64-bit view first on 64-bit Windows.
    std::vector<REGSAM> passes;
    if (IsWow64()) passes = {KEY_WOW64_64KEY, KEY_WOW64_64KEY};
    passes.push_back(0);
    passes.push_back(0);
    for (REGSAM view : passes) {
        g_view = view;
        for (int row = 0; row < kRegistryPlanSize;) row += RunEntry(kRegistryPlan + row, kRegistryPlanSize - row);
    }

    unsigned long long total = 0;
    for (int i = 0; i < kCallKinds; ++i) {
        fprintf(stderr, "calls %-28s %llu\n", kCallNames[i], g_calls[i]);
        total += g_calls[i];
    }
    fprintf(stderr, "calls %-28s %llu\n", "registry-total", total);
    printf("floor: %u passes over %d plan rows, %llu keys walked, %llu matches\n", static_cast<unsigned>(passes.size()),
           kRegistryPlanSize, g_keysWalked, g_matches);
    return 0;
}
