// The program's only door to Windows and the C runtime.
//
// Every call the program makes goes through the table `win32`, which starts out
// holding the real functions. Tests swap single entries for their own duration
// (see tests/support/hooks.h) to make a call fail, answer a dialog or record a
// reboot request; nothing else in the program changes.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <sddl.h>
#include <locale.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef unsigned int u32;

// Functions that Windows XP lacks: looked up at run time, never imported.
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE process, PBOOL isWow64);
typedef BOOL(WINAPI* Wow64DisableWow64FsRedirectionFn)(PVOID* oldValue);
typedef BOOL(WINAPI* Wow64RevertWow64FsRedirectionFn)(PVOID oldValue);
typedef LONG(WINAPI* RegDeleteKeyExWFn)(HKEY key, LPCWSTR subKey, REGSAM view, DWORD reserved);
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE key);
typedef LONG(NTAPI* NtQueryKeyFn)(HANDLE key, int informationClass, PVOID information, ULONG length, PULONG resultLength);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(LONG status);
typedef LONG(NTAPI* NtQueryInformationFileFn)(HANDLE file, PVOID ioStatus, PVOID information, ULONG length,
                                              int informationClass);
typedef LONG(NTAPI* NtSetInformationFileFn)(HANDLE file, PVOID ioStatus, PVOID information, ULONG length,
                                            int informationClass);

// X(name, type): one row per function. The type is spelled out for C runtime
// functions whose headers declare overloads or inline wrappers.
#define KV_WIN32_FUNCTIONS(X)                                                                     \
    /* registry */                                                                                \
    X(RegOpenKeyExW, decltype(&::RegOpenKeyExW))                                                  \
    X(RegEnumKeyExW, decltype(&::RegEnumKeyExW))                                                  \
    X(RegEnumValueW, decltype(&::RegEnumValueW))                                                  \
    X(RegQueryValueExW, decltype(&::RegQueryValueExW))                                            \
    X(RegSetValueExW, decltype(&::RegSetValueExW))                                                \
    X(RegDeleteValueW, decltype(&::RegDeleteValueW))                                              \
    X(RegGetKeySecurity, decltype(&::RegGetKeySecurity))                                          \
    X(RegSetKeySecurity, decltype(&::RegSetKeySecurity))                                          \
    X(RegCloseKey, decltype(&::RegCloseKey))                                                      \
    X(RegLoadKeyW, decltype(&::RegLoadKeyW))                                                      \
    X(RegUnLoadKeyW, decltype(&::RegUnLoadKeyW))                                                  \
    /* process token */                                                                           \
    X(GetCurrentProcess, decltype(&::GetCurrentProcess))                                          \
    X(OpenProcessToken, decltype(&::OpenProcessToken))                                            \
    X(LookupPrivilegeValueW, decltype(&::LookupPrivilegeValueW))                                  \
    X(AdjustTokenPrivileges, decltype(&::AdjustTokenPrivileges))                                  \
    X(CloseHandle, decltype(&::CloseHandle))                                                      \
    /* files and directories; each that takes a path is in KV_FILE_SYSTEM_ENTRIES too */          \
    X(GetFileAttributesW, decltype(&::GetFileAttributesW))                                        \
    X(SetFileAttributesW, decltype(&::SetFileAttributesW))                                        \
    X(DeleteFileW, decltype(&::DeleteFileW))                                                      \
    X(RemoveDirectoryW, decltype(&::RemoveDirectoryW))                                            \
    X(FindFirstFileW, decltype(&::FindFirstFileW))                                                \
    X(FindNextFileW, decltype(&::FindNextFileW))                                                  \
    X(FindClose, decltype(&::FindClose))                                                          \
    X(CreateFileW, decltype(&::CreateFileW))                                                      \
    X(ReadFile, decltype(&::ReadFile))                                                            \
    X(DeviceIoControl, decltype(&::DeviceIoControl))                                              \
    X(GetFullPathNameW, decltype(&::GetFullPathNameW))                                            \
    X(GetTempFileNameW, decltype(&::GetTempFileNameW))                                            \
    X(MoveFileExW, decltype(&::MoveFileExW))                                                      \
    X(ExpandEnvironmentStringsW, decltype(&::ExpandEnvironmentStringsW))                          \
    X(CreateDirectoryW, decltype(&::CreateDirectoryW))                                            \
    X(WriteFile, decltype(&::WriteFile))                                                          \
    X(GetFileInformationByHandle, decltype(&::GetFileInformationByHandle))                        \
    /* console, errors, modules, memory */                                                        \
    X(GetStdHandle, decltype(&::GetStdHandle))                                                    \
    X(SetConsoleTextAttribute, decltype(&::SetConsoleTextAttribute))                              \
    X(GetConsoleOutputCP, decltype(&::GetConsoleOutputCP))                                        \
    X(FormatMessageW, decltype(&::FormatMessageW))                                                \
    X(LocalFree, decltype(&::LocalFree))                                                          \
    X(WideCharToMultiByte, decltype(&::WideCharToMultiByte))                                      \
    X(MultiByteToWideChar, decltype(&::MultiByteToWideChar))                                      \
    X(GetLastError, decltype(&::GetLastError))                                                    \
    X(SetLastError, decltype(&::SetLastError))                                                    \
    X(GetModuleHandleW, decltype(&::GetModuleHandleW))                                            \
    X(GetProcAddress, decltype(&::GetProcAddress))                                                \
    X(VirtualAlloc, decltype(&::VirtualAlloc))                                                    \
    X(VirtualFree, decltype(&::VirtualFree))                                                      \
    X(GetLocalTime, decltype(&::GetLocalTime))                                                    \
    X(Sleep, decltype(&::Sleep))                                                                  \
    /* security descriptors */                                                                    \
    X(ConvertStringSecurityDescriptorToSecurityDescriptorW,                                       \
      decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW))                          \
    X(SetKernelObjectSecurity, decltype(&::SetKernelObjectSecurity))                              \
    /* shell */                                                                                   \
    X(SHGetFolderPathW, decltype(&::SHGetFolderPathW))                                            \
    X(PathAddBackslashW, decltype(&::PathAddBackslashW))                                          \
    /* user interface */                                                                          \
    X(MessageBoxW, decltype(&::MessageBoxW))                                                      \
    X(ExitWindowsEx, decltype(&::ExitWindowsEx))                                                  \
    /* C runtime */                                                                               \
    X(setlocale, char* (*)(int, const char*))                                                     \
    X(vprintf, int (*)(const char*, va_list))                                                     \
    X(vwprintf, int (*)(const wchar_t*, va_list))                                                 \
    X(vfwprintf, int (*)(FILE*, const wchar_t*, va_list))                                         \
    X(fflush, int (*)(FILE*))                                                                     \
    X(malloc, void* (*)(size_t))                                                                  \
    X(free, void (*)(void*))                                                                      \
    X(wcsstr, const wchar_t* (*)(const wchar_t*, const wchar_t*))                                 \
    X(wcsncmp, int (*)(const wchar_t*, const wchar_t*, size_t))                                   \
    X(_wcsnicmp, int (*)(const wchar_t*, const wchar_t*, size_t))                                 \
    X(strtok, char* (*)(char*, const char*))

template <typename T>
using Win32Entry = T;

struct Win32Api {
#define KV_DECLARE_ENTRY(name, type) Win32Entry<type> name;
    KV_WIN32_FUNCTIONS(KV_DECLARE_ENTRY)
#undef KV_DECLARE_ENTRY
};

// The table every call goes through, and the real functions it starts with.
extern Win32Api win32;
extern const Win32Api kRealWin32;

// Format checks for the program's own print functions, by the rules of the
// printf they end in: mingw's C99 one (the build chooses it), where "%S" and
// "%ls" both take wide text. The compiler checks narrow formats only.
#define KV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))

// The runtime's formatted print, through the table: wide text to standard
// output (progress lines), narrow text to standard output (reports, usage),
// wide text to standard error (option scanner messages).
int WidePrint(const wchar_t* format, ...);
int NarrowPrint(const char* format, ...) KV_PRINTF_FORMAT(1, 2);
int NarrowPrintV(const char* format, va_list args) KV_PRINTF_FORMAT(1, 0);
int WideErrorPrint(const wchar_t* format, ...);

// A second reader of everything the print functions print (the run's log):
// while a room above has put one in, each printed piece reaches it as well,
// as wide text; narrow text as the console shows it, read in the console's
// output code page. Null takes it out again.
typedef void (*PrintTee)(const wchar_t* text, size_t units);
void TeePrintsTo(PrintTee tee);

// Looks a function up in an already loaded module (GetModuleHandleW, then
// GetProcAddress, through the table); null when either step fails.
template <typename Fn>
Fn LookUpFunction(const wchar_t* module, const char* name) {
    HMODULE handle = win32.GetModuleHandleW(module);
    if (!handle) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(win32.GetProcAddress(handle, name)));
}

// True when this 32-bit process runs on 64-bit Windows (IsWow64Process, looked
// up each time).
bool RunsUnderWow64();
