// Multi-string editing over buffers that end at an inaccessible page: any
// read or write beyond the units given faults.
#include <gtest/gtest.h>

#include "registry/multi_string.h"
#include "tests/registry/guarded_memory.h"
#include "tests/registry/list_model.h"

namespace {

// A guarded copy of the bytes' whole units.
struct GuardedUnits {
    explicit GuardedUnits(const std::string& bytes) : count(bytes.size() / 2) {
        units = static_cast<wchar_t*>(GuardedBlock(count * sizeof(wchar_t)));
        memcpy(units, bytes.data(), count * sizeof(wchar_t));
    }
    ~GuardedUnits() { ReleaseGuardedBlock(units); }
    wchar_t* units;
    size_t count;
};

const Entries kSystemPackages = {L"schannel", L"kerberos", L"msv1_0"};

// Units the model says the edited list needs.
size_t NeededUnits(const std::string& bytes, const wchar_t* removed, bool restore) {
    return WellFormed(Repaired(ModelEntries(bytes), removed, restore ? kSystemPackages : Entries{})).size() / 2;
}

// Copy without `removed`, then the system packages when asked, into a guarded
// buffer of `capacity` units. Empty when the edit says it does not fit.
std::string EditWithin(const std::string& bytes, const wchar_t* removed, bool restore, size_t capacity) {
    GuardedUnits in(bytes);
    wchar_t* out = static_cast<wchar_t*>(GuardedBlock(capacity * sizeof(wchar_t)));
    size_t length = CopyMultiStringWithout(in.units, in.count, FindMultiStringEntry(in.units, in.count, removed), out,
                                           capacity);
    for (const std::wstring& name : restore ? kSystemPackages : Entries{})
        if (length) length = EnsureMultiStringEntry(out, length, capacity, name.c_str());
    std::string result(reinterpret_cast<const char*>(out), length * sizeof(wchar_t));
    ReleaseGuardedBlock(out);
    return result;
}

// The edit with the room the repairs give it: a copy of any list fits in
// MultiStringCopyUnits; the appended names get exactly the room they need.
std::string Edit(const std::string& bytes, const wchar_t* removed, bool restore) {
    size_t capacity = restore ? NeededUnits(bytes, removed, restore) : MultiStringCopyUnits(bytes.size() / 2);
    return EditWithin(bytes, removed, restore, capacity);
}

struct Shape {
    const char* name;
    std::string bytes;
    Entries expected;
};

TEST(MultiString, EveryMalformedShapeGivesAWellFormedListWithoutTheEntry) {
    std::wstring big;
    Entries bigEntries;
    for (int i = 0; big.size() < 32760; ++i) {
        std::wstring entry = L"package" + std::to_wstring(i);
        if (i == 1000) entry = L"kvtls";
        if (big.size() + entry.size() + 2 > 32768) break;
        big += entry + L'\0';
        if (entry != L"kvtls") bigEntries.push_back(entry);
    }
    big += L'\0';
    const Shape shapes[] = {
        {"well-formed", WellFormed({L"msv1_0", L"kvtls", L"schannel"}), {L"msv1_0", L"schannel"}},
        {"odd length", WellFormed({L"msv1_0", L"kvtls"}) + "x", {L"msv1_0"}},
        {"no closing NUL", Bytes(std::wstring(L"msv1_0\0kvtls\0schannel\0", 23)), {L"msv1_0", L"schannel"}},
        {"no NUL at all", Bytes(L"kvtls"), {}},
        {"no NUL, another name", Bytes(L"kerberos"), {L"kerberos"}},
        {"empty", "", {}},
        {"one byte", "k", {}},
        {"only NULs", std::string(6, '\0'), {}},
        {"family's entry last without terminator", Bytes(std::wstring(L"msv1_0\0kvtls", 12)), {L"msv1_0"}},
        {"family's entry last, odd length", Bytes(std::wstring(L"msv1_0\0kvtls", 12)) + "\x01", {L"msv1_0"}},
        {"entries after the list's end", Bytes(std::wstring(L"msv1_0\0\0kvtls\0\0", 15)), {L"msv1_0"}},
        {"first occurrence only", WellFormed({L"kvtls", L"a", L"kvtls"}), {L"a", L"kvtls"}},
        {"near misses", WellFormed({L"kvtls2", L"KVTLS", L"kvtl", L"xkvtls", L"kvtls "}),
         {L"kvtls2", L"KVTLS", L"kvtl", L"xkvtls", L"kvtls "}},
        {"64 KiB", Bytes(big), bigEntries},
    };
    for (const Shape& shape : shapes) {
        EXPECT_EQ(WellFormed(shape.expected), Edit(shape.bytes, L"kvtls", false)) << shape.name;
        EXPECT_EQ(WellFormed(Repaired(shape.expected, L"", kSystemPackages)), Edit(shape.bytes, L"kvtls", true))
            << shape.name;
    }
}

TEST(MultiString, FindsWholeEntriesOnly) {
    GuardedUnits list(WellFormed({L"kvtls2", L"xkvtls", L"kvtls"}));
    EXPECT_EQ(14u, FindMultiStringEntry(list.units, list.count, L"kvtls"));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, list.count, L"kvtl"));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, list.count, L""));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, 0, L"kvtls"));
}

TEST(MultiString, TooLittleRoomWritesNothingAndSaysSo) {
    GuardedUnits list(WellFormed({L"msv1_0", L"schannel"}));
    wchar_t* out = static_cast<wchar_t*>(GuardedBlock(8 * sizeof(wchar_t)));
    EXPECT_EQ(0u, CopyMultiStringWithout(list.units, list.count, kNoEntry, out, 8));
    out[0] = L'\0';
    EXPECT_EQ(0u, EnsureMultiStringEntry(out, 1, 8, L"kerberos"));
    EXPECT_EQ(8u, EnsureMultiStringEntry(out, 1, 8, L"msv1_0"));
    EXPECT_EQ(8u, EnsureMultiStringEntry(out, 8, 8, L"msv1_0"));
    ReleaseGuardedBlock(out);
}

TEST(MultiString, ThousandsOfRandomListsKeepEveryOtherEntryInOrder) {
    ListGenerator generator(20240611);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes = generator.Next();
        const wchar_t* removed = generator.Pick(0, 1) ? L"kvtls" : L"kvssl";
        bool restore = generator.Pick(0, 1) == 1;
        std::string expected = WellFormed(Repaired(ModelEntries(bytes), removed, restore ? kSystemPackages : Entries{}));
        ASSERT_EQ(expected, Edit(bytes, removed, restore)) << "list " << i;
        // One unit less room: the edit says it does not fit and stays inside its buffer.
        ASSERT_EQ("", EditWithin(bytes, removed, restore, NeededUnits(bytes, removed, restore) - 1)) << "list " << i;
    }
}

}  // namespace
