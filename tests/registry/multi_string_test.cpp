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

std::string WholeUnits(const std::string& bytes) { return bytes.substr(0, bytes.size() / 2 * 2); }

// Copy without `removed`, then the system packages when asked, into a guarded
// buffer of `capacity` units. "<no room>" when the edit says it does not fit.
std::string EditWithin(const std::string& bytes, const wchar_t* removed, bool restore, size_t capacity) {
    GuardedUnits in(bytes);
    wchar_t* out = static_cast<wchar_t*>(GuardedBlock(capacity * sizeof(wchar_t)));
    size_t length = CopyMultiStringWithout(in.units, in.count, removed, out, capacity);
    for (const std::wstring& name : restore ? kSystemPackages : Entries{})
        if (length != kNoRoom) length = EnsureMultiStringEntry(out, length, capacity, name.c_str());
    std::string result =
        length == kNoRoom ? "<no room>" : std::string(reinterpret_cast<const char*>(out), length * sizeof(wchar_t));
    ReleaseGuardedBlock(out);
    return result;
}

// The edit with exactly the room the model says it needs.
std::string Edit(const std::string& bytes, const wchar_t* removed, bool restore) {
    size_t needed = Repaired(WholeUnits(bytes), removed, restore ? kSystemPackages : Entries{}).size() / 2;
    return EditWithin(bytes, removed, restore, needed);
}

struct Shape {
    const char* name;
    std::string bytes;
    std::string expected;
};

TEST(MultiString, EveryShapeKeepsAllButTheFamilysEntriesUnitForUnit) {
    std::wstring big;
    Entries bigEntries;
    for (int i = 0; big.size() < 32760; ++i) {
        std::wstring entry = i % 1000 == 999 ? L"kvtls" : L"package" + std::to_wstring(i);
        if (big.size() + entry.size() + 2 > 32768) break;
        big += entry + L'\0';
        if (entry != L"kvtls") bigEntries.push_back(entry);
    }
    big += L'\0';
    const Shape shapes[] = {
        {"well-formed", WellFormed({L"msv1_0", L"kvtls", L"schannel"}), WellFormed({L"msv1_0", L"schannel"})},
        {"every occurrence", WellFormed({L"kvtls", L"a", L"kvtls", L"kvtls", L"b", L"kvtls"}), WellFormed({L"a", L"b"})},
        {"empty entries anywhere", UnitBytes(L"\0kvtls\0\0a\0kvtls\0\0\0"), UnitBytes(L"\0\0a\0\0\0")},
        {"no closing NUL", UnitBytes(L"msv1_0\0kvtls\0schannel\0"), UnitBytes(L"msv1_0\0schannel\0")},
        {"no NUL at all", Bytes(L"kvtls"), ""},
        {"no NUL, another name", Bytes(L"kerberos"), Bytes(L"kerberos")},
        {"empty", "", ""},
        {"only NULs", std::string(6, '\0'), std::string(6, '\0')},
        {"family's entry last without terminator", UnitBytes(L"msv1_0\0kvtls"), UnitBytes(L"msv1_0\0")},
        {"near misses", WellFormed({L"kvtls2", L"KVTLS", L"kvtl", L"xkvtls", L"kvtls "}),
         WellFormed({L"kvtls2", L"KVTLS", L"kvtl", L"xkvtls", L"kvtls "})},
        {"64 KiB", Bytes(big), WellFormed(bigEntries)},
    };
    for (const Shape& shape : shapes) {
        EXPECT_EQ(shape.expected, Repaired(shape.bytes, L"kvtls")) << shape.name << " (model)";
        EXPECT_EQ(shape.expected, Edit(shape.bytes, L"kvtls", false)) << shape.name;
        EXPECT_EQ(Repaired(shape.bytes, L"kvtls", kSystemPackages), Edit(shape.bytes, L"kvtls", true)) << shape.name;
    }
    // Where the SSL repair puts the names back.
    EXPECT_EQ(UnitBytes(L"\0schannel\0kerberos\0msv1_0\0\0"), Edit(UnitBytes(L"\0\0"), L"kvssl", true));
    EXPECT_EQ(UnitBytes(L"a\0schannel\0kerberos\0msv1_0\0\0"), Edit(Bytes(L"a"), L"kvssl", true));
    EXPECT_EQ(UnitBytes(L"a\0kerberos\0schannel\0msv1_0\0\0"), Edit(UnitBytes(L"a\0kerberos\0"), L"kvssl", true));
    EXPECT_EQ(WellFormed(kSystemPackages), Edit("", L"kvssl", true));
}

TEST(MultiString, FindsWholeEntriesOnlyAndAfterEmptyOnes) {
    GuardedUnits list(UnitBytes(L"kvtls2\0xkvtls\0\0kvtls"));
    EXPECT_EQ(15u, FindMultiStringEntry(list.units, list.count, L"kvtls"));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, list.count, L"kvtl"));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, list.count, L""));
    EXPECT_EQ(kNoEntry, FindMultiStringEntry(list.units, 0, L"kvtls"));
}

// An entry needs room for its units and its NUL: room for the units alone must
// say so and write nothing past the buffer (the guard page faults).
TEST(MultiString, AnEditFitsExactlyItsRoomAndNotOneUnitLess) {
    const std::string copied = UnitBytes(L"msv1_0\0schannel\0");
    EXPECT_EQ(copied, EditWithin(copied + Bytes(L"kvtls"), L"kvtls", false, 16));
    EXPECT_EQ("<no room>", EditWithin(copied + Bytes(L"kvtls"), L"kvtls", false, 15));
    // A list closed by its NUL, one without it, one whose last entry lacks its NUL.
    for (const std::string& list : {UnitBytes(L"\0"), UnitBytes(L"a\0"), Bytes(L"a")}) {
        GuardedUnits in(list);
        size_t grown = Repaired(list, L"kvtls", {L"msv1_0"}).size() / 2;
        for (size_t capacity : {grown - 1, grown}) {
            wchar_t* out = static_cast<wchar_t*>(GuardedBlock(capacity * sizeof(wchar_t)));
            memcpy(out, in.units, in.count * sizeof(wchar_t));
            EXPECT_EQ(capacity == grown ? grown : kNoRoom, EnsureMultiStringEntry(out, in.count, capacity, L"msv1_0"))
                << "list of " << in.count << " units, room " << capacity;
            ReleaseGuardedBlock(out);
        }
    }
}

TEST(MultiString, ThousandsOfRandomListsKeepEveryOtherEntryInOrder) {
    ListGenerator generator(20240611);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes = WholeUnits(generator.Next());
        const wchar_t* removed = generator.Pick(0, 1) ? L"kvtls" : L"kvssl";
        bool restore = generator.Pick(0, 1) == 1;
        std::string expected = Repaired(bytes, removed, restore ? kSystemPackages : Entries{});
        ASSERT_EQ(expected, Edit(bytes, removed, restore)) << "list " << i;
        // One unit less room: the edit says it does not fit and stays inside its buffer.
        if (!expected.empty()) {
            ASSERT_EQ("<no room>", EditWithin(bytes, removed, restore, expected.size() / 2 - 1)) << "list " << i;
        }
    }
}

}  // namespace
