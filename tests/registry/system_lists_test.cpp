// The LSA package list and the default revocation provider, repaired on the
// machine's real values (saved before and put back after every test).
#include <optional>

#include "registry/revocation.h"
#include "registry/security_packages.h"
#include "tests/registry/guarded_memory.h"
#include "tests/registry/list_model.h"
#include "tests/registry/registry_fixture.h"

namespace {

const wchar_t kLsa[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kPackages[] = L"Security Packages";
const Entries kSystemPackages = {L"schannel", L"kerberos", L"msv1_0"};

// A registry value as it was before a test, put back afterwards.
class SavedValue {
public:
    SavedValue(HKEY root, std::wstring path, std::wstring name, REGSAM view = 0)
        : root_(root), path_(std::move(path)), name_(std::move(name)), view_(view) {
        keyExisted_ = KeyExists(root_, path_, view_);
        data_ = ReadValue(root_, path_, name_, &type_, view_);
    }
    ~SavedValue() {
        if (!keyExisted_) {
            DeleteTree(root_, path_, view_);
            return;
        }
        if (data_) {
            SetValue(root_, path_, name_, type_, data_->data(), static_cast<DWORD>(data_->size()), view_);
        } else {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(root_, path_.c_str(), 0, KEY_SET_VALUE | view_, &key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key, name_.c_str());
                ::RegCloseKey(key);
            }
        }
    }

private:
    HKEY root_;
    std::wstring path_, name_;
    REGSAM view_;
    bool keyExisted_ = false;
    DWORD type_ = REG_NONE;
    std::optional<std::string> data_;
};

// Counts the values the program writes (and lets them through).
class WriteCounter {
public:
    WriteCounter()
        : hook_([this, previous = ScopedHook<&Win32Api::RegSetValueExW>::Current()](
                    HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD bytes) -> LONG {
              ++writes_;
              return previous(key, name, reserved, type, data, bytes);
          }) {}
    int writes() const { return writes_; }

private:
    int writes_ = 0;
    ScopedHook<&Win32Api::RegSetValueExW> hook_;
};

class SecurityPackagesTest : public RegistryTest {
protected:
    void SetPackages(const std::string& bytes, DWORD type = REG_MULTI_SZ) {
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kLsa, kPackages, type, bytes.data(), static_cast<DWORD>(bytes.size())));
    }
    void SetList(const Entries& entries) { SetPackages(WellFormed(entries)); }
    std::string Packages(DWORD* type = nullptr) {
        return ReadValue(HKEY_LOCAL_MACHINE, kLsa, kPackages, type).value_or("<missing>");
    }

    SavedValue saved_{HKEY_LOCAL_MACHINE, kLsa, kPackages};
};

TEST_F(SecurityPackagesTest, RemovesTheTlsPackageAndShowsBothLists) {
    SetList({L"msv1_0", L"kvtls", L"schannel"});
    ConsoleCapture capture;
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ("TlsRegUninstall\n"
              "  Old Security Packages: [msv1_0 kvtls schannel  ]\n"
              "    found: kvtls\n"
              "  New Security Packages: [msv1_0 schannel  ]\n"
              "\n",
              capture.out());
    DWORD type = 0;
    EXPECT_EQ(WellFormed({L"msv1_0", L"schannel"}), Packages(&type));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(1u, g_rebootNeeded);
}

TEST_F(SecurityPackagesTest, EveryOccurrenceGoesAndOnlyWholeEntriesMatch) {
    SetList({L"kerberos", L"kvtls", L"msv1_0", L"kvtls", L"schannel", L"kvtls", L"kvssl", L"kvssl", L"kvssl"});
    ConsoleCapture capture;
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ(0u, SslRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({L"kerberos", L"msv1_0", L"schannel"}), Packages());
    SetList({L"kvtls2", L"KVTLS", L"kvtl", L"kvtls", L"msv1_0", L"kvtls"});
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({L"kvtls2", L"KVTLS", L"kvtl", L"msv1_0"}), Packages());
}

// Empty entries do not end the list: Windows itself often stores "" alone, and
// installers append after it.
TEST_F(SecurityPackagesTest, EntriesAfterAnEmptyEntryAreSearchedAndKept) {
    SetList({L"", L"kvtls", L"acmeauth", L"kvssl", L"kerberos"});
    {
        ConsoleCapture capture;
        EXPECT_NE(0u, TlsRegUninstall(0, 1));
        Printed printed = SplitReports(capture);
        EXPECT_EQ(std::vector<std::string>{"Redundant data found"}, printed.reports);
        EXPECT_EQ("TlsRegUninstall\n  Old Security Packages: [ kvtls acmeauth kvssl kerberos  ]\n    found: kvtls\n\n",
                  printed.text);
    }
    ConsoleCapture capture;
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({L"", L"acmeauth", L"kvssl", L"kerberos"}), Packages());
    EXPECT_EQ(0u, SslRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({L"", L"acmeauth", L"kerberos", L"schannel", L"msv1_0"}), Packages());
    // Without the family's entry the bytes go back as they were read, whatever their shape.
    const std::string unchanged = UnitBytes(L"\0\0acmeauth\0\0\0msv1_0");
    SetPackages(unchanged);
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ(unchanged, Packages());
    EXPECT_EQ(1u, g_rebootNeeded);
}

TEST_F(SecurityPackagesTest, EveryWipeRewritesTheListAndNeedsARebootEvenWithoutAFind) {
    SetList({L"kvtls2", L"msv1_0"});
    WriteCounter counter;
    ConsoleCapture capture;
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ("TlsRegUninstall\n"
              "  Old Security Packages: [kvtls2 msv1_0  ]\n"
              "    not found: kvtls\n"
              "  New Security Packages: [kvtls2 msv1_0  ]\n"
              "\n",
              capture.out());
    EXPECT_EQ(1, counter.writes());
    EXPECT_EQ(WellFormed({L"kvtls2", L"msv1_0"}), Packages());
    EXPECT_EQ(1u, g_rebootNeeded);
}

TEST_F(SecurityPackagesTest, SslRepairPutsBackMissingSystemPackagesInOrderAndTlsNever) {
    SetList({L"kvssl", L"kerberos"});
    ConsoleCapture capture;
    EXPECT_EQ(0u, SslRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({L"kerberos", L"schannel", L"msv1_0"}), Packages());
    EXPECT_NE(std::string::npos, capture.out().find("SslRegUninstall\n  Old Security Packages: [kvssl kerberos  ]\n"
                                                    "    found: kvssl\n"
                                                    "  New Security Packages: [kerberos schannel msv1_0  ]\n\n"));
    SetList(Entries{});
    EXPECT_EQ(0u, SslRegUninstall(1, 0));
    EXPECT_EQ(WellFormed(kSystemPackages), Packages());
    SetList({L"kvtls"});
    EXPECT_EQ(0u, TlsRegUninstall(1, 0));
    EXPECT_EQ(WellFormed({}), Packages());
}

TEST_F(SecurityPackagesTest, ListModeReportsAFindUnderWarnAndWritesNothing) {
    SetList({L"msv1_0", L"kvssl"});
    WriteCounter counter;
    ConsoleCapture capture;
    EXPECT_NE(0u, SslRegUninstall(0, 1));
    Printed printed = SplitReports(capture);
    EXPECT_EQ(std::vector<std::string>{"Redundant data found"}, printed.reports);
    EXPECT_EQ("SslRegUninstall\n  Old Security Packages: [msv1_0 kvssl  ]\n    found: kvssl\n\n", printed.text);
    EXPECT_EQ(0, counter.writes());
    EXPECT_EQ(0u, g_rebootNeeded);
    EXPECT_EQ(WellFormed({L"msv1_0", L"kvssl"}), Packages());
}

TEST_F(SecurityPackagesTest, OpensTheKeyToQueryAndSetOnlyInTheChosenView) {
    SetList({L"msv1_0"});
    for (u32 view : {0u, static_cast<u32>(KEY_WOW64_64KEY)}) {
        g_registryView = view;
        OpenRecorder recorder;
        ConsoleCapture capture;
        EXPECT_EQ(0u, TlsRegUninstall(0, 0));
        ASSERT_FALSE(recorder.opens().empty());
        EXPECT_EQ(static_cast<REGSAM>(KEY_QUERY_VALUE | KEY_SET_VALUE | view), recorder.opens()[0].access);
        // Then only where CurrentControlSet, Windows' own link on the path, leads: read in the same view.
        for (size_t i = 1; i < recorder.opens().size(); ++i)
            EXPECT_EQ(static_cast<REGSAM>(KEY_QUERY_VALUE | view), recorder.opens()[i].access);
    }
}

TEST_F(SecurityPackagesTest, FailuresEndTheRepairWithTheFailingCallsCode) {
    SetList({L"kvtls"});
    {
        auto closed = FailAlways<&Win32Api::RegOpenKeyExW>(LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(5u, TlsRegUninstall(1, 1));
        EXPECT_EQ("TlsRegUninstall\n", capture.out());
    }
    {
        auto unreadable = FailAlways<&Win32Api::RegQueryValueExW>(LONG(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
        ConsoleCapture capture;
        EXPECT_EQ(2u, TlsRegUninstall(1, 0));
        EXPECT_EQ(std::vector<std::string>{"RegQueryValueEx failed"}, SplitReports(capture).reports);
    }
    {
        auto noPages = FailAlways<&Win32Api::VirtualAlloc>(LPVOID(nullptr), ERROR_NOT_ENOUGH_MEMORY);
        ConsoleCapture capture;
        EXPECT_EQ(8u, SslRegUninstall(1, 0));
        EXPECT_EQ(std::vector<std::string>{"Not enough memory"}, SplitReports(capture).reports);
    }
    {
        auto unwritable = FailAlways<&Win32Api::RegSetValueExW>(LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
        ConsoleCapture capture;
        EXPECT_EQ(5u, TlsRegUninstall(1, 0));
        EXPECT_EQ(std::vector<std::string>{"RegSetValueEx failed"}, SplitReports(capture).reports);
    }
    EXPECT_EQ(0u, g_rebootNeeded);
    EXPECT_EQ(WellFormed({L"kvtls"}), Packages());
}

struct OddList {
    const char* name;
    std::string bytes;
    DWORD type;
    std::string tlsResult;
};

TEST_F(SecurityPackagesTest, ListsOfEveryShapeAreRepairedWithinTheirBuffersAndKeepTheirShape) {
    std::wstring big;
    Entries bigEntries;
    for (int i = 0; big.size() < 32700; ++i) {
        std::wstring entry = i == 2000 ? L"kvtls" : L"pkg" + std::to_wstring(i);
        big += entry + L'\0';
        if (entry != L"kvtls") bigEntries.push_back(entry);
    }
    big += L'\0';
    const OddList lists[] = {
        {"odd length", WellFormed({L"msv1_0", L"kvtls"}) + "x", REG_MULTI_SZ, WellFormed({L"msv1_0"}) + "x"},
        {"no closing NUL", UnitBytes(L"msv1_0\0kvtls\0schannel\0"), REG_MULTI_SZ, UnitBytes(L"msv1_0\0schannel\0")},
        {"no NUL at all", Bytes(L"kvtls"), REG_MULTI_SZ, ""},
        {"empty", "", REG_MULTI_SZ, ""},
        {"REG_SZ", UnitBytes(L"kvtls\0"), REG_SZ, ""},
        {"64 KiB", Bytes(big), REG_MULTI_SZ, WellFormed(bigEntries)},
        {"family's entry last without terminator", UnitBytes(L"msv1_0\0kvtls"), REG_MULTI_SZ, UnitBytes(L"msv1_0\0")},
        {"absent, last entry without terminator", UnitBytes(L"msv1_0\0acme"), REG_MULTI_SZ, UnitBytes(L"msv1_0\0acme")},
        {"entries after an empty entry", UnitBytes(L"msv1_0\0\0kvtls\0"), REG_MULTI_SZ, UnitBytes(L"msv1_0\0\0")},
    };
    for (const OddList& list : lists) {
        for (bool ssl : {false, true}) {
            SetPackages(list.bytes, list.type);
            GuardedAllocations guarded;
            ConsoleCapture capture;
            EXPECT_EQ(0u, ssl ? SslRegUninstall(1, 0) : TlsRegUninstall(1, 0)) << list.name;
            EXPECT_EQ(2, guarded.blocks()) << list.name;
            DWORD type = 0;
            std::string expected = ssl ? Repaired(list.bytes, L"kvssl", kSystemPackages) : list.tlsResult;
            EXPECT_EQ(expected, Packages(&type)) << list.name << (ssl ? " (ssl)" : " (tls)");
            EXPECT_EQ(list.type, type) << list.name;
        }
    }
}

TEST_F(SecurityPackagesTest, ThousandsOfRandomListsAreRepairedIntoTheirExpectedBytes) {
    ListGenerator generator(7);
    const DWORD types[] = {REG_MULTI_SZ, REG_MULTI_SZ, REG_MULTI_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY};
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = generator.Next();
        DWORD type = types[generator.Pick(0, 5)];
        bool ssl = generator.Pick(0, 1) == 1;
        SetPackages(bytes, type);
        GuardedAllocations guarded;
        ConsoleCapture capture;
        ASSERT_EQ(0u, ssl ? SslRegUninstall(1, 0) : TlsRegUninstall(1, 0)) << "list " << i;
        std::string expected = ssl ? Repaired(bytes, L"kvssl", kSystemPackages) : Repaired(bytes, L"kvtls");
        DWORD written = 0;
        ASSERT_EQ(expected, Packages(&written)) << "list " << i;
        ASSERT_EQ(type, written) << "list " << i;
    }
}

const wchar_t kRevocation[] = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";
const char kRevocationKeyLine[] = "Key: SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT\n";

class RevocationTest : public RegistryTest {
protected:
    void SetProvider(const std::string& bytes, DWORD type = REG_MULTI_SZ, REGSAM view = 0) {
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", type, bytes.data(), static_cast<DWORD>(bytes.size()), view));
    }
    std::string Provider(DWORD* type = nullptr, REGSAM view = 0) {
        return ReadValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", type, view).value_or("<missing>");
    }
    // What the repair prints after the key's listing.
    static std::string AfterListing(const std::string& out) {
        size_t at = out.find("    Value: ");
        return at == std::string::npos ? out : out.substr(at);
    }

    SavedValue saved32_{HKEY_LOCAL_MACHINE, kRevocation, L"Dll", KEY_WOW64_32KEY};
    SavedValue saved64_{HKEY_LOCAL_MACHINE, kRevocation, L"Dll", KEY_WOW64_64KEY};
};

TEST_F(RevocationTest, SystemProviderAloneIsShownAndLeftAlone) {
    SetProvider(WellFormed({L"cryptnet.dll"}));
    WriteCounter counter;
    ConsoleCapture capture;
    EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 1));
    EXPECT_EQ(0u, capture.out().find(std::string("CertDllVerifyRevocationRegUninstall\n") + kRevocationKeyLine));
    EXPECT_NE(std::string::npos, capture.out().find("  ValName: Dll\n"));
    EXPECT_EQ("    Value: cryptnet.dll\n\n", AfterListing(capture.out()));
    EXPECT_EQ(0, counter.writes());
}

TEST_F(RevocationTest, FamilysModuleFirstIsReportedAndReplacedByTheSystemProviderAlone) {
    SetProvider(WellFormed({L"kvrevoke.dll", L"cryptnet.dll"}));
    {
        ConsoleCapture capture;
        EXPECT_NE(0u, CertDllVerifyRevocationRegUninstall(0, 1));
        Printed printed = SplitReports(capture);
        EXPECT_EQ(std::vector<std::string>{"Redundant data found: cryptnet.dll expected"}, printed.reports);
        EXPECT_EQ("    Value: kvrevoke.dll\n    NewValue: cryptnet.dll\n\n", AfterListing(printed.text));
    }
    EXPECT_EQ(WellFormed({L"kvrevoke.dll", L"cryptnet.dll"}), Provider());
    {
        ConsoleCapture capture;
        EXPECT_NE(0u, CertDllVerifyRevocationRegUninstall(1, 1));
    }
    DWORD type = 0;
    EXPECT_EQ(WellFormed({L"cryptnet.dll"}), Provider(&type));
    EXPECT_EQ(28u, Provider().size());
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(RevocationTest, CapitalisedSystemProviderCountsAsDifferent) {
    SetProvider(WellFormed({L"CRYPTNET.DLL"}));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 0));
    EXPECT_EQ("    Value: CRYPTNET.DLL\n    NewValue: cryptnet.dll\n\n", AfterListing(capture.out()));
    EXPECT_EQ(WellFormed({L"cryptnet.dll"}), Provider());
}

TEST_F(RevocationTest, MissingKeyIsNoFailureAlsoWithWarn) {
    auto missing = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM, PHKEY) { return wcscmp(name, kRevocation) == 0; },
        LONG(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 1));
    EXPECT_EQ("CertDllVerifyRevocationRegUninstall\nKey not exist: " + Utf8(kRevocation) + "\n\n", capture.out());
}

TEST_F(RevocationTest, EachViewRepairsOnlyItsOwnValue) {
    SetProvider(WellFormed({L"kvrevoke.dll"}), REG_MULTI_SZ, KEY_WOW64_64KEY);
    SetProvider(WellFormed({L"kvrevoke.dll"}), REG_MULTI_SZ, KEY_WOW64_32KEY);
    g_registryView = KEY_WOW64_64KEY;
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 0));
    }
    EXPECT_EQ(WellFormed({L"cryptnet.dll"}), Provider(nullptr, KEY_WOW64_64KEY));
    EXPECT_EQ(WellFormed({L"kvrevoke.dll"}), Provider(nullptr, KEY_WOW64_32KEY));
}

TEST_F(RevocationTest, FamilysModuleAfterTheSystemProviderIsRemovedWhereverItStands) {
    SetProvider(WellFormed({L"cryptnet.dll", L"kvocsp.dll"}));
    {
        ConsoleCapture capture;
        EXPECT_NE(0u, CertDllVerifyRevocationRegUninstall(0, 1));
        Printed printed = SplitReports(capture);
        EXPECT_EQ(std::vector<std::string>{"Redundant data found: kvocsp.dll"}, printed.reports);
        EXPECT_EQ("    Value: cryptnet.dll\n    found: kvocsp.dll\n    NewValue: cryptnet.dll\n\n",
                  AfterListing(printed.text));
    }
    EXPECT_EQ(WellFormed({L"cryptnet.dll", L"kvocsp.dll"}), Provider());
    {
        ConsoleCapture capture;
        EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 0));
    }
    EXPECT_EQ(WellFormed({L"cryptnet.dll"}), Provider());
    SetProvider(UnitBytes(L"cryptnet.dll\0kvocsp.dll\0acme.dll\0kvocsp.dll"));
    ConsoleCapture capture;
    EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 0));
    EXPECT_EQ("    Value: cryptnet.dll\n    found: kvocsp.dll\n    NewValue: cryptnet.dll acme.dll\n\n",
              AfterListing(capture.out()));
    DWORD type = 0;
    EXPECT_EQ(UnitBytes(L"cryptnet.dll\0acme.dll\0"), Provider(&type));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(0u, g_rebootNeeded);
}

TEST_F(RevocationTest, MissingProviderValueIsNoFailureAlsoWithWarn) {
    SetProvider(WellFormed({L"cryptnet.dll"}));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRevocation, 0, KEY_SET_VALUE, &key));
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(key, L"Dll"));
    ::RegCloseKey(key);
    ConsoleCapture capture;
    EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 1));
    EXPECT_EQ(std::string("CertDllVerifyRevocationRegUninstall\n") + kRevocationKeyLine + "    Value not exist: Dll\n\n",
              capture.out());
}

// RegSetValueExW counts one more unit into a string whose last unit is not NUL
// when the unit after it is NUL: the tests' planting must store exactly the
// bytes it is given, whatever follows them in memory.
TEST_F(RevocationTest, PlantedValuesHoldExactlyTheBytesGiven) {
    const std::wstring text = L"cryptnet.dll";
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", type, text.data(), 24));
        EXPECT_EQ(Bytes(text), Provider()) << type;
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kRevocation, L"Dll", type, text.c_str(), 25));
        EXPECT_EQ(Bytes(text) + std::string(1, '\0'), Provider()) << type;
    }
}

TEST_F(RevocationTest, MalformedValuesAreReadWithinTheirBuffers) {
    struct Case {
        const char* name;
        std::string bytes;
        DWORD type;
        std::string shown;
    };
    const Case cases[] = {
        {"odd length", Bytes(L"kvrevoke.dll") + "x", REG_MULTI_SZ, "kvrevoke.dll"},
        {"no NUL at all", Bytes(L"kvrevoke.dll"), REG_MULTI_SZ, "kvrevoke.dll"},
        {"system provider without NUL", Bytes(L"cryptnet.dll"), REG_MULTI_SZ, "cryptnet.dll"},
        {"empty", "", REG_MULTI_SZ, ""},
        {"one byte", "c", REG_MULTI_SZ, ""},
        {"REG_SZ", UnitBytes(L"kvrevoke.dll\0"), REG_SZ, "kvrevoke.dll"},
        {"64 KiB", Bytes(std::wstring(32767, L'k')), REG_MULTI_SZ, std::string(32767, 'k')},
    };
    for (const Case& item : cases) {
        SetProvider(item.bytes, item.type);
        GuardedAllocations guarded;
        ConsoleCapture capture;
        EXPECT_EQ(0u, CertDllVerifyRevocationRegUninstall(1, 0)) << item.name;
        bool system = item.shown == "cryptnet.dll";
        EXPECT_EQ("    Value: " + item.shown + "\n" + (system ? "" : "    NewValue: cryptnet.dll\n") + "\n",
                  AfterListing(capture.out()))
            << item.name;
        DWORD type = 0;
        EXPECT_EQ(system ? item.bytes : WellFormed({L"cryptnet.dll"}), Provider(&type)) << item.name;
        EXPECT_EQ(item.type, type) << item.name;
    }
}

}  // namespace
