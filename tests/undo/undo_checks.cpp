#include "tests/undo/undo_checks.h"

#include <shlobj.h>

#include <vector>

#include "tests/support/capture.h"
#include "tests/support/machine.h"

namespace {

void ReadKey(HKEY key, const std::wstring& below, TreeModel* tree, REGSAM view) {
    KeyModel& model = (*tree)[below];
    DWORD subkeys = 0, longestName = 0, largestData = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, &longestName, &largestData,
                       nullptr, nullptr);
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(largestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameUnits = static_cast<DWORD>(name.size()), type = 0, bytes = static_cast<DWORD>(data.size());
        if (::RegEnumValueW(key, i, name.data(), &nameUnits, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS)
            break;
        model.values[std::wstring(name.data(), nameUnits)] =
            ValueModel{type, std::string(reinterpret_cast<char*>(data.data()), bytes)};
        if (type == REG_LINK && std::wstring(name.data(), nameUnits) == L"SymbolicLinkValue") model.isLink = true;
    }
    if (model.isLink) return;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD childUnits = 256;
        if (::RegEnumKeyExW(key, i, child, &childUnits, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY childKey = nullptr;
        if (::RegOpenKeyExW(key, child, REG_OPTION_OPEN_LINK, KEY_READ | view, &childKey) != ERROR_SUCCESS) continue;
        ReadKey(childKey, below.empty() ? child : below + L"\\" + child, tree, view);
        ::RegCloseKey(childKey);
    }
}

std::string Shown(const std::wstring& text) {
    std::wstring shown = text.size() > 60 ? text.substr(0, 60) + L"..." : text;
    for (wchar_t& unit : shown)
        if (unit < L' ') unit = L'?';
    return "\"" + Utf8(shown) + "\"";
}

}  // namespace

TreeModel ReadTree(HKEY root, const std::wstring& path, REGSAM view) {
    TreeModel tree;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return tree;
    ReadKey(key, L"", &tree, view);
    ::RegCloseKey(key);
    return tree;
}

std::string DescribeDifferences(const TreeModel& expected, const TreeModel& actual) {
    std::string out;
    for (const auto& [path, key] : expected) {
        auto found = actual.find(path);
        if (found == actual.end()) {
            out += "missing key " + Shown(path) + "\n";
            continue;
        }
        if (key.isLink != found->second.isLink) out += "key " + Shown(path) + " differs in being a link\n";
        for (const auto& [name, value] : key.values) {
            auto other = found->second.values.find(name);
            if (other == found->second.values.end())
                out += "missing value " + Shown(path) + " " + Shown(name) + "\n";
            else if (!(other->second == value))
                out += "value " + Shown(path) + " " + Shown(name) + ": type " + std::to_string(value.type) + ", " +
                       std::to_string(value.bytes.size()) + " bytes expected; type " +
                       std::to_string(other->second.type) + ", " + std::to_string(other->second.bytes.size()) +
                       " bytes found\n";
        }
        for (const auto& [name, value] : found->second.values)
            if (!key.values.count(name)) out += "extra value " + Shown(path) + " " + Shown(name) + "\n";
    }
    for (const auto& [path, key] : actual)
        if (!expected.count(path)) out += "extra key " + Shown(path) + "\n";
    return out;
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool PlantValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const std::string& bytes,
                REGSAM view) {
    std::string buffer = bytes + std::string(4, '\xff');
    return SetValue(root, path, name, type, buffer.data(), static_cast<DWORD>(bytes.size()), view);
}

bool PlantLink(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                          KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = ::RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

DWORD RunRegExe(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring program = std::wstring(system) + L"\\reg.exe";
    std::wstring command = L"\"" + program + L"\" " + arguments;
    // reg.exe's messages stay out of the test's output.
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xFFFFFFFF;
    if (::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &process)) {
        ::WaitForSingleObject(process.hProcess, 300000);
        ::GetExitCodeProcess(process.hProcess, &exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(nul);
    return exitCode;
}

std::wstring KvcleanDataFolder() { return KnownFolder(CSIDL_COMMON_APPDATA) + L"\\kvclean"; }

std::wstring UndoFolder() { return KvcleanDataFolder() + L"\\undo"; }

int CountReports(const std::string& out) {
    int count = 0;
    const std::string banner = "An error occurred in running the program.";
    for (size_t at = out.find(banner); at != std::string::npos; at = out.find(banner, at + 1)) ++count;
    return count;
}
