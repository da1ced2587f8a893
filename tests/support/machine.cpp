#include "tests/support/machine.h"

namespace {

HKEY OpenKey(HKEY root, const std::wstring& path, REGSAM access, REGSAM view, DWORD options = 0) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), options, access | view, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

LONG DeleteKeyInView(HKEY parent, const wchar_t* name, REGSAM view) {
    typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, REGSAM, DWORD);
    Fn deleteKeyEx = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (deleteKeyEx) return deleteKeyEx(parent, name, view, 0);
    return ::RegDeleteKeyW(parent, name);
}

bool IsLink(HKEY parent, const std::wstring& name, REGSAM view) {
    HKEY key = OpenKey(parent, name, KEY_QUERY_VALUE, view, REG_OPTION_OPEN_LINK);
    if (!key) return false;
    DWORD type = 0;
    LONG status = ::RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_LINK;
}

void DeleteLink(HKEY parent, const std::wstring& name, REGSAM view) {
    typedef LONG(NTAPI * Fn)(HANDLE);
    Fn ntDeleteKey = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    HKEY key = OpenKey(parent, name, DELETE | KEY_QUERY_VALUE, view, REG_OPTION_OPEN_LINK);
    if (!key) return;
    if (ntDeleteKey) ntDeleteKey(key);
    ::RegCloseKey(key);
}

}  // namespace

bool CreateKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

bool SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
              DWORD bytes, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    // RegSetValueExW counts one more unit into a string whose last unit is not NUL
    // when the unit after it is NUL; a copy followed by a non-NUL unit keeps the
    // value to exactly the bytes given, whatever follows them in the caller's memory.
    std::string planted(static_cast<const char*>(data), bytes);
    planted.append(2, '\xFF');
    LONG status = ::RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(planted.data()), bytes);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
               REGSAM view, DWORD type) {
    return SetValue(root, path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                    view);
}

bool SetMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                    const std::vector<std::wstring>& entries, REGSAM view) {
    std::wstring data;
    for (const std::wstring& entry : entries) {
        data += entry;
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return SetValue(root, path, name, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)),
                    view);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = OpenKey(root, path, KEY_READ, view);
    if (!key) return false;
    ::RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    return ReadValue(root, path, name, nullptr, view).has_value();
}

std::optional<std::string> ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD* type,
                                     REGSAM view) {
    HKEY key = OpenKey(root, path, KEY_QUERY_VALUE, view);
    if (!key) return std::nullopt;
    DWORD bytes = 0, valueType = 0;
    std::optional<std::string> result;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &valueType, nullptr, &bytes) == ERROR_SUCCESS) {
        std::string data(bytes, '\0');
        if (::RegQueryValueExW(key, name.c_str(), nullptr, &valueType, reinterpret_cast<BYTE*>(&data[0]), &bytes) ==
            ERROR_SUCCESS) {
            data.resize(bytes);
            result = data;
            if (type) *type = valueType;
        }
    }
    ::RegCloseKey(key);
    return result;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    HKEY key = OpenKey(root, path, KEY_READ, view);
    if (!key) return names;
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = 512;
        if (::RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    ::RegCloseKey(key);
    return names;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    HKEY key = OpenKey(root, path, KEY_READ, view);
    if (!key) return names;
    std::wstring name(16384, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD size = 16384;
        if (::RegEnumValueW(key, i, &name[0], &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name.c_str(), size);
    }
    ::RegCloseKey(key);
    return names;
}

void DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    if (IsLink(root, path, view)) {
        DeleteLink(root, path, view);
        return;
    }
    for (const std::wstring& child : SubkeyNames(root, path, view)) DeleteTree(root, path + L"\\" + child, view);
    DeleteKeyInView(root, path.c_str(), view);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    ::CloseHandle(file);
    return data;
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakeDirs(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
    return PathExists(path);
}

std::vector<std::wstring> DirectoryNames(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

void RemoveFileTree(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const std::wstring& name : DirectoryNames(path)) RemoveFileTree(path + L"\\" + name);
        ::RemoveDirectoryW(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryW(path.c_str());
    } else {
        ::DeleteFileW(path.c_str());
    }
}

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring MakeScratchDirectory(const std::wstring& label) {
    wchar_t temp[MAX_PATH] = L"";
    ::GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    std::wstring path = std::wstring(temp) + L"kvtest-" + label + L"-" + std::to_wstring(::GetCurrentProcessId()) +
                        L"-" + std::to_wstring(++counter);
    RemoveFileTree(path);
    MakeDirs(path);
    return path;
}

std::vector<std::wstring> PendingFileRenames() {
    std::vector<std::wstring> entries;
    auto data = ReadValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                          L"PendingFileRenameOperations");
    if (!data) return entries;
    std::wstring text(reinterpret_cast<const wchar_t*>(data->data()), data->size() / sizeof(wchar_t));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos) end = text.size();
        entries.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // The list is closed by an empty entry; drop trailing empties but keep the
    // empty targets that stand for deletions inside the list.
    while (!entries.empty() && entries.back().empty() && entries.size() % 2 == 1) entries.pop_back();
    return entries;
}
