#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "plan/identifiers.h"

namespace {

std::wstring Pack(const wchar_t* guid) {
    wchar_t packed[kPackedCodeUnits];
    if (!PackGuid(guid, packed)) return L"(not a GUID)";
    return packed;
}

bool IsUpperHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); }

// The registry's form: braces, upper-case digits, dashes after 8, 4, 4 and 4 digits.
bool IsRegistryGuid(const std::wstring& text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !IsUpperHex(text[i])) return false;
    }
    return true;
}

// "Library.Class" or "Library.Class.N", letters and digits only, as COM libraries name them.
bool IsProgId(const std::wstring& text) {
    std::vector<std::wstring> parts(1);
    for (wchar_t c : text) {
        if (c == L'.') {
            parts.emplace_back();
        } else if (iswalnum(c)) {
            parts.back() += c;
        } else {
            return false;
        }
    }
    if (parts.size() < 2 || parts.size() > 3) return false;
    for (size_t i = 0; i < 2; ++i) {
        if (parts[i].empty() || !iswalpha(parts[i][0])) return false;
    }
    if (parts.size() == 3) {
        if (parts[2].empty()) return false;
        for (wchar_t c : parts[2]) {
            if (!iswdigit(c)) return false;
        }
    }
    return true;
}

struct IdentifierKind {
    const char* name;
    std::vector<const wchar_t*> ids;
    size_t expected;
};

template <size_t N>
std::vector<const wchar_t*> All(const wchar_t* const (&ids)[N]) {
    return std::vector<const wchar_t*>(ids, ids + N);
}

template <size_t N>
std::vector<const wchar_t*> Guids(const InstallerCode (&codes)[N]) {
    std::vector<const wchar_t*> guids;
    for (const InstallerCode& code : codes) guids.push_back(code.guid);
    return guids;
}

std::vector<IdentifierKind> GuidKinds() {
    return {
        {"chain policies", All(kChainPolicyIds), 4},
        {"property sets", All(kPropertySetIds), 1},
        {"snap-ins", All(kSnapInIds), 5},
        {"node types", All(kNodeTypeIds), 4},
        {"classes", All(kClassIds), 29},
        {"type libraries", All(kTypeLibraryIds), 17},
        {"interfaces", All(kInterfaceIds), 101},
        // 24 products have Uninstall keys; one more (the x64 part of CSP 4.0) is
        // registered only through Installer keys.
        {"product codes", Guids(kProductCodes), 25},
        {"upgrade codes", Guids(kUpgradeCodes), 5},
    };
}

TEST(PackGuid, PacksTheWayWindowsInstallerNamesItsKeys) {
    // Office 2007's product code and the key Windows Installer makes for it.
    EXPECT_EQ(L"00002109030000000000000000F01FEC", Pack(L"{90120000-0030-0000-0000-0000000FF1CE}"));
    // Groups of 8, 4 and 4 digits reversed; then each of the eight bytes with its digits swapped.
    EXPECT_EQ(L"87654321BA09FEDC2143658709BADCFE", Pack(L"{12345678-90AB-CDEF-1234-567890ABCDEF}"));
    EXPECT_EQ(L"87654321ba09fedc2143658709badcfe", Pack(L"{12345678-90ab-cdef-1234-567890abcdef}"));
}

TEST(PackGuid, RefusesTextThatIsNotABracedGuid) {
    const wchar_t* refused[] = {
        L"",
        L"12345678-90AB-CDEF-1234-567890ABCDEF",
        L"{12345678-90AB-CDEF-1234-567890ABCDEF",
        L"{12345678-90AB-CDEF-1234-567890ABCDEF}x",
        L"{12345678-90AB-CDEF-1234-567890ABCDE}",
        L"{12345678_90AB-CDEF-1234-567890ABCDEF}",
        L"{1234567G-90AB-CDEF-1234-567890ABCDEF}",
        L"{12345678-90AB-CDEF-1234567890ABCDEF0}",
    };
    for (const wchar_t* text : refused) {
        wchar_t packed[kPackedCodeUnits] = L"stale";
        EXPECT_FALSE(PackGuid(text, packed)) << text;
        EXPECT_EQ(std::wstring(), packed);
    }
}

TEST(Identifiers, EveryKindHasItsCountOfDistinctRegistryGuids) {
    for (const IdentifierKind& kind : GuidKinds()) {
        SCOPED_TRACE(kind.name);
        EXPECT_EQ(kind.expected, kind.ids.size());
        std::set<std::wstring> distinct(kind.ids.begin(), kind.ids.end());
        EXPECT_EQ(kind.ids.size(), distinct.size());
        for (const wchar_t* id : kind.ids) EXPECT_TRUE(IsRegistryGuid(id)) << id;
    }
}

TEST(Identifiers, NoGuidServesTwoKinds) {
    std::set<std::wstring> seen;
    size_t total = 0;
    for (const IdentifierKind& kind : GuidKinds()) {
        seen.insert(kind.ids.begin(), kind.ids.end());
        total += kind.ids.size();
    }
    EXPECT_EQ(total, seen.size());
}

TEST(Identifiers, EveryPackedCodeIsItsGuidPacked) {
    std::set<std::wstring> packedCodes;
    for (const InstallerCode& code : kProductCodes) {
        EXPECT_EQ(Pack(code.guid), code.packed) << code.guid;
        packedCodes.insert(code.packed);
    }
    for (const InstallerCode& code : kUpgradeCodes) {
        EXPECT_EQ(Pack(code.guid), code.packed) << code.guid;
        packedCodes.insert(code.packed);
    }
    EXPECT_EQ(30u, packedCodes.size());
}

TEST(Identifiers, FamilyProgIdsAreTwentyTwoDistinctComNames) {
    EXPECT_EQ(22u, sizeof(kFamilyProgIds) / sizeof(kFamilyProgIds[0]));
    std::set<std::wstring> distinct(std::begin(kFamilyProgIds), std::end(kFamilyProgIds));
    EXPECT_EQ(22u, distinct.size());
    for (const wchar_t* progId : kFamilyProgIds) EXPECT_TRUE(IsProgId(progId)) << progId;
}

}  // namespace
