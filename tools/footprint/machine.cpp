#include "tools/footprint/footprint.h"

#include <sddl.h>
#include <shlobj.h>

namespace {

template <typename Fn>
Fn Kernel32Function(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring Expand(const wchar_t* text) {
    wchar_t path[MAX_PATH] = L"";
    if (!::ExpandEnvironmentStringsW(text, path, MAX_PATH) || wcschr(path, L'%')) return std::wstring();
    return path;
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
    return path;
}

std::wstring ValueBytes(DWORD type, const std::wstring& data) {
    if (type == REG_MULTI_SZ) return MultiStringData(data);
    return data + L'\0';
}

}  // namespace

void CreateDirectories(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

bool EnablePrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    bool enabled = LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}

bool IsWow64Machine() {
    typedef BOOL(WINAPI * Fn)(HANDLE, PBOOL);
    Fn isWow64 = Kernel32Function<Fn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

std::vector<RegistryView> RegistryViews() {
    if (IsWow64Machine()) return {{KEY_WOW64_64KEY, L"64-bit view"}, {KEY_WOW64_32KEY, L"32-bit view"}};
    return {{0, L"native view"}};
}

std::vector<FileSide> FileSides() {
    if (IsWow64Machine()) return {{true, L"64-bit side"}, {false, L"32-bit side"}};
    return {{false, L"native side"}};
}

bool DisableRedirection(void** saved) {
    typedef BOOL(WINAPI * Fn)(PVOID*);
    Fn disable = Kernel32Function<Fn>("Wow64DisableWow64FsRedirection");
    return disable && disable(saved);
}

void RevertRedirection(void* saved) {
    typedef BOOL(WINAPI * Fn)(PVOID);
    Fn revert = Kernel32Function<Fn>("Wow64RevertWow64FsRedirection");
    if (revert) revert(saved);
}

std::wstring FolderOf(FileBase base, const FileSide& side) {
    switch (base) {
        case FileBase::kProgramFiles:
            return Expand(side.redirectionOff ? L"%ProgramW6432%" : L"%ProgramFiles%");
        case FileBase::kCommonFiles:
            return Expand(side.redirectionOff ? L"%CommonProgramW6432%" : L"%CommonProgramFiles%");
        case FileBase::kSystem:
            return ShellFolder(CSIDL_SYSTEM);
        case FileBase::kStartMenuPrograms: {
            std::wstring menu = ShellFolder(CSIDL_COMMON_STARTMENU);
            return menu.empty() ? menu : menu + L"\\Programs";
        }
        case FileBase::kWindowsInf: {
            std::wstring windows = ShellFolder(CSIDL_WINDOWS);
            return windows.empty() ? windows : windows + L"\\inf";
        }
    }
    return std::wstring();
}

std::wstring MultiStringData(const std::wstring& entries) {
    std::wstring data;
    size_t start = 0;
    while (start <= entries.size() && !entries.empty()) {
        size_t end = entries.find(L'|', start);
        if (end == std::wstring::npos) end = entries.size();
        data += entries.substr(start, end - start);
        data.push_back(L'\0');
        start = end + 1;
    }
    data.push_back(L'\0');
    return data;
}

bool PlantRow(const RegRow& row, REGSAM view) {
    // A locked-down key shared by both views is planted once.
    if (row.sddl && SecurityMatches(row.root, row.path, row.sddl, view)) return true;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(row.root, row.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = true;
    if (row.type == REG_DWORD) {
        DWORD number = static_cast<DWORD>(_wtoi(row.data.c_str()));
        ok = ::RegSetValueExW(key, row.valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number) == ERROR_SUCCESS;
    } else if (!row.isKey || !row.data.empty() || !row.valueName.empty()) {
        std::wstring bytes = ValueBytes(row.type, row.data);
        ok = ::RegSetValueExW(key, row.valueName.c_str(), 0, row.type, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    if (row.isKey && row.role == Role::kFamily) {
        // What an installer leaves in a key: a few values and a nested key.
        const wchar_t version[] = L"4.0.9963";
        ::RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
        HKEY nested = nullptr;
        if (::RegCreateKeyExW(key, L"Parameters", 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &nested, nullptr) ==
            ERROR_SUCCESS) {
            DWORD level = 3;
            ::RegSetValueExW(nested, L"Level", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof level);
            ::RegCloseKey(nested);
        }
    }
    ::RegCloseKey(key);
    if (ok && row.isKey && row.sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        if (::RegOpenKeyExW(row.root, row.path.c_str(), 0, WRITE_OWNER | WRITE_DAC | view, &key) == ERROR_SUCCESS) {
            ok = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
            ::RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, descriptor);
            ::RegCloseKey(key);
        } else {
            ok = false;
        }
        ::LocalFree(descriptor);
    }
    return ok;
}

bool PlantFile(const FileRow& row, const std::wstring& folder) {
    std::wstring path = folder + L"\\" + row.relative;
    if (!row.relative.empty() && row.relative.back() == L'\\') {
        CreateDirectories(path.substr(0, path.size() - 1));
        return true;
    }
    CreateDirectories(path.substr(0, path.rfind(L'\\')));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = row.content.empty() ||
              ::WriteFile(file, row.content.data(), static_cast<DWORD>(row.content.size()), &written, nullptr);
    ::CloseHandle(file);
    if (row.readOnly) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    return ok != FALSE;
}

bool KeyPresent(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return true;
    }
    // A key whose DACL shuts readers out is still there.
    return ::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key) == ERROR_SUCCESS &&
           ::RegCloseKey(key) == ERROR_SUCCESS;
}

bool ValueMatches(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const std::wstring& data,
                  REGSAM view, bool* present) {
    *present = false;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    DWORD actualType = 0, bytes = 0;
    bool matches = false;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &actualType, nullptr, &bytes) == ERROR_SUCCESS) {
        *present = true;
        std::string actual(bytes, '\0');
        ::RegQueryValueExW(key, name.c_str(), nullptr, &actualType, reinterpret_cast<BYTE*>(&actual[0]), &bytes);
        std::string expected;
        if (type == REG_DWORD) {
            DWORD number = static_cast<DWORD>(_wtoi(data.c_str()));
            expected.assign(reinterpret_cast<const char*>(&number), sizeof number);
        } else {
            std::wstring text = ValueBytes(type, data);
            expected.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        }
        matches = actualType == type && actual == expected;
    }
    ::RegCloseKey(key);
    return matches;
}

bool SecurityMatches(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS) return false;
    bool matches = false;
    DWORD bytes = 0;
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::RegGetKeySecurity(key, parts, nullptr, &bytes);
    std::string actual(bytes, '\0');
    if (bytes && ::RegGetKeySecurity(key, parts, &actual[0], &bytes) == ERROR_SUCCESS) {
        LPWSTR text = nullptr;
        if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(&actual[0], SDDL_REVISION_1, parts, &text, nullptr)) {
            PSECURITY_DESCRIPTOR planted = nullptr;
            LPWSTR plantedText = nullptr;
            if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &planted, nullptr) &&
                ::ConvertSecurityDescriptorToStringSecurityDescriptorW(planted, SDDL_REVISION_1, parts, &plantedText,
                                                                       nullptr))
                matches = wcscmp(text, plantedText) == 0;
            if (plantedText) ::LocalFree(plantedText);
            if (planted) ::LocalFree(planted);
            ::LocalFree(text);
        }
    }
    ::RegCloseKey(key);
    return matches;
}

std::wstring MadeUpGuid(const std::wstring& label) {
    // FNV-1a over the label, stretched to 128 bits: stable from run to run.
    unsigned long long a = 1469598103934665603ULL, b = 1099511628211ULL ^ 0x5bd1e995ULL;
    for (wchar_t c : label) {
        a = (a ^ static_cast<unsigned>(c)) * 1099511628211ULL;
        b = (b ^ static_cast<unsigned>(c) ^ (a >> 29)) * 0x100000001b3ULL;
    }
    wchar_t text[40];
    swprintf(text, 40, L"{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
             static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>((a & 0x0FFF) | 0x4000),
             static_cast<unsigned>(((b >> 48) & 0x3FFF) | 0x8000), b & 0xFFFFFFFFFFFFULL);
    return text;
}

std::wstring PackedGuid(const std::wstring& guid) {
    // The Windows Installer packing: the first three groups reversed whole,
    // the remaining bytes with their two hex digits swapped.
    std::wstring hex;
    for (wchar_t c : guid)
        if (iswxdigit(c)) hex.push_back(towupper(c));
    if (hex.size() != 32) return std::wstring();
    std::wstring packed;
    packed += std::wstring(hex.rbegin() + 24, hex.rbegin() + 32);
    packed += std::wstring(hex.rbegin() + 20, hex.rbegin() + 24);
    packed += std::wstring(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i < 32; i += 2) {
        packed.push_back(hex[i + 1]);
        packed.push_back(hex[i]);
    }
    return packed;
}
