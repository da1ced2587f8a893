#include "files/links.h"

#include <winioctl.h>

#include "run/error_report.h"
#include "platform/owned.h"

namespace {

// Classes of NtQueryInformationFile and NtSetInformationFile (Windows 2000 and later).
const int kFileNameInformation = 9;
const int kFileDispositionInformation = 13;
const int kFileAttributeTagInformation = 35;
const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
const LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct IoStatus {
    ULONG_PTR status;
    ULONG_PTR information;
};

// FILE_NAME_INFORMATION with room for MAX_PATH units and a terminator.
struct HandleName {
    ULONG bytes;
    wchar_t text[MAX_PATH + 1];
};

// FILE_ATTRIBUTE_TAG_INFORMATION.
struct AttributeTag {
    ULONG attributes;
    ULONG tag;
};

// The answer of FSCTL_GET_REPARSE_POINT up to the names of a junction or a
// symbolic link (the driver kit's REPARSE_DATA_BUFFER); a symbolic link has a
// flags field before its names.
struct ReparseHeader {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
};

// What a handle opened for a path holds: the entry at that path, or
// something else (what a link there names).
enum class Opened { Itself, Elsewhere, Unknown };

// Opens the entry at `path` itself where the platform can: a link is not
// followed, a folder opens like a file.
HANDLE OpenEntry(const wchar_t* path, DWORD access) {
    return win32.CreateFileW(path, access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

LONG QueryFile(HANDLE file, void* information, ULONG length, int informationClass) {
    NtQueryInformationFileFn query = LookUpFunction<NtQueryInformationFileFn>(L"ntdll.dll", "NtQueryInformationFile");
    if (!query) return kStatusNotImplemented;
    IoStatus status;
    return query(file, &status, information, length, informationClass);
}

// The path of what `file` holds on its volume ("\Program Files\Kor Vane"):
// 0, or the status of the query.
LONG NameOf(HANDLE file, HandleName* name) {
    LONG status = QueryFile(file, name, sizeof *name - sizeof(wchar_t), kFileNameInformation);
    if (status == 0) name->text[name->bytes / sizeof(wchar_t)] = L'\0';
    return status;
}

bool SameText(const wchar_t* text, const wchar_t* expected, size_t units) {
    return win32._wcsnicmp(text, expected, units) == 0;
}

// Whether `file`, opened for `path`, holds the entry at `path`: its name is
// then its parent folder's name followed by the entry's own name. Both names
// come the same way through whatever lies above the folder.
Opened WhatWasOpened(HANDLE file, const wchar_t* path) {
    const wchar_t* separator = wcsrchr(path, L'\\');
    if (!separator || separator[1] == L'\0') return Opened::Unknown;
    size_t parentUnits = separator - path;
    // "C:\name" lies in "C:\", not in "C:" (the drive's current folder).
    if (parentUnits == 2 && path[1] == L':') ++parentUnits;
    if (parentUnits >= MAX_PATH) return Opened::Unknown;
    wchar_t parentPath[MAX_PATH];
    memcpy(parentPath, path, parentUnits * sizeof(wchar_t));
    parentPath[parentUnits] = L'\0';

    HandleName parentName, name;
    OwnedFile parent(OpenEntry(parentPath, 0));
    if (!parent || NameOf(parent.get(), &parentName) != 0) return Opened::Unknown;
    LONG status = NameOf(file, &name);
    // Longer than any path these buffers hold: not the entry at `path`.
    if (status == kStatusBufferOverflow) return Opened::Elsewhere;
    if (status != 0) return Opened::Unknown;

    const wchar_t* own = separator + 1;
    size_t head = wcslen(parentName.text);
    size_t joint = head > 0 && parentName.text[head - 1] == L'\\' ? 0 : 1;
    bool itself = wcslen(name.text) == head + joint + wcslen(own) && SameText(name.text, parentName.text, head) &&
                  (joint == 0 || name.text[head] == L'\\') && SameText(name.text + head + joint, own, wcslen(own));
    return itself ? Opened::Itself : Opened::Elsewhere;
}

// Deletes what `file` holds once it is closed: 0, or a system error.
DWORD DeleteWhenClosed(HANDLE file) {
    NtSetInformationFileFn set = LookUpFunction<NtSetInformationFileFn>(L"ntdll.dll", "NtSetInformationFile");
    if (!set) return ERROR_PROC_NOT_FOUND;
    IoStatus io;
    BOOLEAN deleteFile = TRUE;
    LONG status = set(file, &io, &deleteFile, sizeof deleteFile, kFileDispositionInformation);
    if (status == 0) return 0;
    RtlNtStatusToDosErrorFn toSystemError =
        LookUpFunction<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    return toSystemError ? toSystemError(status) : ERROR_ACCESS_DENIED;
}

// Where the link at `path` points, as its reparse data names it (the name
// meant for display when there is one); empty when it cannot be read.
OwnedBlock LinkTarget(const wchar_t* path) {
    OwnedFile link(OpenEntry(path, 0));
    if (!link) return OwnedBlock();
    OwnedBlock data = AllocateBlock(MAXIMUM_REPARSE_DATA_BUFFER_SIZE + sizeof(wchar_t));
    if (!data) return data;
    BYTE* bytes = BlockAs<BYTE>(data);
    DWORD size = 0;
    if (!win32.DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, bytes,
                               MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &size, nullptr))
        return OwnedBlock();
    ReparseHeader header;
    if (size < sizeof header) return OwnedBlock();
    memcpy(&header, bytes, sizeof header);
    size_t names = sizeof header;
    if (header.tag == IO_REPARSE_TAG_SYMLINK)
        names += sizeof(DWORD);
    else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT)
        return OwnedBlock();
    bool printable = header.printLength != 0;
    size_t offset = names + (printable ? header.printOffset : header.substituteOffset);
    size_t length = (printable ? header.printLength : header.substituteLength) & ~size_t(1);
    if (length == 0 || offset + length > size) return OwnedBlock();
    memmove(bytes, bytes + offset, length);
    memset(bytes + length, 0, sizeof(wchar_t));
    return data;
}

}  // namespace

// Windows never shows tag 0; Wine shows its unix links to folders so, and
// what cannot be told apart is taken for a link.
bool ListedAsLink(const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    return entry.dwReserved0 == 0 || IsReparseTagNameSurrogate(entry.dwReserved0);
}

bool OpensAsLink(const wchar_t* path) {
    OwnedFile entry(OpenEntry(path, 0));
    if (!entry) return false;
    AttributeTag shown = {0, 0};
    if (QueryFile(entry.get(), &shown, sizeof shown, kFileAttributeTagInformation) == 0 &&
        (shown.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (shown.tag == 0 || IsReparseTagNameSurrogate(shown.tag)))
        return true;
    return WhatWasOpened(entry.get(), path) == Opened::Elsewhere;
}

// Its attributes are left alone too: resetting them by path would reach the
// target.
Fate RemoveLink(const wchar_t* path) {
    DWORD error = 0;
    {
        OwnedFile link(OpenEntry(path, DELETE));
        if (!link)
            error = win32.GetLastError();
        else if (WhatWasOpened(link.get(), path) != Opened::Itself)
            // The platform opened what the link names: deleting through this
            // handle would delete that.
            error = ERROR_NOT_SUPPORTED;
        else
            error = DeleteWhenClosed(link.get());
    }
    if (error == 0) {
        WidePrint(L"Deleted link: %ls\n", path);
        return Fate::Removed;
    }
    OwnedBlock target = LinkTarget(path);
    win32.SetLastError(error);
    if (target)
        REPORT("Can not remove link: %S -> %S", path, BlockAs<wchar_t>(target));
    else
        REPORT("Can not remove link: %S", path);
    return Fate::Left;
}
