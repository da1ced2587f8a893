// What must survive a cleanup: other vendors' entries beside the family's,
// names that only look like the family's, and the private-key settings.
#include "tools/footprint/footprint.h"

namespace {

const HKEY HKCU = HKEY_CURRENT_USER;
const HKEY HKLM = HKEY_LOCAL_MACHINE;


void Key(Footprint& f, HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& data,
         const wchar_t* sddl = nullptr, DWORD type = REG_SZ) {
    f.registry.push_back({Role::kDecoy, root, path, true, name, type, data, sddl});
}

void Value(Footprint& f, HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
           const std::wstring& data) {
    f.registry.push_back({Role::kDecoy, root, path, false, name, type, data, nullptr});
}

void File(Footprint& f, FileBase base, const std::wstring& relative, const std::string& content) {
    f.files.push_back({Role::kDecoy, base, relative, content, false});
}

}  // namespace

void AddDecoys(Footprint& f) {
    const std::wstring providers = L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers\\";
    Key(f, HKLM, providers + L"Contoso Key Storage Provider", L"Image Path", L"contosoksp.dll", kLockedDown);
    Key(f, HKLM, providers + L"Kor-Van Systems KSP", L"Image Path", L"korvan.dll");
    const std::wstring defaults = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
    Key(f, HKLM, defaults + L"Contoso Enhanced CSP", L"Image Path", L"contosocsp.dll");
    Key(f, HKLM, defaults + L"Velden CS Provider", L"Image Path", L"velden.dll");

    const std::wstring cards = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
    Key(f, HKLM, cards + L"Contoso Card", L"Crypto Provider", L"Contoso Smart Card CSP");
    // Text of the family inside a list of compatible providers: not a REG_SZ, not the family's key.
    Key(f, HKLM, cards + L"Contoso Card", L"Compatible Providers", L"Kor-Vane GOST CSP|Contoso CSP", nullptr,
        REG_MULTI_SZ);
    Key(f, HKLM, cards + L"eToken PRO RSA", L"Crypto Provider", L"eToken Base Cryptographic Provider");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards", L"Vendor", REG_SZ, L"Contoso");

    const std::wstring components =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
    Key(f, HKLM, components + PackedGuid(MadeUpGuid(L"contoso component")), PackedGuid(MadeUpGuid(L"contoso")),
        L"C:\\Program Files\\Contoso\\contoso.dll");
    Key(f, HKLM, components + PackedGuid(MadeUpGuid(L"monitor component")), PackedGuid(MadeUpGuid(L"monitor")),
        L"C:\\Windows\\system32\\kvmon.dll");
    Key(f, HKLM, components + PackedGuid(MadeUpGuid(L"expandable component")), PackedGuid(MadeUpGuid(L"expandable")),
        L"%ProgramFiles%\\Kor Vane\\legacy.dll", nullptr, REG_EXPAND_SZ);

    const std::wstring oid = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\";
    Key(f, HKLM, oid + L"EncodingType 0\\CryptDllFindOIDInfo\\1.2.840.113549.1.1.1!3", L"Name", L"RSA");
    Key(f, HKLM, oid + L"EncodingType 0\\CryptDllFindOIDInfo\\1.2.999.1.10!1", L"Name", L"Near miss");
    Key(f, HKLM, oid + L"EncodingType 0\\CryptDllFindOIDInfo\\1.2.999.1.2.7!1", L"Name", L"Other arc");
    Key(f, HKLM, oid + L"EncodingType 1\\CryptDllDecodeObject\\1.2.840.113549.1.9.3", L"Dll", L"crypt32.dll");
    Key(f, HKLM, oid + L"EncodingType 1\\CryptDllFormatObject\\2.5.29.17", L"Dll", L"contosofmt.dll");

    Key(f, HKLM, L"SOFTWARE\\Microsoft\\MMC\\SnapIns\\" + MadeUpGuid(L"contoso snap-in"), L"NameString",
        L"Contoso Certificates");
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\MMC\\NodeTypes\\" + MadeUpGuid(L"contoso node"), L"", L"Contoso Node");
    const std::wstring outlook = L"SOFTWARE\\Microsoft\\Office\\14.0\\Outlook\\Security\\AdditionalSmimeCapsAlgs\\";
    Key(f, HKLM, outlook + L"AES-256", L"", L"2.16.840.1.101.3.4.1.42");
    Key(f, HKLM, outlook + L"GOST 28147", L"", L"near miss");

    Key(f, HKLM, L"SYSTEM\\CurrentControlSet\\Services\\KVanCtrlSvc", L"ImagePath", L"C:\\Contoso\\svc.exe");
    Key(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\contoso.exe", L"", L"C:\\Contoso\\contoso.exe");
    Key(f, HKCU, L"Software\\Contoso\\Vault", L"Secret", L"must survive");

    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cpls", L"contoso.cpl", REG_SZ,
          L"C:\\Windows\\system32\\contoso.cpl");
    const std::wstring shared = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    Value(f, HKLM, shared, L"C:\\Windows\\system32\\kvssl32.dll", REG_DWORD, L"1");
    Value(f, HKLM, shared, L"C:\\Program Files\\Contoso\\shared.dll", REG_DWORD, L"2");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Svchost", L"kvcs", REG_MULTI_SZ, L"kvcs");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Svchost", L"contososvc", REG_MULTI_SZ,
          L"contoso");
    Value(f, HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
          L"C:\\Program Files\\Contoso\\", REG_SZ, L"");

    auto settings = [&](const std::wstring& path, const std::wstring& name, const std::wstring& data) {
        f.registry.push_back({Role::kKeySettings, HKLM, path, true, name, REG_SZ, data, nullptr});
    };
    settings(L"SOFTWARE\\Kor Vane\\Settings", L"KeyStore", L"HDIMAGE");
    settings(L"SOFTWARE\\Kor Vane\\Settings\\USERS\\S-1-5-21-3623811015-3361044348-30300820-1013\\Keys\\le-7d1a",
             L"Name", L"le-7d1a4c2e-2b7f-4c0e-9d4e-1f0a6b3c8e21");

    File(f, FileBase::kProgramFiles, L"Kor Van\\readme.txt", "Kor Van, another company");
    File(f, FileBase::kProgramFiles, L"Contoso\\app.exe", "MZ contoso");
    File(f, FileBase::kCommonFiles, L"Contoso\\shared.dll", "MZ shared");
    File(f, FileBase::kSystem, L"kvcng32.dll", "MZ near miss");
    File(f, FileBase::kSystem, L"kvssl.dll.bak", "backup next to the family's module");
    File(f, FileBase::kSystem, L"drivers\\kvdrv37.sys", "MZ near miss driver");
    File(f, FileBase::kStartMenuPrograms, L"Kor Vane Tools\\Help.lnk", "link");
    File(f, FileBase::kStartMenuPrograms, L"Contoso\\App.lnk", "link");
    std::wstring inf = L"[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=Contoso\r\n";
    std::string utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char*>(inf.data()), inf.size() * sizeof(wchar_t));
    File(f, FileBase::kWindowsInf, L"oem43.inf", utf16);
    File(f, FileBase::kWindowsInf, L"oem43.pnf", "PNF contoso");
}
