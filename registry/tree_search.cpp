#include "registry/tree_search.h"

#include "run/error_report.h"
#include "run/process_state.h"
#include "run/run_summary.h"
#include "undo/undo_file.h"

namespace {

const wchar_t* Shown(const wchar_t* pattern) { return pattern ? pattern : L""; }

// Value data that an enumeration carries along with the name: room for a long
// path. Four zero bytes beyond the data end the text in whole units, also when
// the stored size is odd or the text lacks its NUL.
const DWORD kEnumeratedDataBytes = 4096;
const DWORD kTerminatorBytes = 4;

enum ReadFailureKind { kValueEnumFailed, kValueQueryFailed, kValueTextMemory };

// A failure met while reading values: reported when the reading is one
// search's own, only noted otherwise.
u32 ReadFailure(bool report, bool* failed, ReadFailureKind kind, LONG status) {
    *failed = true;
    if (!report) return 0;
    switch (kind) {
        case kValueEnumFailed:
            return ReportValueEnumFailure(status);
        case kValueQueryFailed:
            KeepStatusAsLastError(status);
            return REPORT("RegQueryValueEx failed");
        case kValueTextMemory:
            return REPORT("Not enough memory");
    }
    return 0;
}

void TestName(const SearchPatterns* searches, u32 nameReaders, const wchar_t* name, ValueHits* hits) {
    for (u32 left = nameReaders; left; left &= left - 1) {
        int i = __builtin_ctz(left);
        if (TextContains(name, searches[i].valueName)) hits->byName |= SearchBit(i);
    }
}

void TestText(const SearchPatterns* searches, u32 dataReaders, const wchar_t* text, ValueHits* hits) {
    for (u32 left = dataReaders; left; left &= left - 1) {
        int i = __builtin_ctz(left);
        if (TextContains(text, searches[i].valueData)) hits->byData |= SearchBit(i);
    }
}

// A value whose data did not come with its enumeration: its type and size by
// name, then, for REG_SZ only, its data into a zeroed block of its own.
u32 QueryValueText(HKEY key, const wchar_t* name, const SearchPatterns* searches, u32 dataReaders, bool report,
                   bool* failed, ValueHits* hits) {
    DWORD type = REG_NONE, bytes = 0;
    LONG queried = win32.RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (queried != ERROR_SUCCESS) return ReadFailure(report, failed, kValueQueryFailed, queried);
    if (type != REG_SZ) return 0;

    OwnedBlock data = bytes <= MAXDWORD - kTerminatorBytes ? AllocateBlock(bytes + kTerminatorBytes) : OwnedBlock();
    if (!data) return ReadFailure(report, failed, kValueTextMemory, 0);
    memset(data.get(), 0, bytes + kTerminatorBytes);
    DWORD read = bytes;
    queried = win32.RegQueryValueExW(key, name, nullptr, &type, static_cast<BYTE*>(data.get()), &read);
    if (queried != ERROR_SUCCESS) return ReadFailure(report, failed, kValueQueryFailed, queried);
    if (type == REG_SZ) TestText(searches, dataReaders, BlockAs<wchar_t>(data), hits);
    return 0;
}

const wchar_t* MatchName(MatchKind kind) {
    switch (kind) {
        case kKeyNameMatch:
            return L"lpKeyNameMatch";
        case kValueNameMatch:
            return L"lpValNameMatch";
        case kValueDataMatch:
            return L"lpValDataMatch";
        case kNoMatch:
            break;
    }
    return L"";
}

}  // namespace

u32 AllocateValueBuffers(ValueBuffers* buffers) {
    buffers->name = AllocateBlock(kValueNameUnits * sizeof(wchar_t));
    if (!buffers->name) return REPORT("Not enough memory.");
    // Without this block every value's data is queried by name.
    buffers->data = AllocateBlock(kEnumeratedDataBytes + kTerminatorBytes);
    return 0;
}

u32 ReadValueHits(HKEY key, const SearchPatterns* searches, u32 readers, const ValueBuffers& buffers, bool report,
                  ValueHits* hits, bool* failed) {
    hits->byName = 0;
    hits->byData = 0;
    *failed = false;
    u32 nameReaders = 0, dataReaders = 0;
    for (u32 left = readers; left; left &= left - 1) {
        int i = __builtin_ctz(left);
        if (searches[i].valueName) nameReaders |= SearchBit(i);
        if (searches[i].valueData) dataReaders |= SearchBit(i);
    }
    wchar_t* name = BlockAs<wchar_t>(buffers.name);
    // Data up to the block's size comes with the enumeration itself, in the
    // same call as the name; longer data, or all of it when the block is
    // missing, is queried by name. Names alone need no data at all.
    BYTE* data = dataReaders ? static_cast<BYTE*>(buffers.data.get()) : nullptr;
    u32 result = 0;
    LONG status;
    for (DWORD i = 0;; ++i) {
        DWORD size = kValueNameUnits, type = REG_NONE, bytes = kEnumeratedDataBytes;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, data ? &type : nullptr, data, data ? &bytes : nullptr);
        if (status == ERROR_SUCCESS && data && bytes <= kEnumeratedDataBytes) {
            TestName(searches, nameReaders, name, hits);
            if (type != REG_SZ) continue;
            memset(data + bytes, 0, kTerminatorBytes);
            TestText(searches, dataReaders, reinterpret_cast<const wchar_t*>(data), hits);
            continue;
        }
        if (status == ERROR_MORE_DATA && data) {
            // The name may not have come with it either: enumerated again, alone.
            size = kValueNameUnits;
            status = win32.RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        }
        if (status != ERROR_SUCCESS) break;
        TestName(searches, nameReaders, name, hits);
        if (dataReaders) result |= QueryValueText(key, name, searches, dataReaders, report, failed, hits);
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReadFailure(report, failed, kValueEnumFailed, status);
    return result;
}

u32 MatchKey(HKEY key, const wchar_t* name, const SearchPatterns& patterns, const ValueBuffers& buffers,
             MatchKind* kind) {
    *kind = kNoMatch;
    if (patterns.keyName && TextContains(name, patterns.keyName)) {
        *kind = kKeyNameMatch;
        return 0;
    }
    if (!patterns.valueName && !patterns.valueData) return 0;
    ValueHits hits;
    bool failed = false;
    u32 result = ReadValueHits(key, &patterns, SearchBit(0), buffers, true, &hits, &failed);
    if (hits.byName)
        *kind = kValueNameMatch;
    else if (hits.byData)
        *kind = kValueDataMatch;
    return result;
}

MatchKind MatchUnopenedKey(LONG openStatus, const wchar_t* name, const SearchPatterns& patterns) {
    bool byName = openStatus == ERROR_ACCESS_DENIED && patterns.keyName && TextContains(name, patterns.keyName);
    return byName ? kKeyNameMatch : kNoMatch;
}

void PrintSearchHeader(const SearchPatterns& patterns, const wchar_t* path) {
    WidePrint(L"Searching for\n    KeyName: '%ls'\n or ValName: '%ls'\n or ValData: '%ls'\n in '%ls'\n",
              Shown(patterns.keyName), Shown(patterns.valueName), Shown(patterns.valueData), path);
}

void PrintMatch(int level, const wchar_t* name, MatchKind kind) {
    PrintIndent(level);
    WidePrint(L"%ls\n", name);
    PrintIndent(level);
    WidePrint(L"^^^ %ls\n", MatchName(kind));
}

// A scan counts each key it finds once, told apart by the key's own kernel
// name: the key is opened again for it, in a scan only.
void CountFoundKeyAt(const FoundKey& found) {
    if (!CountingFinds()) return;
    OwnedKey key;
    if (OpenChildKey(found.parent, found.name, KEY_READ, key.put()) == ERROR_SUCCESS)
        CountFoundKey(key.get());
    else
        CountFoundSubkey(found.parent, found.name);
}

u32 RemoveFound(const FoundKey& found, WipeScope scope, int wipe, int warn, bool underSystem,
                RemovalOutcome* outcome) {
    *outcome = kNotRemoving;
    u32 result = 0;
    CountFoundKeyAt(found);
    if (warn) result |= REPORT("Redundant data found");
    if (!wipe) return result;
    bool removed = false;
    if (WipeKeyAt(found.root, found.path, found.parent, found.name, found.shown, scope, &removed) != 0)
        result |= REPORT("Can not RecurseWipeRegTree: %S", found.shown);
    else
        CountRemoved(kCountedKey);
    *outcome = removed ? kRemoved : kRemovalFailed;
    if (underSystem) g_rebootNeeded = 1;
    return result;
}

u32 RemoveFoundValues(const StartingKey& start, const SearchPatterns& patterns, const ValueBuffers& buffers, int wipe,
                      int warn, bool* removed) {
    *removed = false;
    OwnedKey writable;
    HKEY key = start.key;
    if (wipe) {
        LONG opened =
            OpenChildKey(start.place->parent, start.place->name, KEY_QUERY_VALUE | KEY_SET_VALUE, writable.put());
        if (opened != ERROR_SUCCESS) {
            KeepStatusAsLastError(opened);
            return REPORT("Can not open to remove values: %S", start.path);
        }
        key = writable.get();
    }
    wchar_t* name = BlockAs<wchar_t>(buffers.name);
    u32 result = 0;
    LONG status;
    for (DWORD i = 0;;) {
        DWORD size = kValueNameUnits;
        status = win32.RegEnumValueW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        ValueHits hits = {0, 0};
        bool failed = false;
        if (patterns.valueName) TestName(&patterns, SearchBit(0), name, &hits);
        if (!hits.byName && patterns.valueData)
            result |= QueryValueText(key, name, &patterns, SearchBit(0), true, &failed, &hits);
        if (!hits.byName && !hits.byData) {
            ++i;
            continue;
        }
        WidePrint(L"ValName: %ls\\%ls\n", start.path, name);
        CountFoundValue(key, name);
        if (warn) result |= REPORT("Redundant data found");
        if (!wipe) {
            ++i;
            continue;
        }
        UndoRecordValue(start.root, start.path, key, name);
        LONG deleted = win32.RegDeleteValueW(key, name);
        if (deleted != ERROR_SUCCESS) {
            KeepStatusAsLastError(deleted);
            result |= REPORT("Can not RegDeleteValue (%S\\%S)", start.path, name);
            ++i;
            continue;
        }
        // The next value has moved into this index.
        *removed = true;
        CountRemoved(kCountedValue);
        if (IsUnderSystem(start.path)) g_rebootNeeded = 1;
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReportValueEnumFailure(status);
    return result;
}

u32 SearchStartThatIsALink(OwnedKey& key, const KeyPlace& place, HKEY root, const wchar_t* path, int wipe, int warn) {
    u32 keyCount = 0, valueCount = 0;
    u32 result = ListRegTree(key.get(), path, 0, &keyCount, &valueCount);
    result |= CloseKeyReported(key, path);
    FoundKey found = {place.parent, place.name, path, root, path};
    RemovalOutcome outcome = kNotRemoving;
    return result | RemoveFound(found, kLinkOnly, wipe, warn, IsUnderSystem(path), &outcome);
}
