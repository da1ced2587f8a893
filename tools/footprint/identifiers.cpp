// Keys named by the family's invented identifiers (policies, MMC entries,
// classes, type libraries, interfaces, ProgIDs, Installer products). Only the
// identifiers come from their one table; where each kind is registered is
// written here, as the family's installers do it, and packed codes are packed
// here again, so that a wrong entry in the program's plan shows as a leftover.
#include "plan/identifiers.h"
#include "tools/footprint/footprint.h"

namespace {

const HKEY HKCR = HKEY_CLASSES_ROOT;
const HKEY HKLM = HKEY_LOCAL_MACHINE;

void Key(Footprint& f, HKEY root, const std::wstring& path, const wchar_t* sddl = nullptr) {
    f.registry.push_back({Role::kFamily, root, path, true, L"", REG_SZ, L"Kor Vane component", sddl});
}

// How a product was installed: by a setup program (an Uninstall key only), or by
// Windows Installer (feature, product, per-machine user data and Uninstall keys).
enum class Setup { kProgramOnly, kInstaller, kInstallerWithoutUninstall, kInstallerFeaturesOnly };

struct Product {
    const wchar_t* code;
    Setup setup;
};

const Product kProducts[] = {
    {KV_PRODUCT_EFS10, Setup::kProgramOnly},        {KV_PRODUCT_CSP30, Setup::kProgramOnly},
    {KV_PRODUCT_CSP35, Setup::kProgramOnly},        {KV_PRODUCT_CSP36, Setup::kInstaller},
    {KV_PRODUCT_CSP36_X64, Setup::kInstaller},      {KV_PRODUCT_CSP36_KC2, Setup::kInstaller},
    {KV_PRODUCT_TLS_CLIENT, Setup::kInstaller},     {KV_PRODUCT_TLS_SERVER, Setup::kInstaller},
    {KV_PRODUCT_OCSP_CLIENT, Setup::kInstaller},    {KV_PRODUCT_TSP_CLIENT, Setup::kInstaller},
    {KV_PRODUCT_OCSP_COM, Setup::kInstaller},       {KV_PRODUCT_TSP_COM, Setup::kInstaller},
    {KV_PRODUCT_ADES, Setup::kInstaller},           {KV_PRODUCT_CAPICOM, Setup::kInstaller},
    {KV_PRODUCT_CSP40, Setup::kInstaller},          {KV_PRODUCT_CSP40_X64, Setup::kInstallerWithoutUninstall},
    {KV_PRODUCT_KVICOM, Setup::kInstaller},         {KV_PRODUCT_XMLDSIG_OFFICE, Setup::kInstaller},
    {KV_PRODUCT_PKU_VALIDATOR, Setup::kInstaller},  {KV_PRODUCT_CERT_MANAGER, Setup::kInstaller},
    {KV_PRODUCT_KEY_CARRIERS, Setup::kInstaller},   {KV_PRODUCT_CONTROLS, Setup::kInstaller},
    {KV_PRODUCT_SDK, Setup::kInstaller},            {KV_PRODUCT_DRIVERS, Setup::kInstaller},
    {KV_PRODUCT_EFS20, Setup::kInstallerFeaturesOnly},
};

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kInstallerData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\";

void InstallerProducts(Footprint& f) {
    for (const Product& product : kProducts) {
        std::wstring packed = PackedGuid(product.code);
        if (product.setup != Setup::kInstallerWithoutUninstall) Key(f, HKLM, kUninstall + product.code);
        if (product.setup == Setup::kProgramOnly) continue;
        Key(f, HKCR, L"Installer\\Features\\" + packed);
        Key(f, HKLM, kInstallerData + L"UserData\\S-1-5-18\\Products\\" + packed);
        if (product.setup == Setup::kInstallerFeaturesOnly) continue;
        Key(f, HKCR, L"Installer\\Products\\" + packed);
    }
    // The 4.0 installer registered its upgrade code under the x64 product's packed code.
    std::wstring csp40 = PackedGuid(KV_PRODUCT_CSP40_X64);
    Key(f, HKCR, L"Installer\\UpgradeCodes\\" + csp40);
    Key(f, HKCR, kInstallerData + L"UpgradeCodes\\" + csp40);
    Key(f, HKLM, kInstallerData + L"UpgradeCodes\\" + csp40);
    for (const wchar_t* upgrade : {KV_UPGRADE_CSP, KV_UPGRADE_TLS, KV_UPGRADE_COM, KV_UPGRADE_MMC}) {
        Key(f, HKCR, L"Installer\\UpgradeCodes\\" + PackedGuid(upgrade));
        // These installers wrote the machine's upgrade-code key below the classes root.
        Key(f, HKCR, kInstallerData + L"UpgradeCodes\\" + PackedGuid(upgrade));
    }
    Key(f, HKCR, L"Installer\\UpgradeCodes\\" + PackedGuid(KV_UPGRADE_EFS));
    Key(f, HKLM, kInstallerData + L"UpgradeCodes\\" + PackedGuid(KV_UPGRADE_EFS));
}

void SnapInsAndPolicies(Footprint& f) {
    const std::wstring policies =
        L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CertDllVerifyCertificateChainPolicy\\";
    for (const wchar_t* policy : kChainPolicyIds) Key(f, HKLM, policies + policy);
    for (const wchar_t* set : kPropertySetIds)
        Key(f, HKLM, std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\") + set);
    for (const wchar_t* snapIn : kSnapInIds) Key(f, HKLM, std::wstring(L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\") + snapIn);
    // The console's own node types, and the node types that the snap-ins extend.
    Key(f, HKLM, std::wstring(L"SOFTWARE\\Microsoft\\MMC\\NodeTypes\\") + KV_NODETYPE_CERT_MANAGER);
    Key(f, HKLM, std::wstring(L"SOFTWARE\\Microsoft\\MMC\\NodeTypes\\") + KV_NODETYPE_SIMPLE);
    for (const wchar_t* nodeType : {KV_NODETYPE_CERT_MANAGER, KV_NODETYPE_CSP_CONFIG, KV_NODETYPE_KEY_CARRIERS})
        Key(f, HKLM, std::wstring(L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\NodeTypes\\") + nodeType);
}

void ComRegistrations(Footprint& f) {
    bool first = true;
    for (const wchar_t* cls : kClassIds) {
        // One class whose key refuses deletion until its security is taken over.
        Key(f, HKCR, std::wstring(L"CLSID\\") + cls, first ? kLockedDown : nullptr);
        first = false;
    }
    for (const wchar_t* library : kTypeLibraryIds) Key(f, HKCR, std::wstring(L"TypeLib\\") + library);
    for (const wchar_t* iface : kInterfaceIds) Key(f, HKCR, std::wstring(L"Interface\\") + iface);
    for (const wchar_t* progId : kFamilyProgIds) Key(f, HKCR, progId);
}

}  // namespace

void AddIdentifierKeys(Footprint& f) {
    InstallerProducts(f);
    SnapInsAndPolicies(f);
    ComRegistrations(f);
}
