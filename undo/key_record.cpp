#include "undo/key_record.h"

#include <utility>

#include "run/error_report.h"
#include "platform/owned.h"
#include "undo/hive_name.h"

namespace {

const wchar_t kLinkValueName[] = L"SymbolicLinkValue";
const wchar_t kUnreadableComment[] = L"Key not recorded, it could not be read: ";
const wchar_t kLinkComment[] = L"Registry link, not recorded (its own key is removed, never followed): ";
const wchar_t kLinkArrow[] = L" -> ";

const REGSAM kReadAccess = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
// Value data up to this size comes with the value's enumeration; a larger
// value grows the block to its size and is enumerated again.
const DWORD kFirstDataBytes = 4096;
// The longest value name (16,383 characters) and the longest key name (255), each with its NUL.
const DWORD kValueNameUnits = 16384;
const DWORD kKeyNameUnits = 256;
const size_t kFirstKeyNameUnits = 1024;

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

// The full name of the key being recorded ("HKEY_LOCAL_MACHINE\path\child"),
// growing with the depth of the tree.
struct KeyName {
    OwnedBlock block;
    size_t capacity = 0;

    wchar_t* units() const { return BlockAs<wchar_t>(block); }
    bool Reserve(size_t wanted, size_t keep) {
        if (block && wanted <= capacity) return true;
        size_t grownCapacity = capacity * 2 > wanted ? capacity * 2 : wanted;
        OwnedBlock grown = AllocateBlock(grownCapacity * sizeof(wchar_t));
        if (!grown) return false;
        if (keep) memcpy(grown.get(), block.get(), keep * sizeof(wchar_t));
        block = std::move(grown);
        capacity = grownCapacity;
        return true;
    }
};

// "HKEY_LOCAL_MACHINE" and, for a nonempty path, "\path"; false without memory.
bool StartKeyName(KeyName* keyName, const wchar_t* rootName, const wchar_t* path, size_t* units) {
    size_t rootUnits = wcslen(rootName);
    size_t pathUnits = path ? wcslen(path) : 0;
    *units = rootUnits + (pathUnits ? 1 + pathUnits : 0);
    if (!keyName->Reserve(*units + 1 > kFirstKeyNameUnits ? *units + 1 : kFirstKeyNameUnits, 0)) return false;
    wchar_t* out = keyName->units();
    memcpy(out, rootName, rootUnits * sizeof(wchar_t));
    if (pathUnits) {
        out[rootUnits] = L'\\';
        memcpy(out + rootUnits + 1, path, pathUnits * sizeof(wchar_t));
    }
    out[*units] = L'\0';
    return true;
}

u32 ReportStatus(LONG status, const char* message, const wchar_t* keyName) {
    win32.SetLastError(static_cast<DWORD>(status));
    return REPORT(message, keyName);
}

u32 ReportUnwritable(const wchar_t* keyName) {
    return ReportStatus(ERROR_INVALID_NAME, "Can not record for undo, a name cannot be written: %S", keyName);
}

u32 ReportOutOfMemory() { return REPORT("Not enough memory."); }

u32 RecordUnreadable(RegText* text, LONG status, const wchar_t* keyName, size_t keyNameUnits) {
    RegPiece pieces[] = {PieceOf(kUnreadableComment), {keyName, keyNameUnits}};
    AppendRegKeyComment(text, pieces, 2);
    return ReportStatus(status, "Can not read the key for the undo file: %S", keyName);
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

struct TreeWalk {
    RegText* text;
    REGSAM view;
    KeyName keyName;
    OwnedBlock valueName;
    DataBlock data;
};

u32 RecordValues(TreeWalk* walk, HKEY key) {
    wchar_t* name = BlockAs<wchar_t>(walk->valueName);
    u32 result = 0;
    for (DWORD i = 0; !walk->text->failed;) {
        DWORD nameUnits = kValueNameUnits, type = REG_NONE, bytes = walk->data.capacity;
        LONG status = win32.RegEnumValueW(key, i, name, &nameUnits, nullptr, &type, walk->data.bytes(), &bytes);
        if (status == ERROR_MORE_DATA && bytes > walk->data.capacity) {
            // The same value again, with room for its data.
            if (walk->data.Reserve(bytes)) continue;
            return result | ReportOutOfMemory();
        }
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            const char* message = "Can not read the values for the undo file: %S";
            return result | ReportStatus(status, message, walk->keyName.units());
        }
        if (AppendRegValue(walk->text, name, nameUnits, type, walk->data.bytes(), bytes) == kRegUnwritable)
            result |= ReportUnwritable(walk->keyName.units());
        ++i;
    }
    return result;
}

// A link's comment line, with the target read from its own open key.
u32 RecordLinkOf(RegText* text, HKEY link, const wchar_t* keyName, size_t keyNameUnits, DataBlock* data) {
    DWORD type = REG_NONE, bytes = 0;
    LONG status = QueryValue(link, kLinkValueName, data, &type, &bytes);
    if (status == ERROR_NOT_ENOUGH_MEMORY) return ReportOutOfMemory();
    if (status != ERROR_SUCCESS) bytes = 0;
    RegPiece pieces[] = {PieceOf(kLinkComment),
                         {keyName, keyNameUnits},
                         PieceOf(kLinkArrow),
                         {reinterpret_cast<const wchar_t*>(data->bytes()), bytes / sizeof(wchar_t)}};
    AppendRegKeyComment(text, pieces, 4);
    return 0;
}

u32 RecordKey(TreeWalk* walk, HKEY key, size_t keyNameUnits);

// The child whose name the enumeration left after the parent's name: a link is
// a comment line, anything else a key with its tree.
u32 RecordChild(TreeWalk* walk, HKEY parent, size_t parentUnits, size_t childUnits) {
    const wchar_t* child = walk->keyName.units() + parentUnits + 1;
    // A NUL inside the name would open another key: it is named and skipped.
    if (wcslen(child) != childUnits - parentUnits - 1) {
        AppendRegKey(walk->text, walk->keyName.units(), childUnits);
        return ReportUnwritable(walk->keyName.units());
    }
    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(parent, child, REG_OPTION_OPEN_LINK, kReadAccess | walk->view, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return RecordUnreadable(walk->text, status, walk->keyName.units(), childUnits);

    DWORD type = REG_NONE, bytes = 0;
    status = QueryValue(key.get(), kLinkValueName, &walk->data, &type, &bytes);
    if (status == ERROR_NOT_ENOUGH_MEMORY) return ReportOutOfMemory();
    if (status == ERROR_SUCCESS && type == REG_LINK)
        return RecordLinkOf(walk->text, key.get(), walk->keyName.units(), childUnits, &walk->data);
    return RecordKey(walk, key.get(), childUnits);
}

// The key's line and values, then each subkey's tree.
u32 RecordKey(TreeWalk* walk, HKEY key, size_t keyNameUnits) {
    if (AppendRegKey(walk->text, walk->keyName.units(), keyNameUnits) == kRegUnwritable)
        return ReportUnwritable(walk->keyName.units());
    u32 result = RecordValues(walk, key);

    LONG status = ERROR_NO_MORE_ITEMS;
    for (DWORD i = 0; !walk->text->failed; ++i) {
        if (!walk->keyName.Reserve(keyNameUnits + 1 + kKeyNameUnits, keyNameUnits + 1))
            return result | ReportOutOfMemory();
        wchar_t* name = walk->keyName.units();
        name[keyNameUnits] = L'\\';
        DWORD childUnits = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, name + keyNameUnits + 1, &childUnits, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        result |= RecordChild(walk, key, keyNameUnits, keyNameUnits + 1 + childUnits);
    }
    walk->keyName.units()[keyNameUnits] = L'\0';
    if (status != ERROR_NO_MORE_ITEMS && status != ERROR_SUCCESS)
        result |= ReportStatus(status, "Can not read the subkeys for the undo file: %S", walk->keyName.units());
    return result;
}

// The hive the key `key` (or, when it is null, the root alone) was read from.
u32 HiveNameOf(HKEY root, HKEY key, wchar_t* rootName) {
    if (RecordHiveName(root, key, rootName)) return 0;
    win32.SetLastError(ERROR_INVALID_HANDLE);
    return REPORT("Can not record for undo: the key's hive is unknown");
}

// The walk's buffers and the name of root\path, `key` being that key; 0, or the reported failure.
u32 StartWalk(TreeWalk* walk, RegText* text, REGSAM view, HKEY root, const wchar_t* path, HKEY key,
              size_t* keyNameUnits) {
    wchar_t rootName[kHiveNameUnits];
    if (u32 failure = HiveNameOf(root, key, rootName)) return failure;
    walk->text = text;
    walk->view = view;
    walk->valueName = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!walk->valueName || !walk->data.Reserve(kFirstDataBytes) ||
        !StartKeyName(&walk->keyName, rootName, path, keyNameUnits))
        return ReportOutOfMemory();
    return 0;
}

}  // namespace

u32 RecordKeyTree(RegText* text, HKEY root, const wchar_t* path, REGSAM view) {
    TreeWalk walk;
    size_t keyNameUnits = 0;
    u32 failure = StartWalk(&walk, text, view, root, path, nullptr, &keyNameUnits);
    if (failure) return failure;

    OwnedKey key;
    LONG status = win32.RegOpenKeyExW(root, path, 0, kReadAccess | view, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return RecordUnreadable(text, status, walk.keyName.units(), keyNameUnits);
    return RecordKey(&walk, key.get(), keyNameUnits);
}

u32 RecordOpenKey(RegText* text, HKEY root, const wchar_t* path, HKEY key) {
    TreeWalk walk;
    size_t keyNameUnits = 0;
    u32 failure = StartWalk(&walk, text, 0, root, path, key, &keyNameUnits);
    if (failure) return failure;
    if (AppendRegKey(text, walk.keyName.units(), keyNameUnits) == kRegUnwritable)
        return ReportUnwritable(walk.keyName.units());
    return RecordValues(&walk, key);
}

namespace {

// The data block and the key's line of a record of one item of root\path, the open `key`.
u32 StartItemRecord(HKEY root, const wchar_t* path, HKEY key, DataBlock* data, KeyName* keyName,
                    size_t* keyNameUnits) {
    wchar_t rootName[kHiveNameUnits];
    if (u32 failure = HiveNameOf(root, key, rootName)) return failure;
    if (!data->Reserve(kFirstDataBytes) || !StartKeyName(keyName, rootName, path, keyNameUnits))
        return ReportOutOfMemory();
    return 0;
}

}  // namespace

u32 RecordLink(RegText* text, HKEY root, const wchar_t* path, HKEY link) {
    DataBlock data;
    KeyName keyName;
    size_t keyNameUnits = 0;
    if (u32 failure = StartItemRecord(root, path, link, &data, &keyName, &keyNameUnits)) return failure;
    return RecordLinkOf(text, link, keyName.units(), keyNameUnits, &data);
}

u32 RecordValue(RegText* text, HKEY root, const wchar_t* path, HKEY key, const wchar_t* name) {
    DataBlock data;
    KeyName keyName;
    size_t keyNameUnits = 0;
    if (u32 failure = StartItemRecord(root, path, key, &data, &keyName, &keyNameUnits)) return failure;
    DWORD type = REG_NONE, bytes = 0;
    LONG status = QueryValue(key, name, &data, &type, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) return ReportStatus(status, "Can not read the value for the undo file: %S", name);
    if (AppendRegKey(text, keyName.units(), keyNameUnits) == kRegUnwritable ||
        AppendRegValue(text, name, wcslen(name), type, data.bytes(), bytes) == kRegUnwritable)
        return ReportUnwritable(keyName.units());
    return 0;
}

u32 RecordValueBytes(RegText* text, HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
                     const void* data, DWORD bytes) {
    wchar_t rootName[kHiveNameUnits];
    if (u32 failure = HiveNameOf(root, nullptr, rootName)) return failure;
    KeyName keyName;
    size_t keyNameUnits = 0;
    if (!StartKeyName(&keyName, rootName, path, &keyNameUnits)) return ReportOutOfMemory();
    if (AppendRegKey(text, keyName.units(), keyNameUnits) == kRegUnwritable ||
        AppendRegValue(text, name, wcslen(name), type, static_cast<const BYTE*>(data), bytes) == kRegUnwritable)
        return ReportUnwritable(keyName.units());
    return 0;
}

bool RewriteChangesValue(const void* oldData, DWORD oldBytes, const void* newData, DWORD newBytes) {
    return oldBytes != newBytes || (oldBytes != 0 && memcmp(oldData, newData, oldBytes) != 0);
}
