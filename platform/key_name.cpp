#include "platform/key_name.h"

namespace {

const int kKeyNameInformation = 3;
const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
const LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
const ULONG kObjCaseInsensitive = 0x40;

// The system's own string and object attribute layouts, as ntdll takes them.
struct CountedText {
    USHORT length;
    USHORT maximumLength;
    const wchar_t* buffer;
};
struct ObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    const CountedText* objectName;
    ULONG attributes;
    PVOID securityDescriptor;
    PVOID securityQualityOfService;
};

typedef LONG(NTAPI* NtOpenKeyFn)(HANDLE* key, ACCESS_MASK access, const ObjectAttributes* attributes);
typedef LONG(NTAPI* RtlFormatCurrentUserKeyPathFn)(CountedText* path);
typedef VOID(NTAPI* RtlFreeUnicodeStringFn)(CountedText* text);
typedef WCHAR(NTAPI* RtlUpcaseUnicodeCharFn)(WCHAR c);

LONG SystemError(LONG ntStatus) {
    RtlNtStatusToDosErrorFn toSystemError = LookUpFunction<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    return toSystemError ? static_cast<LONG>(toSystemError(ntStatus)) : ERROR_INVALID_FUNCTION;
}

// Copies the units into the name, in its own units when they fit.
LONG HoldName(KernelName* name, const wchar_t* units, size_t length) {
    wchar_t* out = reinterpret_cast<wchar_t*>(name->inlineUnits);
    if (length * sizeof(wchar_t) > sizeof name->inlineUnits) {
        name->block = AllocateBlock(length * sizeof(wchar_t));
        if (!name->block) return ERROR_NOT_ENOUGH_MEMORY;
        out = BlockAs<wchar_t>(name->block);
    }
    memmove(out, units, length * sizeof(wchar_t));
    name->units = out;
    name->length = length;
    return ERROR_SUCCESS;
}

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

LONG ReadKernelName(HKEY key, KernelName* name) {
    NtQueryKeyFn queryKey = LookUpFunction<NtQueryKeyFn>(L"ntdll.dll", "NtQueryKey");
    if (!queryKey) return ERROR_PROC_NOT_FOUND;
    // KEY_NAME_INFORMATION: the name's length in bytes, then the name.
    BYTE* information = reinterpret_cast<BYTE*>(name->inlineUnits);
    ULONG bytes = sizeof name->inlineUnits, needed = 0;
    LONG status = queryKey(key, kKeyNameInformation, information, bytes, &needed);
    if ((status == kStatusBufferOverflow || status == kStatusBufferTooSmall) && needed > bytes) {
        name->block = AllocateBlock(needed);
        if (!name->block) return ERROR_NOT_ENOUGH_MEMORY;
        information = BlockAs<BYTE>(name->block);
        status = queryKey(key, kKeyNameInformation, information, needed, &needed);
    }
    if (status != 0) return SystemError(status);
    ULONG nameBytes = 0;
    memcpy(&nameBytes, information, sizeof nameBytes);
    name->units = reinterpret_cast<const wchar_t*>(information + sizeof(ULONG));
    name->length = nameBytes / sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG ReadCurrentUserKernelName(KernelName* name) {
    RtlFormatCurrentUserKeyPathFn format =
        LookUpFunction<RtlFormatCurrentUserKeyPathFn>(L"ntdll.dll", "RtlFormatCurrentUserKeyPath");
    RtlFreeUnicodeStringFn release = LookUpFunction<RtlFreeUnicodeStringFn>(L"ntdll.dll", "RtlFreeUnicodeString");
    if (!format || !release) return ERROR_PROC_NOT_FOUND;
    CountedText path = {};
    LONG status = format(&path);
    if (status != 0) return SystemError(status);
    status = HoldName(name, path.buffer, path.length / sizeof(wchar_t));
    release(&path);
    return status;
}

LONG OpenKernelName(const wchar_t* units, size_t length, REGSAM access, HKEY* key) {
    NtOpenKeyFn openKey = LookUpFunction<NtOpenKeyFn>(L"ntdll.dll", "NtOpenKey");
    if (!openKey) return ERROR_PROC_NOT_FOUND;
    if (length * sizeof(wchar_t) > 0xFFFE) return ERROR_FILENAME_EXCED_RANGE;
    CountedText text = {static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                        units};
    ObjectAttributes attributes = {sizeof(ObjectAttributes), nullptr, &text, kObjCaseInsensitive, nullptr, nullptr};
    // A 32-bit program on 64-bit Windows: no redirection of a name that is already the key's own.
    if (RunsUnderWow64()) access |= KEY_WOW64_64KEY;
    HANDLE opened = nullptr;
    LONG status = openKey(&opened, access, &attributes);
    if (status != 0) return SystemError(status);
    *key = static_cast<HKEY>(opened);
    return ERROR_SUCCESS;
}

bool SameKernelText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    if (aLength != bLength) return false;
    RtlUpcaseUnicodeCharFn upcase = nullptr;
    for (size_t i = 0; i < aLength; ++i) {
        if (FoldAscii(a[i]) == FoldAscii(b[i])) continue;
        if (a[i] < 0x80 && b[i] < 0x80) return false;
        if (!upcase) upcase = LookUpFunction<RtlUpcaseUnicodeCharFn>(L"ntdll.dll", "RtlUpcaseUnicodeChar");
        if (!upcase || upcase(a[i]) != upcase(b[i])) return false;
    }
    return true;
}
