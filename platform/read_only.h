// The table kvscan runs with: every entry that would change the machine
// refuses the call, reports it and returns failure, and the functions behind
// those entries are neither imported nor looked up.
//
// kvscan.exe is built from the program's sources with KV_READ_ONLY defined:
// platform/win32.cpp then fills those entries with refusers from the start and
// never names the real functions, so the linker imports none of them.
// MakeReadOnly does the same to a table at run time, for tests.
#pragma once

#include "platform/win32.h"

// X(name, refusal): an entry of the platform table that changes the machine,
// and what the refused call returns. One row per entry: a new writing entry of
// KV_WIN32_FUNCTIONS gets its row here, unless kvscan must have it (below).
#define KV_WRITING_FUNCTIONS(X)               \
    X(RegSetValueExW, ERROR_ACCESS_DENIED)    \
    X(RegDeleteValueW, ERROR_ACCESS_DENIED)   \
    X(RegSetKeySecurity, ERROR_ACCESS_DENIED) \
    X(SetKernelObjectSecurity, FALSE)         \
    X(SetFileAttributesW, FALSE)              \
    X(DeleteFileW, FALSE)                     \
    X(RemoveDirectoryW, FALSE)                \
    X(GetTempFileNameW, 0)                    \
    X(MoveFileExW, FALSE)                     \
    X(CreateDirectoryW, FALSE)                \
    X(WriteFile, FALSE)                       \
    X(ExitWindowsEx, FALSE)

// X(name, type, refusal): functions looked up at run time that change the
// machine. GetProcAddress hands out a refuser for these names and never looks
// them up.
#define KV_WRITING_LOOKUPS(X)                                            \
    X(RegDeleteKeyExW, RegDeleteKeyExWFn, ERROR_ACCESS_DENIED)           \
    X(NtDeleteKey, NtDeleteKeyFn, kStatusAccessDenied)                   \
    X(NtSetInformationFile, NtSetInformationFileFn, kStatusAccessDenied)

// Three more entries are narrowed rather than refused: GetProcAddress (above);
// CreateFileW, which opens existing files for reading only; and
// AdjustTokenPrivileges, which enables or disables the backup and restore
// privileges and nothing else (no other privilege, no "disable all").
//
// Allowed as they are: RegLoadKeyW and RegUnLoadKeyW. A user's hive that is not
// loaded (registry/user_hives.h) is loaded to be read, under a name of the
// program's own below HKEY_USERS, and unloaded again; loading one needs those
// two privileges. Nothing is written into it.

const LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);

// Turns `table` into the read-only table.
void MakeReadOnly(Win32Api* table);

// A refused call is reported through this, once the program that runs
// read-only has set it (the platform layer has no reports of its own); the
// last error is ERROR_ACCESS_DENIED when it is called.
using RefusalReport = void (*)(const char* function);
void ReportRefusalsThrough(RefusalReport report);

namespace read_only_detail {

#define KV_READ_ONLY_ROW(name, type) kWin32Row_##name,
enum Win32Row { KV_WIN32_FUNCTIONS(KV_READ_ONLY_ROW) kWin32Rows };
#undef KV_READ_ONLY_ROW

#define KV_REFUSED_FUNCTION(name, refusal) kRefused_##name,
#define KV_REFUSED_LOOKUP(name, type, refusal) kRefused_##name,
enum Refused { KV_WRITING_FUNCTIONS(KV_REFUSED_FUNCTION) KV_WRITING_LOOKUPS(KV_REFUSED_LOOKUP) kRefusedKinds };
#undef KV_REFUSED_FUNCTION
#undef KV_REFUSED_LOOKUP

// Reports the refused call (access denied) and returns what the refuser returns.
long Refuse(int refused);

template <typename Fn, int Refused>
struct Refuser;

template <typename R, typename... A, int Refused>
struct Refuser<R(WINAPI*)(A...), Refused> {
    static R WINAPI Call(A...) { return static_cast<R>(Refuse(Refused)); }
};

FARPROC WINAPI LookUpRefusingWrites(HMODULE module, LPCSTR name);
HANDLE WINAPI OpenExistingForReading(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI AdjustHivePrivilegesOnly(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bytes,
                                     PTOKEN_PRIVILEGES previousState, PDWORD returnedBytes);

// The refusal that stands for a row of the table, or -1 when the row is no writing one.
constexpr int RefusedRow(int row) {
#define KV_REFUSED_ROW(name, refusal) \
    if (row == kWin32Row_##name) return kRefused_##name;
    KV_WRITING_FUNCTIONS(KV_REFUSED_ROW)
#undef KV_REFUSED_ROW
    return -1;
}

// The read-only table's entry for a row: a refuser, a narrowed entry, or what
// `real` gives. The discarded branches are never instantiated, so a refused
// function is never named in the program.
template <int Row, typename Fn, typename Real>
Fn ReadOnlyEntry(Real real) {
    if constexpr (RefusedRow(Row) >= 0)
        return &Refuser<Fn, RefusedRow(Row)>::Call;
    else if constexpr (Row == kWin32Row_GetProcAddress)
        return &LookUpRefusingWrites;
    else if constexpr (Row == kWin32Row_CreateFileW)
        return &OpenExistingForReading;
    else if constexpr (Row == kWin32Row_AdjustTokenPrivileges)
        return &AdjustHivePrivilegesOnly;
    else
        return real();
}

}  // namespace read_only_detail
