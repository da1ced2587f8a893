#include "tests/registry/row_search.h"

#include <string>

#include "run/error_report.h"

namespace {

struct RowSearchState {
    HKEY root;
    SearchPatterns patterns;
    int wipe;
    int warn;
    bool underSystem;
    ValueBuffers values;
    std::wstring path;  // the full path of the key at hand
};

u32 SearchKey(RowSearchState& s, HKEY parent, const wchar_t* name, int level, bool* removalTried);

// Searches the subkeys of a key that is not removed. A removed child's next
// sibling moves into its index; any other child is stepped over, so each
// subkey is visited once. The key's own line comes before its first child,
// unless `namePrinted` says it has been printed already.
u32 SearchSubkeys(RowSearchState& s, HKEY key, const wchar_t* name, int level, bool namePrinted) {
    wchar_t child[kKeyNameUnits];
    wchar_t previous[kKeyNameUnits];
    u32 result = 0;
    LONG status;
    bool first = true;
    bool indexKept = false;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (indexKept && wcscmp(child, previous) == 0) {
            indexKept = false;
            ++i;
            continue;
        }
        if (first) {
            if (level > 0 && IsRegistryLink(key)) {
                status = ERROR_NO_MORE_ITEMS;
                break;
            }
            if (!namePrinted) {
                PrintIndent(level);
                WidePrint(L"%ls\n", name);
            }
            first = false;
        }
        bool removalTried = false;
        size_t mark = s.path.size();
        s.path += L"\\";
        s.path += child;
        result |= SearchKey(s, key, child, level + 1, &removalTried);
        s.path.resize(mark);

        indexKept = false;
        if (!removalTried) {
            ++i;
            continue;
        }
        OwnedKey reopened;
        LONG reopen = OpenChildKey(key, child, KEY_READ, reopened.put());
        if (reopen == ERROR_SUCCESS) {
            result |= CloseKeyReported(reopened, child);
            ++i;
        } else if (reopen == ERROR_ACCESS_DENIED) {
            ++i;
        } else {
            wcscpy(previous, child);
            indexKept = true;
        }
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(status);
    return result;
}

u32 SearchKey(RowSearchState& s, HKEY parent, const wchar_t* name, int level, bool* removalTried) {
    *removalTried = false;
    OwnedKey key;
    LONG status = OpenChildKey(parent, name, KEY_READ, key.put());
    if (status != ERROR_SUCCESS) {
        PrintIndent(level);
        PrintUnopenedKey(status, name);
        return 0;
    }
    MatchKind kind = kNoMatch;
    u32 result = MatchKey(key.get(), name, s.patterns, s.values, &kind);
    if (kind == kNoMatch) {
        result |= SearchSubkeys(s, key.get(), name, level, false);
        return result | CloseKeyReported(key, name);
    }
    PrintMatch(level, name, kind);
    result |= CloseKeyReported(key, name);
    FoundKey found = {parent, name, name, s.root, s.path.c_str()};
    return result | RemoveFound(found, kWholeTree, s.wipe, s.warn, s.underSystem, removalTried);
}

}  // namespace

u32 RowSearch(HKEY root, const wchar_t* path, const SearchPatterns& patterns, int wipe, int warn) {
    RowSearchState s = {root, patterns, wipe, warn, IsUnderSystem(path), {}, path};
    u32 result = AllocateValueBuffers(&s.values);
    if (result != 0) return result;
    KeyPlace place;
    OwnedKey key;
    LONG status = ERROR_SUCCESS;
    result = OpenStartingKey(root, path, KEY_READ, &place, &key, &status);
    if (result == 0 && status != ERROR_SUCCESS) PrintUnopenedKey(status, path);
    if (key) {
        PrintSearchHeader(patterns, path);
        if (IsRegistryLink(key.get())) {
            result |= SearchStartThatIsALink(key, place, root, path, wipe, warn);
        } else {
            MatchKind kind = kNoMatch;
            result |= MatchKey(key.get(), path, patterns, s.values, &kind);
            if (kind != kNoMatch) PrintMatch(0, path, kind);
            result |= SearchSubkeys(s, key.get(), path, 0, kind != kNoMatch);
            result |= CloseKeyReported(key, path);
        }
    }
    WidePrint(L"\n");
    return result;
}
