// Setting up and inspecting the machine from tests: real keys and real files,
// made with the real Windows functions (never through the hooked table).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

// view: 0 (the process's own view), KEY_WOW64_64KEY or KEY_WOW64_32KEY.
bool CreateKey(HKEY root, const std::wstring& path, REGSAM view = 0);
// Stores exactly `bytes` bytes of `data`, also a string without its NUL.
bool SetValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
              DWORD bytes, REGSAM view = 0);
bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text,
               REGSAM view = 0, DWORD type = REG_SZ);
// A REG_MULTI_SZ made of the entries, each terminated, the list closed by a further NUL.
bool SetMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                    const std::vector<std::wstring>& entries, REGSAM view = 0);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = 0);
// The value's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadValue(HKEY root, const std::wstring& path, const std::wstring& name,
                                     DWORD* type = nullptr, REGSAM view = 0);
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path, REGSAM view = 0);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path, REGSAM view = 0);
// Removes the key and everything below it; links below it are removed, not followed.
void DeleteTree(HKEY root, const std::wstring& path, REGSAM view = 0);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadFileBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);
bool MakeDirs(const std::wstring& path);
void RemoveFileTree(const std::wstring& path);
// The names in a directory, without "." and "..".
std::vector<std::wstring> DirectoryNames(const std::wstring& directory);
std::wstring KnownFolder(int csidl);
// A fresh empty directory under the temporary folder, for one test.
std::wstring MakeScratchDirectory(const std::wstring& label);

// Entries of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager "PendingFileRenameOperations".
std::vector<std::wstring> PendingFileRenames();
