#include "platform/read_only.h"

namespace read_only_detail {

namespace {

struct Refusal {
    const char* name;
    long result;
};

#define KV_REFUSAL_OF_FUNCTION(name, refusal) {#name, static_cast<long>(refusal)},
#define KV_REFUSAL_OF_LOOKUP(name, type, refusal) {#name, static_cast<long>(refusal)},
const Refusal kRefusals[kRefusedKinds] = {
    KV_WRITING_FUNCTIONS(KV_REFUSAL_OF_FUNCTION) KV_WRITING_LOOKUPS(KV_REFUSAL_OF_LOOKUP)};
#undef KV_REFUSAL_OF_FUNCTION
#undef KV_REFUSAL_OF_LOOKUP

// Any of these in an open's access could change the file or what it holds.
const DWORD kChangingAccess = GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | DELETE | WRITE_DAC | WRITE_OWNER |
                              FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                              FILE_DELETE_CHILD;

RefusalReport g_refusalReport = nullptr;

void ReportRefused(const char* name) {
    win32.SetLastError(ERROR_ACCESS_DENIED);
    if (g_refusalReport) g_refusalReport(name);
}

}  // namespace

long Refuse(int refused) {
    ReportRefused(kRefusals[refused].name);
    return kRefusals[refused].result;
}

FARPROC WINAPI LookUpRefusingWrites(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name)) {
#define KV_REFUSE_LOOKUP(function, type, refusal) \
    if (strcmp(name, #function) == 0)              \
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Refuser<type, kRefused_##function>::Call));
        KV_WRITING_LOOKUPS(KV_REFUSE_LOOKUP)
#undef KV_REFUSE_LOOKUP
    }
    return ::GetProcAddress(module, name);
}

HANDLE WINAPI OpenExistingForReading(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (disposition != OPEN_EXISTING || (access & kChangingAccess) || (flags & FILE_FLAG_DELETE_ON_CLOSE)) {
        ReportRefused("CreateFileW");
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

// A privilege the read-only run may switch: those a hive's load and unload need.
bool IsHivePrivilege(const LUID& privilege) {
    static const wchar_t* const kHivePrivileges[] = {SE_BACKUP_NAME, SE_RESTORE_NAME};
    for (const wchar_t* name : kHivePrivileges) {
        LUID known = {};
        if (::LookupPrivilegeValueW(nullptr, name, &known) && known.LowPart == privilege.LowPart &&
            known.HighPart == privilege.HighPart)
            return true;
    }
    return false;
}

BOOL WINAPI AdjustHivePrivilegesOnly(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bytes,
                                     PTOKEN_PRIVILEGES previousState, PDWORD returnedBytes) {
    bool allowed = !disableAll && newState;
    for (DWORD i = 0; allowed && i < newState->PrivilegeCount; ++i)
        allowed = IsHivePrivilege(newState->Privileges[i].Luid);
    if (!allowed) {
        ReportRefused("AdjustTokenPrivileges");
        return FALSE;
    }
    return ::AdjustTokenPrivileges(token, disableAll, newState, bytes, previousState, returnedBytes);
}

}  // namespace read_only_detail

void ReportRefusalsThrough(RefusalReport report) { read_only_detail::g_refusalReport = report; }

void MakeReadOnly(Win32Api* table) {
    using namespace read_only_detail;
#define KV_MAKE_REFUSER(name, refusal) table->name = &Refuser<decltype(table->name), kRefused_##name>::Call;
    KV_WRITING_FUNCTIONS(KV_MAKE_REFUSER)
#undef KV_MAKE_REFUSER
    table->GetProcAddress = &LookUpRefusingWrites;
    table->CreateFileW = &OpenExistingForReading;
    table->AdjustTokenPrivileges = &AdjustHivePrivilegesOnly;
}
