#include "undo/key_record.h"

#include "run/error_report.h"
#include "platform/owned.h"
#include "platform/registry_names.h"
#include "undo/hive_name.h"

namespace {

const wchar_t kLinkComment[] = L"Registry link, not recorded (its own key is removed, never followed): ";
const wchar_t kLinkArrow[] = L" -> ";

// Value data up to this size comes with the value's enumeration; a larger
// value grows the block to its size and is enumerated again.
const DWORD kFirstDataBytes = 4096;

// Grows to the largest value read; its content is not kept across growth.
struct DataBlock {
    OwnedBlock block;
    DWORD capacity = 0;

    BYTE* bytes() const { return static_cast<BYTE*>(block.get()); }
    bool Reserve(DWORD wanted) {
        if (block && wanted <= capacity) return true;
        block = AllocateBlock(wanted ? wanted : 1);
        capacity = block ? wanted : 0;
        return static_cast<bool>(block);
    }
};

// The full name of the key being recorded: "HKEY_LOCAL_MACHINE\path".
struct KeyName {
    OwnedBlock block;
    size_t units = 0;

    const wchar_t* text() const { return BlockAs<const wchar_t>(block); }
};

u32 ReportStatus(LONG status, const char* message, const wchar_t* keyName) {
    win32.SetLastError(static_cast<DWORD>(status));
    return REPORT(message, keyName);
}

u32 ReportUnwritable(const wchar_t* keyName) {
    return ReportStatus(ERROR_INVALID_NAME, "Can not record for undo, a name cannot be written: %S", keyName);
}

u32 ReportOutOfMemory() { return REPORT("Not enough memory."); }

// The hive the key `key` (or, when it is null, the root alone) was read from, its
// name and, for a nonempty path, "\path"; 0, or the reported failure. A hive
// the run loaded is announced in the text first.
u32 StartKeyName(RegText* text, KeyName* keyName, HKEY root, const wchar_t* path, HKEY key) {
    wchar_t rootName[kHiveNameUnits];
    if (!RecordHiveName(root, key, rootName)) {
        win32.SetLastError(ERROR_INVALID_HANDLE);
        return REPORT("Can not record for undo: the key's hive is unknown");
    }
    AnnounceLoadedHive(text, rootName);
    size_t rootUnits = wcslen(rootName);
    size_t pathUnits = path ? wcslen(path) : 0;
    keyName->units = rootUnits + (pathUnits ? 1 + pathUnits : 0);
    keyName->block = AllocateBlock((keyName->units + 1) * sizeof(wchar_t));
    if (!keyName->block) return ReportOutOfMemory();
    wchar_t* out = BlockAs<wchar_t>(keyName->block);
    memcpy(out, rootName, rootUnits * sizeof(wchar_t));
    if (pathUnits) {
        out[rootUnits] = L'\\';
        memcpy(out + rootUnits + 1, path, pathUnits * sizeof(wchar_t));
    }
    out[keyName->units] = L'\0';
    return 0;
}

// The data block and the key's full name of a record of root\path, the open `key`.
u32 StartRecord(RegText* text, HKEY root, const wchar_t* path, HKEY key, DataBlock* data, KeyName* keyName) {
    if (u32 failure = StartKeyName(text, keyName, root, path, key)) return failure;
    return data->Reserve(kFirstDataBytes) ? 0 : ReportOutOfMemory();
}

// Reads the value into `data`, growing it while the value does not fit.
LONG QueryValue(HKEY key, const wchar_t* name, DataBlock* data, DWORD* type, DWORD* bytes) {
    for (;;) {
        *bytes = data->capacity;
        LONG status = win32.RegQueryValueExW(key, name, nullptr, type, data->bytes(), bytes);
        if (status != ERROR_MORE_DATA) return status;
        if (!data->Reserve(*bytes)) return ERROR_NOT_ENOUGH_MEMORY;
    }
}

u32 RecordValues(RegText* text, HKEY key, const KeyName& keyName, DataBlock* data) {
    OwnedBlock nameBlock = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!nameBlock) return ReportOutOfMemory();
    wchar_t* name = BlockAs<wchar_t>(nameBlock);
    u32 result = 0;
    for (DWORD i = 0; !text->failed;) {
        DWORD nameUnits = kValueNameUnits, type = REG_NONE, bytes = data->capacity;
        LONG status = win32.RegEnumValueW(key, i, name, &nameUnits, nullptr, &type, data->bytes(), &bytes);
        if (status == ERROR_MORE_DATA && bytes > data->capacity) {
            // The same value again, with room for its data.
            if (data->Reserve(bytes)) continue;
            return result | ReportOutOfMemory();
        }
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            const char* message = "Can not read the values for the undo file: %S";
            return result | ReportStatus(status, message, keyName.text());
        }
        if (AppendRegValue(text, name, nameUnits, type, data->bytes(), bytes) == kRegUnwritable)
            result |= ReportUnwritable(keyName.text());
        ++i;
    }
    return result;
}

}  // namespace

u32 RecordOpenKey(RegText* text, HKEY root, const wchar_t* path, HKEY key) {
    DataBlock data;
    KeyName keyName;
    if (u32 failure = StartRecord(text, root, path, key, &data, &keyName)) return failure;
    if (AppendRegKey(text, keyName.text(), keyName.units) == kRegUnwritable) return ReportUnwritable(keyName.text());
    return RecordValues(text, key, keyName, &data);
}

u32 RecordLink(RegText* text, HKEY root, const wchar_t* path, HKEY link) {
    DataBlock data;
    KeyName keyName;
    if (u32 failure = StartRecord(text, root, path, link, &data, &keyName)) return failure;
    DWORD type = REG_NONE, bytes = 0;
    LONG status = QueryValue(link, kLinkValueName, &data, &type, &bytes);
    if (status == ERROR_NOT_ENOUGH_MEMORY) return ReportOutOfMemory();
    if (status != ERROR_SUCCESS) bytes = 0;
    RegPiece pieces[] = {PieceOf(kLinkComment),
                         {keyName.text(), keyName.units},
                         PieceOf(kLinkArrow),
                         {reinterpret_cast<const wchar_t*>(data.bytes()), bytes / sizeof(wchar_t)}};
    AppendRegKeyComment(text, pieces, 4);
    return 0;
}

namespace {

// The key's line and one value under it; `key` (may be null) is the key the value is read from.
u32 AppendValueRecord(RegText* text, HKEY root, const wchar_t* path, HKEY key, const wchar_t* name, DWORD type,
                      const void* data, DWORD bytes) {
    KeyName keyName;
    if (u32 failure = StartKeyName(text, &keyName, root, path, key)) return failure;
    if (AppendRegKey(text, keyName.text(), keyName.units) == kRegUnwritable ||
        AppendRegValue(text, name, wcslen(name), type, static_cast<const BYTE*>(data), bytes) == kRegUnwritable)
        return ReportUnwritable(keyName.text());
    return 0;
}

}  // namespace

u32 RecordValue(RegText* text, HKEY root, const wchar_t* path, HKEY key, const wchar_t* name) {
    DataBlock data;
    if (!data.Reserve(kFirstDataBytes)) return ReportOutOfMemory();
    DWORD type = REG_NONE, bytes = 0;
    LONG status = QueryValue(key, name, &data, &type, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return ReportStatus(status, "Can not read the value for the undo file: %S", name);
    return AppendValueRecord(text, root, path, key, name, type, data.bytes(), bytes);
}

u32 RecordValueBytes(RegText* text, HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
                     const void* data, DWORD bytes) {
    return AppendValueRecord(text, root, path, nullptr, name, type, data, bytes);
}

bool RewriteChangesValue(const void* oldData, DWORD oldBytes, const void* newData, DWORD newBytes) {
    return oldBytes != newBytes || (oldBytes != 0 && memcmp(oldData, newData, oldBytes) != 0);
}
