// Which consecutive search rows of the plan share a starting key. Plain code on
// the table alone, so that tools/floor walks the same groups.
#include "plan/registry_plan.h"

namespace {

wchar_t FoldedLetter(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The registry compares names without regard to case. Only ASCII letters are
// folded here, so two spellings that only the registry's wider folding takes
// for one key run as two walks, never two keys as one.
bool SamePath(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (FoldedLetter(*a) != FoldedLetter(*b)) return false;
    return *a == *b;
}

}  // namespace

int SearchGroupSize(const RegistryPlanEntry* entries, int count) {
    if (count <= 0 || entries[0].kind != kSearch) return 0;
    int size = 1;
    while (size < count && entries[size].kind == kSearch && entries[size].root == entries[0].root &&
           SamePath(entries[size].path, entries[0].path))
        ++size;
    return size;
}
