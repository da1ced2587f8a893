// WOW64 file-system redirection, off only for the file-system calls of the
// 64-bit passes.
//
// This 32-bit process reaches the 64-bit system directory only with
// redirection off, but while it is off Windows loads no 32-bit DLL or resource
// through the redirected directory: delay-loads fail (and stay failed), and so
// may message texts and folder lookups. So redirection goes off right before
// each file-system call through the table and on again right after it;
// everything else, folder lookups included, runs with it on.
#pragma once

#include "platform/win32.h"

// X(entry, failure): the entries of the table that reach the file system by
// path (or go on with a search it started; or load a hive from a file), each
// with what it returns when it fails. An entry added to the table that takes a
// path gets a line here.
#define KV_FILE_SYSTEM_ENTRIES(X)                  \
    X(GetFileAttributesW, INVALID_FILE_ATTRIBUTES) \
    X(SetFileAttributesW, FALSE)                   \
    X(DeleteFileW, FALSE)                          \
    X(RemoveDirectoryW, FALSE)                     \
    X(FindFirstFileW, INVALID_HANDLE_VALUE)        \
    X(FindNextFileW, FALSE)                        \
    X(CreateFileW, INVALID_HANDLE_VALUE)           \
    X(GetFullPathNameW, 0)                         \
    X(GetTempFileNameW, 0)                         \
    X(MoveFileExW, FALSE)                          \
    X(CreateDirectoryW, FALSE)                     \
    X(RegLoadKeyW, ERROR_ACCESS_DENIED)

struct RedirectionSwitch {
    Wow64DisableWow64FsRedirectionFn disable;
    Wow64RevertWow64FsRedirectionFn revert;
};

// Wraps each file-system entry, as the table holds it now: redirection off,
// the call, redirection back on, the call's own last error kept. A call for
// which redirection cannot be switched off does not run (it would reach the
// 32-bit directory): it returns its failure with the switch's error.
void BeginFileCallsWithoutRedirection(const RedirectionSwitch& redirection);

// Puts the entries back as they were. False when switching redirection back
// on failed meanwhile; the last error is then that of the first such failure.
bool EndFileCallsWithoutRedirection();
