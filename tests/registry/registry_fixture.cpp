#include "tests/registry/registry_fixture.h"

#include <sddl.h>

#include <algorithm>

Printed SplitReports(const ConsoleCapture& capture) {
    // A report is "<12>banner\n<15>unit:line:message\nError number ...\n[system text\n]<7>".
    Printed printed;
    const std::string& marked = capture.outWithColours();
    size_t at = 0;
    while (at < marked.size()) {
        size_t start = marked.find("<12>", at);
        if (start == std::string::npos) {
            printed.text += marked.substr(at);
            break;
        }
        printed.text += marked.substr(at, start - at);
        size_t place = marked.find("<15>", start);
        size_t end = marked.find("<7>", start);
        if (place == std::string::npos || end == std::string::npos) {
            printed.text += marked.substr(start);
            break;
        }
        size_t lineEnd = marked.find('\n', place);
        std::string line = marked.substr(place + 4, lineEnd - place - 4);
        // "install:123:message" -> "message"
        size_t firstColon = line.find(':');
        size_t secondColon = line.find(':', firstColon + 1);
        printed.reports.push_back(secondColon == std::string::npos ? line : line.substr(secondColon + 1));
        at = end + 3;
    }
    return printed;
}

void RegistryTest::SetUp() {
    g_registryView = 0;
    g_rebootNeeded = 0;
}

void RegistryTest::TearDown() {
    for (auto it = planted_.rbegin(); it != planted_.rend(); ++it) DeleteTree(it->root, it->path, it->view);
    g_registryView = 0;
    g_rebootNeeded = 0;
}

void RegistryTest::Plant(HKEY root, const std::wstring& path, REGSAM view) {
    ASSERT_TRUE(CreateKey(root, path, view)) << Utf8(path);
    RemoveAfterwards(root, path, view);
}

void RegistryTest::RemoveAfterwards(HKEY root, const std::wstring& path, REGSAM view) {
    planted_.push_back({root, path, view});
}

std::string KeySecurity(HKEY root, const std::wstring& path, REGSAM view, DWORD openOptions) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), openOptions, READ_CONTROL | view, &key) != ERROR_SUCCESS) return "";
    std::string result;
    for (SECURITY_INFORMATION part : {OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION}) {
        DWORD size = 0;
        ::RegGetKeySecurity(key, part, nullptr, &size);
        std::string descriptor(size, '\0');
        if (::RegGetKeySecurity(key, part, &descriptor[0], &size) != ERROR_SUCCESS) descriptor = "?";
        result += std::to_string(part) + ":" + descriptor + "|";
    }
    ::RegCloseKey(key);
    return result;
}

bool SetKeySecurityFromSddl(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY key = nullptr;
    bool ok = false;
    if (::RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, WRITE_OWNER | WRITE_DAC | view, &key) ==
        ERROR_SUCCESS) {
        ok = ::RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor) ==
             ERROR_SUCCESS;
        ::RegCloseKey(key);
    }
    ::LocalFree(descriptor);
    return ok;
}

bool CreateLinkKey(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK | view,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    // The link's target is stored without a terminating NUL.
    LONG status = ::RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool LinkKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

OpenRecorder::OpenRecorder()
    : hook_([this, previous = ScopedHook<&Win32Api::RegOpenKeyExW>::Current()](HKEY parent, LPCWSTR name, DWORD options,
                                                                              REGSAM access, PHKEY key) -> LONG {
          opens_.push_back({name ? name : L"", options, access});
          return previous(parent, name, options, access, key);
      }) {}

namespace {

// The deletion hooks are plain functions handed out by GetProcAddress, so
// their state lives here.
std::vector<std::wstring> g_refusedNames;
std::map<HKEY, std::wstring> g_openedNames;
NtDeleteKeyFn g_realNtDeleteKey = nullptr;

std::wstring LastComponent(const wchar_t* path) {
    std::wstring text = path ? path : L"";
    size_t slash = text.rfind(L'\\');
    return slash == std::wstring::npos ? text : text.substr(slash + 1);
}

bool Refused(const std::wstring& name) {
    return std::find(g_refusedNames.begin(), g_refusedNames.end(), name) != g_refusedNames.end();
}

LONG NTAPI RefusingNtDeleteKey(HANDLE key) {
    auto found = g_openedNames.find(static_cast<HKEY>(key));
    if (found != g_openedNames.end() && Refused(found->second)) return static_cast<LONG>(0xC0000022);  // access denied
    return g_realNtDeleteKey(key);
}

}  // namespace

DeletionRefusal::DeletionRefusal(std::vector<std::wstring> names)
    : opens_([previous = ScopedHook<&Win32Api::RegOpenKeyExW>::Current()](HKEY parent, LPCWSTR name, DWORD options,
                                                                          REGSAM access, PHKEY key) -> LONG {
          LONG status = previous(parent, name, options, access, key);
          if (status == ERROR_SUCCESS) g_openedNames[*key] = LastComponent(name);
          return status;
      }),
      closes_([previous = ScopedHook<&Win32Api::RegCloseKey>::Current()](HKEY key) -> LONG {
          g_openedNames.erase(key);
          return previous(key);
      }),
      lookUps_([previous = ScopedHook<&Win32Api::GetProcAddress>::Current()](HMODULE module, LPCSTR name) -> FARPROC {
          FARPROC real = previous(module, name);
          if (!real || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF) return real;
          if (strcmp(name, "NtDeleteKey") == 0) {
              g_realNtDeleteKey = reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(real));
              return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RefusingNtDeleteKey));
          }
          return real;
      }) {
    g_refusedNames = std::move(names);
    g_openedNames.clear();
}

DeletionRefusal::~DeletionRefusal() {
    g_refusedNames.clear();
    g_openedNames.clear();
}
