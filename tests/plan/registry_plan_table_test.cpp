#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plan/identifiers.h"
#include "plan/registry_plan.h"

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kUserData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
const std::wstring kMsUpgradeCodes = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";
const std::wstring kChainPolicies =
    L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CertDllVerifyCertificateChainPolicy\\";

const RegistryPlanEntry& At(int seq) { return kRegistryPlan[seq - 1]; }
std::wstring PathAt(int seq) { return At(seq).path ? At(seq).path : L"(none)"; }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = towlower(c);
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The identifier after `prefix`, or empty when the row's path does not have that form.
std::wstring IdAfter(int seq, HKEY root, const std::wstring& prefix) {
    std::wstring path = PathAt(seq);
    if (At(seq).root != root || !StartsWith(path, prefix)) return std::wstring();
    return path.substr(prefix.size());
}

std::wstring Pack(const std::wstring& guid) {
    wchar_t packed[kPackedCodeUnits];
    return PackGuid(guid.c_str(), packed) ? packed : L"(not a GUID)";
}

template <size_t N>
std::set<std::wstring> SetOf(const wchar_t* const (&ids)[N]) {
    return std::set<std::wstring>(ids, ids + N);
}

// Identifiers named by the rows first..last after `prefix`, in order.
std::vector<std::wstring> IdsOf(int first, int last, HKEY root, const std::wstring& prefix) {
    std::vector<std::wstring> ids;
    for (int seq = first; seq <= last; ++seq) {
        std::wstring id = IdAfter(seq, root, prefix);
        EXPECT_FALSE(id.empty()) << "seq " << seq << ": " << PathAt(seq);
        ids.push_back(id);
    }
    return ids;
}

std::set<std::wstring> Distinct(const std::vector<std::wstring>& ids) { return {ids.begin(), ids.end()}; }

bool IsPackedCode(const std::wstring& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F');
           });
}

// The last path component of every key row that is a packed code.
std::set<std::wstring> PackedCodesOfThePlan() {
    std::set<std::wstring> codes;
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.kind != kKey) continue;
        std::wstring path = entry.path;
        std::wstring last = path.substr(path.rfind(L'\\') + 1);
        if (IsPackedCode(last)) codes.insert(last);
    }
    return codes;
}

TEST(RegistryPlanTable, RowsAreNumberedOneTo536InOrder) {
    for (int i = 0; i < kRegistryPlanSize; ++i) EXPECT_EQ(i + 1, kRegistryPlan[i].seq);
}

TEST(RegistryPlanTable, KindsCountAndStandInTheirGroups) {
    std::map<RegistryPlanKind, int> counts;
    for (const RegistryPlanEntry& entry : kRegistryPlan) ++counts[entry.kind];
    EXPECT_EQ(464, counts[kKey]);
    EXPECT_EQ(54, counts[kSearch]);
    EXPECT_EQ(15, counts[kValueMatch]);
    EXPECT_EQ(1, counts[kTlsPackages]);
    EXPECT_EQ(1, counts[kSslPackages]);
    EXPECT_EQ(1, counts[kRevocation]);

    struct Group {
        int first, last;
        RegistryPlanKind kind;
    };
    const Group expected[] = {
        {1, 168, kKey},           {169, 203, kSearch},      {204, 213, kKey},      {214, 217, kSearch},
        {218, 224, kKey},         {225, 226, kSearch},      {227, 235, kValueMatch}, {236, 236, kTlsPackages},
        {237, 237, kSslPackages}, {238, 238, kRevocation},  {239, 244, kValueMatch}, {245, 257, kSearch},
        {258, 536, kKey},
    };
    std::vector<Group> actual;
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (actual.empty() || actual.back().kind != entry.kind) {
            actual.push_back({entry.seq, entry.seq, entry.kind});
        } else {
            actual.back().last = entry.seq;
        }
    }
    ASSERT_EQ(std::size(expected), actual.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(expected[i].first, actual[i].first) << "group " << i;
        EXPECT_EQ(expected[i].last, actual[i].last) << "group " << i;
        EXPECT_EQ(expected[i].kind, actual[i].kind) << "group " << i;
    }
}

TEST(RegistryPlanTable, EachKindCarriesExactlyItsOwnFields) {
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        SCOPED_TRACE(entry.seq);
        switch (entry.kind) {
            case kKey:
                EXPECT_TRUE(entry.root == HKEY_CLASSES_ROOT || entry.root == HKEY_CURRENT_USER ||
                            entry.root == HKEY_LOCAL_MACHINE);
                ASSERT_NE(nullptr, entry.path);
                EXPECT_NE(L'\\', entry.path[0]);
                EXPECT_EQ(nullptr, entry.lpKeyNameMatch);
                EXPECT_EQ(nullptr, entry.lpValNameMatch);
                EXPECT_EQ(nullptr, entry.lpValDataMatch);
                EXPECT_EQ(nullptr, entry.pattern);
                break;
            case kSearch:
                EXPECT_EQ(HKEY_LOCAL_MACHINE, entry.root);
                ASSERT_NE(nullptr, entry.path);
                EXPECT_EQ(nullptr, entry.lpValNameMatch);
                EXPECT_NE(entry.lpKeyNameMatch == nullptr, entry.lpValDataMatch == nullptr);
                EXPECT_EQ(nullptr, entry.pattern);
                break;
            case kValueMatch:
                EXPECT_EQ(HKEY_LOCAL_MACHINE, entry.root);
                ASSERT_NE(nullptr, entry.path);
                ASSERT_NE(nullptr, entry.pattern);
                EXPECT_EQ(nullptr, entry.lpKeyNameMatch);
                EXPECT_EQ(nullptr, entry.lpValNameMatch);
                EXPECT_EQ(nullptr, entry.lpValDataMatch);
                break;
            case kTlsPackages:
            case kSslPackages:
            case kRevocation:
                EXPECT_EQ(nullptr, entry.root);
                EXPECT_EQ(nullptr, entry.path);
                EXPECT_EQ(nullptr, entry.pattern);
                break;
        }
    }
}

TEST(RegistryPlanTable, OnlyTheIntendedKeyRowsRepeat) {
    // Registry names compare without case, so "SnapIns" and "Snapins" would be one key.
    std::map<std::pair<HKEY, std::wstring>, std::vector<int>> rowsByKey;
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.kind == kKey) rowsByKey[{entry.root, Lower(entry.path)}].push_back(entry.seq);
    }
    std::set<std::vector<int>> repeats;
    for (const auto& [key, rows] : rowsByKey) {
        if (rows.size() > 1) repeats.insert(rows);
    }
    std::set<std::vector<int>> expected = {{27, 534}, {204, 211}, {205, 213}, {206, 210}, {207, 212},
                                           {208, 221}, {389, 441}, {523, 524}, {527, 530}};
    EXPECT_EQ(expected, repeats);
}

TEST(RegistryPlanTable, ChainPoliciesAndMmcIdentifiersRelateAsDescribed) {
    std::vector<std::wstring> first = IdsOf(204, 207, HKEY_LOCAL_MACHINE, kChainPolicies);
    std::vector<std::wstring> second = IdsOf(210, 213, HKEY_LOCAL_MACHINE, kChainPolicies);
    EXPECT_EQ(SetOf(kChainPolicyIds), Distinct(first));
    EXPECT_EQ(Distinct(first), Distinct(second));
    EXPECT_NE(first, second);

    const std::wstring snapIns = L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\";
    const std::wstring nodeTypes = L"SOFTWARE\\Microsoft\\MMC\\NodeTypes\\";
    const std::wstring snapInNodeTypes = L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\NodeTypes\\";
    std::wstring snapIn208 = IdAfter(208, HKEY_LOCAL_MACHINE, snapIns);
    std::wstring nodeType209 = IdAfter(209, HKEY_LOCAL_MACHINE, nodeTypes);
    std::vector<std::wstring> nodeTypes218 = IdsOf(218, 220, HKEY_LOCAL_MACHINE, snapInNodeTypes);
    std::vector<std::wstring> snapIns221 = IdsOf(221, 224, HKEY_LOCAL_MACHINE, snapIns);
    std::wstring nodeType531 = IdAfter(531, HKEY_LOCAL_MACHINE, nodeTypes);
    std::wstring snapIn532 = IdAfter(532, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\MMC\\Snapins\\");

    EXPECT_EQ(nodeType209, nodeTypes218[0]);
    EXPECT_EQ(snapIn208, snapIns221[0]);
    EXPECT_EQ(3u, Distinct(nodeTypes218).size());
    EXPECT_EQ(4u, Distinct(snapIns221).size());
    std::set<std::wstring> allNodeTypes = Distinct(nodeTypes218);
    allNodeTypes.insert(nodeType531);
    std::set<std::wstring> allSnapIns = Distinct(snapIns221);
    allSnapIns.insert(snapIn532);
    EXPECT_EQ(SetOf(kNodeTypeIds), allNodeTypes);
    EXPECT_EQ(SetOf(kSnapInIds), allSnapIns);

    EXPECT_EQ(SetOf(kPropertySetIds),
              std::set<std::wstring>{IdAfter(
                  499, HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\")});
}

// A COM kind registered in three runs: the first rows under HKCR, copies under
// HKLM\SOFTWARE\Classes (each one of the first), and further rows (none of the first).
struct ComRows {
    int first, last;
    int copiesFirst, copiesLast;
    int furtherFirst, furtherLast;
    std::wstring key;  // "CLSID\\" or "TypeLib\\"
};

std::set<std::wstring> ExpectCopiesAndFurther(const ComRows& rows) {
    std::vector<std::wstring> first = IdsOf(rows.first, rows.last, HKEY_CLASSES_ROOT, rows.key);
    std::vector<std::wstring> copies =
        IdsOf(rows.copiesFirst, rows.copiesLast, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\" + rows.key);
    std::vector<std::wstring> further = IdsOf(rows.furtherFirst, rows.furtherLast, HKEY_CLASSES_ROOT, rows.key);
    std::set<std::wstring> firstIds = Distinct(first);
    EXPECT_EQ(first.size(), firstIds.size());
    EXPECT_EQ(copies.size(), Distinct(copies).size());
    for (const std::wstring& id : copies) EXPECT_EQ(1u, firstIds.count(id)) << id;
    EXPECT_EQ(further.size(), Distinct(further).size());
    for (const std::wstring& id : further) EXPECT_EQ(0u, firstIds.count(id)) << id;
    std::set<std::wstring> all = firstIds;
    all.insert(further.begin(), further.end());
    return all;
}

TEST(RegistryPlanTable, ClassesTypeLibrariesAndInterfacesRelateAsDescribed) {
    EXPECT_EQ(SetOf(kClassIds), ExpectCopiesAndFurther({259, 277, 358, 373, 500, 509, L"CLSID\\"}));
    EXPECT_EQ(SetOf(kTypeLibraryIds), ExpectCopiesAndFurther({374, 385, 488, 494, 510, 514, L"TypeLib\\"}));

    std::vector<std::wstring> interfaces = IdsOf(386, 487, HKEY_CLASSES_ROOT, L"Interface\\");
    EXPECT_EQ(102u, interfaces.size());
    EXPECT_EQ(SetOf(kInterfaceIds), Distinct(interfaces));
    EXPECT_EQ(interfaces[389 - 386], interfaces[441 - 386]);
}

TEST(RegistryPlanTable, FamilyProgIdsStandWhereTheirLibrariesAre) {
    std::vector<std::wstring> progIds;
    for (auto [first, last] : {std::pair{278, 279}, {309, 314}, {345, 351}, {515, 521}}) {
        for (int seq = first; seq <= last; ++seq) {
            EXPECT_EQ(HKEY_CLASSES_ROOT, At(seq).root) << seq;
            progIds.push_back(PathAt(seq));
        }
    }
    EXPECT_EQ(std::vector<std::wstring>(std::begin(kFamilyProgIds), std::end(kFamilyProgIds)), progIds);
    // With the ".1" suffix first, then without, where the libraries pair them.
    EXPECT_EQ(PathAt(278), PathAt(279) + L".1");
    for (int seq : {309, 311, 313, 345, 348, 350, 515}) EXPECT_EQ(PathAt(seq), PathAt(seq + 1) + L".1") << seq;
}

// One of nineteen groups: Features, Products, then UserData and Uninstall in
// either order, then the SOFTWARE\Classes copies of Features and Products; the
// packed code of all five is the product code of the Uninstall row, packed.
void ExpectProductGroup(int first, std::wstring* packedOut, std::wstring* productOut) {
    SCOPED_TRACE(first);
    std::wstring packed = IdAfter(first, HKEY_CLASSES_ROOT, L"Installer\\Features\\");
    EXPECT_TRUE(IsPackedCode(packed)) << PathAt(first);
    EXPECT_EQ(packed, IdAfter(first + 1, HKEY_CLASSES_ROOT, L"Installer\\Products\\"));
    std::wstring userData = IdAfter(first + 2, HKEY_LOCAL_MACHINE, kUserData);
    std::wstring product = IdAfter(first + 3, HKEY_LOCAL_MACHINE, kUninstall);
    if (userData.empty()) {
        product = IdAfter(first + 2, HKEY_LOCAL_MACHINE, kUninstall);
        userData = IdAfter(first + 3, HKEY_LOCAL_MACHINE, kUserData);
    }
    EXPECT_EQ(packed, userData);
    EXPECT_EQ(packed, Pack(product)) << product;
    EXPECT_EQ(packed, IdAfter(first + 4, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\"));
    EXPECT_EQ(packed, IdAfter(first + 5, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\"));
    *packedOut = packed;
    *productOut = product;
}

TEST(RegistryPlanTable, InstallerGroupsNameOneProductEach) {
    std::set<std::wstring> packedCodes, productCodes;
    int uninstallFirst = 0;
    for (int first = 30; first < 158; first += 6) {
        if (first == 96) first = 110;  // the interleaved group, below
        std::wstring packed, product;
        ExpectProductGroup(first, &packed, &product);
        packedCodes.insert(packed);
        productCodes.insert(product);
        if (StartsWith(PathAt(first + 2), kUninstall)) ++uninstallFirst;
    }
    EXPECT_EQ(19u, packedCodes.size());
    EXPECT_EQ(19u, productCodes.size());
    EXPECT_GT(uninstallFirst, 0);
    EXPECT_LT(uninstallFirst, 19);
}

TEST(RegistryPlanTable, InterleavedGroupNamesTwoProductsAndTheSecondOnesCodeAsUpgradeCode) {
    std::wstring a = IdAfter(96, HKEY_CLASSES_ROOT, L"Installer\\Features\\");
    std::wstring b = IdAfter(98, HKEY_CLASSES_ROOT, L"Installer\\Features\\");
    ASSERT_TRUE(IsPackedCode(a));
    ASSERT_TRUE(IsPackedCode(b));
    EXPECT_NE(a, b);
    EXPECT_EQ(a, IdAfter(97, HKEY_CLASSES_ROOT, L"Installer\\Products\\"));
    EXPECT_EQ(b, IdAfter(99, HKEY_CLASSES_ROOT, L"Installer\\Products\\"));
    EXPECT_EQ(b, IdAfter(100, HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\"));
    EXPECT_EQ(b, IdAfter(101, HKEY_CLASSES_ROOT, kMsUpgradeCodes));
    EXPECT_EQ(b, IdAfter(102, HKEY_LOCAL_MACHINE, kMsUpgradeCodes));
    EXPECT_EQ(a, IdAfter(103, HKEY_LOCAL_MACHINE, kUserData));
    EXPECT_EQ(b, IdAfter(104, HKEY_LOCAL_MACHINE, kUserData));
    EXPECT_EQ(a, Pack(IdAfter(105, HKEY_LOCAL_MACHINE, kUninstall)));
    EXPECT_EQ(a, IdAfter(106, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\"));
    EXPECT_EQ(a, IdAfter(107, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\"));
    EXPECT_EQ(b, IdAfter(108, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Features\\"));
    EXPECT_EQ(b, IdAfter(109, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\Products\\"));

    // Both are products of the family, known by their product codes.
    std::set<std::wstring> productPacked;
    for (const InstallerCode& code : kProductCodes) productPacked.insert(code.packed);
    EXPECT_EQ(1u, productPacked.count(a));
    EXPECT_EQ(1u, productPacked.count(b));
}

TEST(RegistryPlanTable, UpgradeCodesAndTheLastProductRelateAsDescribed) {
    std::set<std::wstring> upgrades;
    for (int seq = 160; seq <= 167; seq += 2) {
        std::wstring code = IdAfter(seq, HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\");
        EXPECT_TRUE(IsPackedCode(code)) << seq;
        EXPECT_EQ(code, IdAfter(seq + 1, HKEY_CLASSES_ROOT, kMsUpgradeCodes)) << seq;
        upgrades.insert(code);
    }
    EXPECT_EQ(4u, upgrades.size());

    std::wstring lastUpgrade = IdAfter(523, HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\");
    EXPECT_EQ(lastUpgrade, IdAfter(524, HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\"));
    EXPECT_EQ(lastUpgrade, IdAfter(536, HKEY_LOCAL_MACHINE, kMsUpgradeCodes));
    upgrades.insert(lastUpgrade);
    std::set<std::wstring> expectedUpgrades;
    for (const InstallerCode& code : kUpgradeCodes) expectedUpgrades.insert(code.packed);
    EXPECT_EQ(expectedUpgrades, upgrades);

    std::wstring lastProduct = IdAfter(522, HKEY_CLASSES_ROOT, L"Installer\\Features\\");
    EXPECT_EQ(lastProduct, IdAfter(533, HKEY_LOCAL_MACHINE, kUserData));
    EXPECT_EQ(lastProduct, Pack(IdAfter(535, HKEY_LOCAL_MACHINE, kUninstall)));
    EXPECT_EQ(IdAfter(27, HKEY_LOCAL_MACHINE, kUninstall), IdAfter(534, HKEY_LOCAL_MACHINE, kUninstall));
}

TEST(RegistryPlanTable, InstallerCodesCountTwentySevenPackedAndTwentyFourUninstalled) {
    std::set<std::wstring> packed = PackedCodesOfThePlan();
    EXPECT_EQ(27u, packed.size());
    std::set<std::wstring> known;
    for (const InstallerCode& code : kProductCodes) known.insert(code.packed);
    for (const InstallerCode& code : kUpgradeCodes) known.insert(code.packed);
    for (const std::wstring& code : packed) EXPECT_EQ(1u, known.count(code)) << code;

    std::set<std::wstring> uninstalled, products;
    for (const InstallerCode& code : kProductCodes) products.insert(code.guid);
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.kind != kKey || !StartsWith(entry.path, kUninstall)) continue;
        std::wstring code = std::wstring(entry.path).substr(kUninstall.size());
        EXPECT_EQ(1u, products.count(code)) << entry.seq;
        uninstalled.insert(code);
    }
    EXPECT_EQ(24u, uninstalled.size());

    // The three products of seq 27-29 have no Installer rows.
    for (int seq = 27; seq <= 29; ++seq) {
        std::wstring code = IdAfter(seq, HKEY_LOCAL_MACHINE, kUninstall);
        EXPECT_EQ(0u, packed.count(Pack(code))) << seq;
    }
}

TEST(RegistryPlanTable, MicrosoftPathsUnderClassesRootAreTheSixNamed) {
    std::vector<int> rows;
    for (const RegistryPlanEntry& entry : kRegistryPlan) {
        if (entry.kind == kKey && entry.root == HKEY_CLASSES_ROOT && StartsWith(entry.path, L"SOFTWARE\\Microsoft\\"))
            rows.push_back(entry.seq);
    }
    EXPECT_EQ((std::vector<int>{101, 161, 163, 165, 167, 258}), rows);
}

// Expected literal rows, each written as its group reads: a root, a common
// prefix and the names that follow it, from `first` on.
struct LiteralRows {
    int first;
    HKEY root;
    std::wstring prefix;
    std::vector<std::wstring> names;
};

void ExpectLiteralRows(const LiteralRows& rows) {
    for (size_t i = 0; i < rows.names.size(); ++i) {
        int seq = rows.first + static_cast<int>(i);
        EXPECT_EQ(kKey, At(seq).kind) << seq;
        EXPECT_EQ(rows.root, At(seq).root) << seq;
        EXPECT_EQ(rows.prefix + rows.names[i], PathAt(seq)) << seq;
    }
}

TEST(RegistryPlanTable, LiteralKeyRowsNameTheFamilysKeys) {
    const HKEY HKCR = HKEY_CLASSES_ROOT, HKCU = HKEY_CURRENT_USER, HKLM = HKEY_LOCAL_MACHINE;
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    const LiteralRows expected[] = {
        {1, HKLM, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\", {L"KVanIntegrity", L"KVanPatches"}},
        {3, HKLM, services + L"Eventlog\\Application\\", {L"kvcspi", L"kvsspap"}},
        {5, HKLM, services + L"Eventlog\\System\\", {L"KVanCtrl"}},
        {6, HKLM, services, {L"kvrmcsp", L"kvcsp1", L"kvcsp2", L"kvdrvlib", L"kvksp", L"KVanCtrl", L"kvinit"}},
        {13, HKLM, L"SOFTWARE\\Kor Vane\\",
         {L"Cryptography\\CurrentVersion\\AppPath", L"Cryptography", L"OCSPAPI", L"RP", L"App Paths",
          L"Settings\\Detours", L"Catalog"}},
        {20, HKLM, L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types\\",
         {L"Type 002", L"Type 071", L"Type 075"}},
        {23, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\",
         {L"kvtest.exe", L"lindrel.exe", L"kvverify.exe"}},
        {26, HKLM, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\", {L"kvcsp"}},
        {158, HKLM, L"SOFTWARE\\Microsoft\\Office\\", {L"Excel\\Addins\\kvXMLDSigAddIn.Connect",
                                                       L"Word\\Addins\\kvXMLDSigAddIn.Connect"}},
        {168, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\", {L"InProgress"}},
        {258, HKCR, L"SOFTWARE\\Microsoft\\Internet Explorer\\", {L"ActiveX Compatibility"}},
        {280, HKCR, L"CAPICOM.",
         {L"PrivateKey.1", L"PrivateKey", L"Utilities.1", L"Utilities", L"Certificates", L"Attribute", L"Chain.1",
          L"Chain", L"Signer.1", L"Signer", L"OID", L"SignedCode", L"Certificate", L"Store.1", L"Store",
          L"SignedData", L"ExtendedProperty", L"EncryptedData.1", L"EncryptedData", L"Settings.1", L"Settings",
          L"HashedData.1", L"HashedData", L"Certificate.2", L"Certificate.1", L"EnvelopedData.1", L"EnvelopedData",
          L"Certificates.2", L"Certificates.1"}},
        {352, HKCR, L"", {L".orq", L".ors", L".tsq", L".tsr", L"TSQFile", L"TSRFile"}},
        {495, HKCR, L"", {L"ORQFile"}},
        {496, HKLM, L"SOFTWARE\\Classes\\", {L"ORQFile"}},
        {497, HKCR, L"", {L"ORSFile"}},
        {498, HKLM, L"SOFTWARE\\Classes\\", {L"ORSFile"}},
        {525, HKCU, L"Software\\Kor Vane\\", {L"EFS"}},
        {526, HKLM, services + L"Eventlog\\System\\", {L"kvefs"}},
        {527, HKLM, services, {L"kvefssrv", L"kvdrv36", L"kvefs", L"kvefssrv"}},
    };
    for (const LiteralRows& rows : expected) ExpectLiteralRows(rows);

    const wchar_t* kvicomClasses[] = {
        L"Attribute", L"Attributes", L"BasicConstraints", L"CertEncodeAIAInfo", L"CertEncodeAltName",
        L"CertEncodeCRLDistInfo", L"Certificate", L"Certificates", L"CertRequest", L"KVKeyUsage", L"CRL",
        L"CRLEntries", L"CRLEntry", L"CRLNumber", L"CRLs", L"CSPInfo", L"DN", L"EKU", L"EKUs", L"ExtendedKeyUsage",
        L"Extension", L"Extensions", L"HashedData", L"OIDs", L"PublicKey", L"RDN", L"Store", L"Stores",
        L"Template", L"Utilities"};
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(HKCR, At(315 + i).root);
        EXPECT_EQ(std::wstring(L"KVICom.") + kvicomClasses[i] + L".2.0", PathAt(315 + i));
    }
}

// A search row as the table of searches reads: path, match column, text.
struct SearchRow {
    const wchar_t* path;
    bool byKeyName;
    const wchar_t* text;
};

void ExpectSearchRows(int first, const std::vector<SearchRow>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
        int seq = first + static_cast<int>(i);
        const RegistryPlanEntry& entry = At(seq);
        SCOPED_TRACE(seq);
        ASSERT_EQ(kSearch, entry.kind);
        EXPECT_EQ(std::wstring(rows[i].path), entry.path);
        const wchar_t* text = rows[i].byKeyName ? entry.lpKeyNameMatch : entry.lpValDataMatch;
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(std::wstring(rows[i].text), text);
    }
}

TEST(RegistryPlanTable, SearchRowsLookWhereTheFamilyLeftItsTraces) {
    const wchar_t* providers = L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers";
    const wchar_t* defaults = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
    const wchar_t* cards = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
    const wchar_t* components =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
    const std::wstring oid0 = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\";
    const std::wstring oid1 = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\";
    const std::wstring findOid = oid0 + L"CryptDllFindOIDInfo";
    const std::wstring convert = oid1 + L"CryptDllConvertPublicKeyInfo";
    const std::wstring decode = oid1 + L"CryptDllDecodeObject";
    const std::wstring encode = oid1 + L"CryptDllEncodeObject";
    const std::wstring format = oid1 + L"CryptDllFormatObject";
    const bool key = true, data = false;

    std::vector<SearchRow> first = {
        {providers, key, L"Kor-Vane"},    {providers, key, L"Sorrel-QS"},      {providers, key, L"Velden CSP"},
        {defaults, key, L"Kor-Vane"},     {defaults, key, L"Sorrel-QS"},       {defaults, key, L"Velden CSP"},
        {cards, data, L"Kor-Vane"},       {components, data, L"Kor Vane"},     {components, data, L"kvssl"},
        {components, data, L"kvtls"},     {components, data, L"kvsspap"},      {components, data, L"kvcng"},
        {components, data, L"kvocsp"},    {components, data, L"kvssp"},        {findOid.c_str(), key, L"1.2.999.1.1."},
        {findOid.c_str(), key, L"1.3.6.1.5.5.7."}, {convert.c_str(), key, L"1.2.999.1.1."},
        {decode.c_str(), key, L"1.2.999.1.1."},    {decode.c_str(), data, L"Kor Vane"},
        {encode.c_str(), key, L"1.2.999.1.1."},    {encode.c_str(), data, L"Kor Vane"},
    };
    std::vector<std::wstring> functions;
    for (const wchar_t* name :
         {L"CryptDllEncodePublicKeyAndParameters", L"CryptDllExportPrivateKeyInfoEx", L"CryptDllImportPrivateKeyInfoEx",
          L"CryptMsgDllExportEncryptKey", L"CryptMsgDllExportKeyAgree", L"CryptMsgDllExportKeyTrans",
          L"CryptMsgDllGenContentEncryptKey", L"CryptMsgDllGenEncryptKey", L"CryptMsgDllImportEncryptKey",
          L"CryptMsgDllImportKeyAgree", L"CryptMsgDllImportKeyTrans"}) {
        functions.push_back(oid1 + name);
    }
    for (const std::wstring& function : functions) first.push_back({function.c_str(), key, L"1.2.999.1.1."});
    first.push_back({format.c_str(), key, L"1.2.999.1.1.49.2"});
    first.push_back({format.c_str(), key, L"2.5.29.16"});
    first.push_back({L"SOFTWARE\\Kor Vane\\Settings\\USERS", key, L"KeyCarriers"});
    ExpectSearchRows(169, first);

    const wchar_t* nodeTypes = L"SOFTWARE\\Microsoft\\MMC\\NodeTypes";
    const wchar_t* snapIns = L"SOFTWARE\\Microsoft\\MMC\\SnapIns";
    ExpectSearchRows(214, {{nodeTypes, data, L"KorVane"},
                           {nodeTypes, data, L"Kor-Vane"},
                           {snapIns, data, L"KorVane"},
                           {snapIns, data, L"Kor-Vane"}});
    ExpectSearchRows(225, {{cards, data, L"Kor-Vane"}, {cards, data, L"eToken GOST"}});

    std::vector<SearchRow> last = {{snapIns, key, L"KorVane"}, {nodeTypes, key, L"KorVane"}, {providers, key, L"KorVane"}};
    std::vector<std::wstring> outlook;
    for (const wchar_t* version : {L"14.0", L"13.0", L"12.0", L"11.0", L"10.0"}) {
        outlook.push_back(std::wstring(L"SOFTWARE\\Microsoft\\Office\\") + version +
                          L"\\Outlook\\Security\\AdditionalSmimeCapsAlgs");
    }
    for (const wchar_t* algorithm : {L"GOST 28147-89", L"GOST R 34.11-94"}) {
        for (const std::wstring& path : outlook) last.push_back({path.c_str(), key, algorithm});
    }
    ExpectSearchRows(245, last);
}

TEST(RegistryPlanTable, ValueRemovalsAndRepairsStandBetweenTheSearches) {
    const std::wstring current = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
    struct ValueRow {
        std::wstring path;
        const wchar_t* pattern;
    };
    std::vector<std::pair<int, ValueRow>> expected = {{227, {current + L"Control Panel\\Cpls", L"kvconfig.cpl"}}};
    int seq = 228;
    for (const wchar_t* pattern :
         {L"Kor Vane", L"kvssl.dll", L"kvssp.dll", L"kvSSPAP.dll", L"kvsspap.dll", L"kvtls.dll", L"kvocsp.dll"})
        expected.push_back({seq++, {current + L"SharedDlls", pattern}});
    expected.push_back({235, {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Svchost", L"kvcsp"}});
    seq = 239;
    for (const wchar_t* pattern : {L"kvcng.dll", L"kvocsp.dll", L"kvsspap.dll", L"kvssl.dll", L"Kor Vane"})
        expected.push_back({seq++, {current + L"SharedDLLs", pattern}});
    expected.push_back({244, {current + L"Installer\\Folders", L"Kor Vane"}});

    for (const auto& [row, value] : expected) {
        SCOPED_TRACE(row);
        ASSERT_EQ(kValueMatch, At(row).kind);
        EXPECT_EQ(value.path, PathAt(row));
        EXPECT_EQ(std::wstring(value.pattern), At(row).pattern);
    }
    EXPECT_EQ(kTlsPackages, At(236).kind);
    EXPECT_EQ(kSslPackages, At(237).kind);
    EXPECT_EQ(kRevocation, At(238).kind);
}

}  // namespace

namespace {

// The search groups, as the table's own rows give them: consecutive searches
// from one starting key.
TEST(RegistryPlanTable, SearchesFromOneStartingKeyRunAsTheseGroups) {
    std::vector<std::vector<int>> groups;
    for (int row = 0; row < kRegistryPlanSize;) {
        int size = SearchGroupSize(kRegistryPlan + row, kRegistryPlanSize - row);
        if (size > 1) {
            groups.emplace_back();
            for (int i = 0; i < size; ++i) groups.back().push_back(kRegistryPlan[row + i].seq);
        }
        row += size > 0 ? size : 1;
    }
    EXPECT_EQ((std::vector<std::vector<int>>{{169, 170, 171},
                                             {172, 173, 174},
                                             {176, 177, 178, 179, 180, 181, 182},
                                             {183, 184},
                                             {186, 187},
                                             {188, 189},
                                             {201, 202},
                                             {214, 215},
                                             {216, 217},
                                             {225, 226}}),
              groups);
}

TEST(RegistryPlanTable, SearchGroupsComparePathsWithoutRegardToCaseAndNeedTheSameRoot) {
    const RegistryPlanEntry rows[] = {
        {1, kSearch, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\List", L"a"},
        {2, kSearch, HKEY_LOCAL_MACHINE, L"software\\ACME\\list", nullptr, nullptr, L"b"},
        {3, kSearch, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\List\\", L"c"},
        {4, kSearch, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\List", L"d"},
        {5, kSearch, HKEY_CURRENT_USER, L"SOFTWARE\\Acme\\List", L"e"},
        {6, kKey, HKEY_CURRENT_USER, L"SOFTWARE\\Acme\\List"},
        {7, kSearch, HKEY_CURRENT_USER, L"SOFTWARE\\Acme\\List", L"f"},
    };
    EXPECT_EQ(2, SearchGroupSize(rows, 7));
    EXPECT_EQ(1, SearchGroupSize(rows + 2, 5));
    EXPECT_EQ(1, SearchGroupSize(rows + 3, 4));
    EXPECT_EQ(1, SearchGroupSize(rows + 4, 3));
    EXPECT_EQ(0, SearchGroupSize(rows + 5, 2));
    EXPECT_EQ(1, SearchGroupSize(rows, 1));
}

}  // namespace
