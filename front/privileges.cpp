#include "front/privileges.h"

#include "run/error_report.h"
#include "platform/owned.h"

namespace {

const DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
// SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE
const DWORD kRebootReason = 0x80040001;

const wchar_t kRebootCaption[] = L"Предупреждение";
const wchar_t kRebootQuestion[] =
    L"Для завершения удаления продуктов компании Кор-Ване необходима перезагрузка! Выполнить её сейчас?";

// The handle is taken over only on success, so a failed open leaves nothing to close.
bool OpenOwnToken(OwnedToken* token) {
    HANDLE handle = nullptr;
    if (!win32.OpenProcessToken(win32.GetCurrentProcess(), kTokenAccess, &handle)) return false;
    token->reset(handle);
    return true;
}

BOOL EnablePrivilege(HANDLE token, const LUID& privilege) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = privilege;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return win32.AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

u32 GetPriveleges() {
    OwnedToken token;
    if (!OpenOwnToken(&token)) return REPORT("OpenProcessToken()");
    LUID privilege = {};
    if (!win32.LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privilege))
        return REPORT("LookupPrivilegeValue()");
    // An account without the privilege still runs; the takeovers that need it
    // fail later and report on their own.
    EnablePrivilege(token.get(), privilege);
    return 0;
}

int PromptReboot() {
    OwnedToken token;
    if (!OpenOwnToken(&token)) return 0;
    // An unknown privilege would leave the identifier unset: nothing to enable then.
    LUID privilege = {};
    if (!win32.LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privilege)) return 0;
    // The adjustment succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks
    // the privilege; only a clean last error means it is enabled.
    if (!EnablePrivilege(token.get(), privilege) || win32.GetLastError() != ERROR_SUCCESS) return 0;

    if (win32.MessageBoxW(nullptr, kRebootQuestion, kRebootCaption, MB_YESNO) != IDYES) return 1;
    return win32.ExitWindowsEx(EWX_REBOOT, kRebootReason) ? 1 : 0;
}
