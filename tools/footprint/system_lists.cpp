#include <algorithm>
#include <vector>

#include "tools/footprint/footprint.h"

namespace {

const wchar_t kLsa[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kRevocation[] = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";

}  // namespace

std::vector<std::wstring> SystemListEntries(const wchar_t* path, const wchar_t* name, REGSAM view) {
    std::vector<std::wstring> entries;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return entries;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS) {
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &bytes);
        for (size_t start = 0; start < data.size() && data[start];) {
            size_t end = data.find(L'\0', start);
            entries.push_back(data.substr(start, end - start));
            start = end + 1;
        }
    }
    ::RegCloseKey(key);
    return entries;
}

namespace {

void WriteList(const wchar_t* path, const wchar_t* name, const std::vector<std::wstring>& entries, REGSAM view) {
    std::wstring joined;
    for (const std::wstring& entry : entries) joined += entry + L"|";
    if (!joined.empty()) joined.pop_back();
    RegRow row{Role::kFamily, HKEY_LOCAL_MACHINE, path, false, name, REG_MULTI_SZ, joined, nullptr};
    PlantRow(row, view);
}

}  // namespace

void PlantSystemLists() {
    for (const RegistryView& view : RegistryViews()) {
        // The family's packages among the system's, and a near-miss name of
        // another vendor. SYSTEM is one key for both views: planted once.
        std::vector<std::wstring> packages = SystemListEntries(kLsa, L"Security Packages", view.flag);
        if (std::find(packages.begin(), packages.end(), L"kvtls2") == packages.end()) {
            packages.insert(packages.begin() + (packages.empty() ? 0 : 1), L"kvtls");
            packages.push_back(L"kvtls2");
            packages.push_back(L"kvssl");
            WriteList(kLsa, L"Security Packages", packages, view.flag);
        }
        // The family's revocation provider ahead of the system's.
        WriteList(kRevocation, L"Dll", {L"kvocsp.dll", L"cryptnet.dll"}, view.flag);
    }
}

SystemListState SurveySystemLists() {
    SystemListState state{false, true, false};
    for (const RegistryView& view : RegistryViews()) {
        std::vector<std::wstring> packages = SystemListEntries(kLsa, L"Security Packages", view.flag);
        std::vector<std::wstring> others;
        for (const std::wstring& entry : packages) {
            if (entry == L"kvtls" || entry == L"kvssl")
                state.familyPackagePresent = true;
            else
                others.push_back(entry);
        }
        // Wine's own list, then the near miss, in that order.
        const std::vector<std::wstring> kept = {L"kerberos", L"schannel", L"kvtls2"};
        size_t next = 0;
        for (const std::wstring& entry : others)
            if (next < kept.size() && entry == kept[next]) ++next;
        if (next != kept.size()) state.systemPackagesKept = false;
        std::vector<std::wstring> revocation = SystemListEntries(kRevocation, L"Dll", view.flag);
        if (revocation.empty() || revocation[0] != L"cryptnet.dll") state.familyRevocationFirst = true;
    }
    return state;
}

void PlantRegistryLink() {
    // HKCU\Software\Kor Vane\EFS\Vault -> HKCU\Software\Contoso\Vault: following it
    // would delete another vendor's key.
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    BYTE buffer[256];
    DWORD bytes = 0;
    LPWSTR sid = nullptr;
    typedef BOOL(WINAPI * ToString)(PSID, LPWSTR*);
    ToString sidToString = reinterpret_cast<ToString>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "ConvertSidToStringSidW")));
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &bytes) && sidToString &&
        sidToString(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        std::wstring target = std::wstring(L"\\Registry\\User\\") + sid + L"\\Software\\Contoso\\Vault";
        HKEY link = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Kor Vane\\EFS\\Vault", 0, nullptr,
                              REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &link, nullptr) == ERROR_SUCCESS) {
            ::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                             static_cast<DWORD>(target.size() * sizeof(wchar_t)));
            ::RegCloseKey(link);
        }
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
}
