// The product family's trace, written from the product's own description of
// what its installers register: literal paths, so that a mistake in the
// program's plan shows up as a leftover here.
#include "tools/footprint/footprint.h"

namespace {

const HKEY HKCR = HKEY_CLASSES_ROOT;
const HKEY HKCU = HKEY_CURRENT_USER;
const HKEY HKLM = HKEY_LOCAL_MACHINE;


void Key(Footprint& f, HKEY root, const std::wstring& path, const wchar_t* sddl = nullptr) {
    f.registry.push_back({Role::kFamily, root, path, true, L"", REG_SZ, L"Kor Vane component", sddl});
}

// A key that the family owns but that is found by a value's data.
void KeyWithValue(Footprint& f, HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& data) {
    f.registry.push_back({Role::kFamily, root, path, true, name, REG_SZ, data, nullptr});
}

void Value(Footprint& f, HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
           const std::wstring& data) {
    f.registry.push_back({Role::kFamily, root, path, false, name, type, data, nullptr});
}

void ServicesAndSessionManager(Footprint& f) {
    const std::wstring control = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\";
    Key(f, HKLM, control + L"KVanIntegrity");
    Key(f, HKLM, control + L"KVanPatches");
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    Key(f, HKLM, services + L"Eventlog\\Application\\kvcspi");
    Key(f, HKLM, services + L"Eventlog\\Application\\kvsspap");
    Key(f, HKLM, services + L"Eventlog\\System\\KVanCtrl");
    Key(f, HKLM, services + L"Eventlog\\System\\kvefs");
    for (const wchar_t* name : {L"kvrmcsp", L"kvcsp1", L"kvcsp2", L"kvksp", L"KVanCtrl", L"kvinit", L"kvefssrv",
                                L"kvdrv36", L"kvefs"})
        Key(f, HKLM, services + name);
    Key(f, HKLM, services + L"kvdrvlib", kLockedDown);
}

void VendorKeys(Footprint& f) {
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Cryptography\\CurrentVersion\\AppPath");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Cryptography");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\OCSPAPI");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\RP", kLockedDown);
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\App Paths");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Settings\\Detours");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Catalog");
    // Key carriers are found by name anywhere below the users' settings.
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Settings\\USERS\\S-1-5-21-3623811015-3361044348-30300820-1013\\KeyCarriers");
    Key(f, HKLM, L"SOFTWARE\\Kor Vane\\Settings\\USERS\\S-1-5-18\\KeyCarriers");
    Key(f, HKCU, L"Software\\Kor Vane\\EFS");

    const std::wstring types = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types\\";
    for (const wchar_t* type : {L"Type 002", L"Type 071", L"Type 075"}) Key(f, HKLM, types + type);
    const std::wstring appPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    for (const wchar_t* exe : {L"kvtest.exe", L"lindrel.exe", L"kvverify.exe"}) Key(f, HKLM, appPaths + exe);
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\kvcsp");
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\Office\\Excel\\Addins\\kvXMLDSigAddIn.Connect");
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\kvXMLDSigAddIn.Connect");
    // Left behind by an interrupted installation of the family.
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\InProgress");
    // The installer also wrote this one under the classes root by mistake.
    Key(f, HKCR, L"SOFTWARE\\Microsoft\\Internet Explorer\\ActiveX Compatibility");
}

void ComNames(Footprint& f) {
    for (const wchar_t* progId :
         {L"CAPICOM.PrivateKey.1", L"CAPICOM.PrivateKey", L"CAPICOM.Utilities.1", L"CAPICOM.Utilities",
          L"CAPICOM.Certificates", L"CAPICOM.Attribute", L"CAPICOM.Chain.1", L"CAPICOM.Chain", L"CAPICOM.Signer.1",
          L"CAPICOM.Signer", L"CAPICOM.OID", L"CAPICOM.SignedCode", L"CAPICOM.Certificate", L"CAPICOM.Store.1",
          L"CAPICOM.Store", L"CAPICOM.SignedData", L"CAPICOM.ExtendedProperty", L"CAPICOM.EncryptedData.1",
          L"CAPICOM.EncryptedData", L"CAPICOM.Settings.1", L"CAPICOM.Settings", L"CAPICOM.HashedData.1",
          L"CAPICOM.HashedData", L"CAPICOM.Certificate.2", L"CAPICOM.Certificate.1", L"CAPICOM.EnvelopedData.1",
          L"CAPICOM.EnvelopedData", L"CAPICOM.Certificates.2", L"CAPICOM.Certificates.1"})
        Key(f, HKCR, progId);
    for (const wchar_t* cls :
         {L"Attribute", L"Attributes", L"BasicConstraints", L"CertEncodeAIAInfo", L"CertEncodeAltName",
          L"CertEncodeCRLDistInfo", L"Certificate", L"Certificates", L"CertRequest", L"KVKeyUsage", L"CRL",
          L"CRLEntries", L"CRLEntry", L"CRLNumber", L"CRLs", L"CSPInfo", L"DN", L"EKU", L"EKUs", L"ExtendedKeyUsage",
          L"Extension", L"Extensions", L"HashedData", L"OIDs", L"PublicKey", L"RDN", L"Store", L"Stores", L"Template",
          L"Utilities"})
        Key(f, HKCR, std::wstring(L"KVICom.") + cls + L".2.0");
    for (const wchar_t* name : {L".orq", L".ors", L".tsq", L".tsr", L"TSQFile", L"TSRFile", L"ORQFile", L"ORSFile"})
        Key(f, HKCR, name);
    Key(f, HKLM, L"SOFTWARE\\Classes\\ORQFile");
    Key(f, HKLM, L"SOFTWARE\\Classes\\ORSFile");
}

// Entries of the family among other vendors' entries in shared system keys.
void SharedKeyEntries(Footprint& f) {
    const std::wstring providers = L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers\\";
    for (const wchar_t* name : {L"Kor-Vane GOST R 34.10-2012 KSP", L"Sorrel-QS Key Storage Provider",
                                L"Velden CSP Key Storage", L"KorVane Smart Card KSP"})
        Key(f, HKLM, providers + name);
    const std::wstring defaults = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
    for (const wchar_t* name : {L"Kor-Vane GOST R 34.10-2001 Cryptographic Service Provider",
                                L"Sorrel-QS Cryptographic Provider", L"Velden CSP"})
        Key(f, HKLM, defaults + name);

    const std::wstring cards = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
    KeyWithValue(f, HKLM, cards + L"KV Token 2", L"Crypto Provider", L"Kor-Vane GOST R 34.10-2001 Cryptographic Service Provider");
    KeyWithValue(f, HKLM, cards + L"eToken PRO GOST", L"Crypto Provider", L"eToken GOST Cryptographic Provider");
    // On the list itself, which stays: the value alone is the family's.
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards", L"Default card", REG_SZ, L"Kor-Vane virtual token");

    const std::wstring components =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
    const wchar_t* files[][2] = {
        {L"csp", L"C:\\Program Files\\Kor Vane\\CSP\\kvcsp.dll"},
        {L"ssl", L"C:\\Windows\\system32\\kvssl.dll"},
        {L"tls", L"C:\\Windows\\system32\\kvtls.dll"},
        {L"sspap", L"C:\\Windows\\system32\\kvsspap.dll"},
        {L"cng", L"C:\\Windows\\system32\\kvcng.dll"},
        {L"ocsp", L"C:\\Windows\\system32\\kvocsp.dll"},
        {L"ssp", L"C:\\Windows\\system32\\kvssp.dll"},
    };
    for (auto& file : files)
        KeyWithValue(f, HKLM, components + PackedGuid(MadeUpGuid(std::wstring(L"component ") + file[0])),
                     PackedGuid(MadeUpGuid(L"family product")), file[1]);

    const std::wstring oid0 = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";
    Key(f, HKLM, oid0 + L"1.2.999.1.1.2.2!1");
    Key(f, HKLM, oid0 + L"1.3.6.1.5.5.7.3.14!7");
    const std::wstring oid1 = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\";
    for (const wchar_t* function :
         {L"CryptDllConvertPublicKeyInfo", L"CryptDllDecodeObject", L"CryptDllEncodeObject",
          L"CryptDllEncodePublicKeyAndParameters", L"CryptDllExportPrivateKeyInfoEx",
          L"CryptDllImportPrivateKeyInfoEx", L"CryptMsgDllExportEncryptKey", L"CryptMsgDllExportKeyAgree",
          L"CryptMsgDllExportKeyTrans", L"CryptMsgDllGenContentEncryptKey", L"CryptMsgDllGenEncryptKey",
          L"CryptMsgDllImportEncryptKey", L"CryptMsgDllImportKeyAgree", L"CryptMsgDllImportKeyTrans"})
        KeyWithValue(f, HKLM, oid1 + function + L"\\1.2.999.1.1.2.2", L"Dll", L"kvcsp.dll");
    // Encoders of standard OIDs that point at the family's module.
    KeyWithValue(f, HKLM, oid1 + L"CryptDllDecodeObject\\1.2.840.113549.1.9.16.2.47", L"Dll",
                 L"C:\\Program Files\\Kor Vane\\CSP\\kvcades.dll");
    KeyWithValue(f, HKLM, oid1 + L"CryptDllEncodeObject\\1.2.840.113549.1.9.16.2.47", L"Dll",
                 L"C:\\Program Files\\Kor Vane\\CSP\\kvcades.dll");
    Key(f, HKLM, oid1 + L"CryptDllFormatObject\\1.2.999.1.1.49.2");
    Key(f, HKLM, oid1 + L"CryptDllFormatObject\\2.5.29.16");

    const std::wstring snapIns = L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\";
    const std::wstring nodeTypes = L"SOFTWARE\\Microsoft\\MMC\\NodeTypes\\";
    KeyWithValue(f, HKLM, snapIns + MadeUpGuid(L"snap-in by data 1"), L"NameString", L"KorVane Certificates");
    KeyWithValue(f, HKLM, snapIns + MadeUpGuid(L"snap-in by data 2"), L"Provider", L"Kor-Vane Ltd.");
    KeyWithValue(f, HKLM, nodeTypes + MadeUpGuid(L"node type by data 1"), L"", L"KorVane Key Containers");
    KeyWithValue(f, HKLM, nodeTypes + MadeUpGuid(L"node type by data 2"), L"", L"Kor-Vane Licences");
    Key(f, HKLM, snapIns + L"KorVane.ControlSnapIn");
    Key(f, HKLM, nodeTypes + L"KorVane.ContainerNode");

    for (const wchar_t* version : {L"14.0", L"12.0", L"11.0"}) {
        std::wstring algorithms =
            std::wstring(L"SOFTWARE\\Microsoft\\Office\\") + version + L"\\Outlook\\Security\\AdditionalSmimeCapsAlgs\\";
        Key(f, HKLM, algorithms + L"GOST 28147-89");
        Key(f, HKLM, algorithms + L"GOST R 34.11-94");
    }
}

// Values of the family in system keys that hold one value per component.
void SharedValues(Footprint& f) {
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls", L"kvconfig.cpl", REG_SZ,
          L"C:\\Windows\\system32\\kvconfig.cpl");
    const std::wstring shared = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    for (const wchar_t* path :
         {L"C:\\Program Files\\Kor Vane\\CSP\\kvcsp.dll", L"C:\\Program Files\\Common Files\\Kor Vane\\kvcom.dll",
          L"C:\\Windows\\system32\\kvssl.dll", L"C:\\Windows\\system32\\kvssp.dll",
          L"C:\\Windows\\system32\\kvSSPAP.dll", L"C:\\Windows\\system32\\kvtls.dll",
          L"C:\\Windows\\system32\\kvocsp.dll", L"C:\\Windows\\system32\\kvcng.dll"})
        Value(f, HKLM, shared, path, REG_DWORD, L"1");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Svchost", L"kvcsp", REG_MULTI_SZ, L"kvcsp1|kvcsp2");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
          L"C:\\Program Files\\Kor Vane\\", REG_SZ, L"");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
          L"C:\\Program Files\\Kor Vane\\CSP\\", REG_SZ, L"");
}

}  // namespace

void AddIdentifierKeys(Footprint& f);

void AddFamilyRegistry(Footprint& f) {
    ServicesAndSessionManager(f);
    VendorKeys(f);
    ComNames(f);
    SharedKeyEntries(f);
    SharedValues(f);
    AddIdentifierKeys(f);
}

void AddFamilyFiles(Footprint& f) {
    auto file = [&](FileBase base, const std::wstring& relative, const std::string& content, bool readOnly = false) {
        f.files.push_back({Role::kFamily, base, relative, content, readOnly});
    };
    file(FileBase::kProgramFiles, L"Kor Vane\\", "");
    file(FileBase::kProgramFiles, L"Kor Vane\\CSP\\kvcsp.dll", "MZ kvcsp");
    file(FileBase::kProgramFiles, L"Kor Vane\\CSP\\kvcspi.dll", "MZ kvcspi");
    file(FileBase::kProgramFiles, L"Kor Vane\\CSP\\x64\\kvcsp64.dll", "MZ kvcsp64");
    file(FileBase::kProgramFiles, L"Kor Vane\\Tools\\kvtest.exe", "MZ kvtest");
    file(FileBase::kProgramFiles, L"Kor Vane\\Tools\\lindrel.exe", "MZ lindrel");
    file(FileBase::kProgramFiles, L"Kor Vane\\Docs\\licence.txt", "Licence", true);
    file(FileBase::kProgramFiles, L"Kor Vane\\Empty\\", "");
    file(FileBase::kCommonFiles, L"Kor Vane\\kvcom.dll", "MZ kvcom");
    file(FileBase::kCommonFiles, L"Kor Vane\\Shared\\kvicom2.dll", "MZ kvicom2");
    for (const wchar_t* name :
         {L"kvcng.dll", L"kvdrvlib.sys", L"kvssl.dll", L"kvtls.dll", L"kvSSPAP.dll", L"kvocsp.dll", L"kvssp.dll",
          L"advapi32.$$$", L"KVanDspr.dll", L"KVanDs64.dll", L"drivers\\kvdrvlib.sys", L"drivers\\kvksp.sys",
          L"drivers\\KVanCtrl.sys", L"drivers\\KVanCt2k.sys", L"drivers\\kvefs.sys", L"drivers\\kvdrv30.sys",
          L"drivers\\kvdrv36.sys"})
        file(FileBase::kSystem, name, "MZ system module", std::wstring(name) == L"kvtls.dll");
    file(FileBase::kStartMenuPrograms, L"Kor Vane\\KV CSP.lnk", "link");
    file(FileBase::kStartMenuPrograms, L"Kor Vane\\Tools\\Test.lnk", "link");
    file(FileBase::kStartMenuPrograms, L"Кор-Ване\\Сертификаты.lnk", "link");

    // Driver setup copies: UTF-16 text naming the maker, with their companions.
    auto utf16 = [](const std::wstring& text) {
        std::string bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        return bytes;
    };
    const std::wstring inf = L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\nProvider=%KorVane%\r\n"
                             L"[Strings]\r\nKorVane=\"Kor Vane\"\r\n";
    file(FileBase::kWindowsInf, L"oem41.inf", utf16(inf));
    file(FileBase::kWindowsInf, L"oem41.pnf", "PNF kvdrvlib");
    file(FileBase::kWindowsInf, L"oem42.inf", utf16(inf + L"; KorVane kvksp\r\n"), true);
    file(FileBase::kWindowsInf, L"oem42.pnf", "PNF kvksp", true);
}
