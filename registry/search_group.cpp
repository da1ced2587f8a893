#include "registry/search_group.h"

#include "run/error_report.h"

namespace {

// ---- The record: what one walk found for the searches of a group ----

// The searches that passed a key's tests, a bit each, by the test they passed.
struct SearchHits {
    u32 byKeyName = 0;
    u32 byValueName = 0;
    u32 byValueData = 0;
};

u32 Passed(const SearchHits& hits) { return hits.byKeyName | hits.byValueName | hits.byValueData; }

MatchKind KindOf(const SearchHits& hits, int search) {
    u32 bit = SearchBit(search);
    if (hits.byKeyName & bit) return kKeyNameMatch;
    if (hits.byValueName & bit) return kValueNameMatch;
    if (hits.byValueData & bit) return kValueDataMatch;
    return kNoMatch;
}

// What the searches learn of a recorded key as they run.
const u32 kGone = 1;         // a search removed it: not there for the searches after it
const u32 kReadLive = 2;     // a search's removal of it failed: the searches after it read it from the registry
const u32 kValuesAgain = 4;  // the walk's reading of its values failed: each search that tests them reads them again

// A key where a search has something to do. Its subkeys that were not
// recorded give no search anything to do.
struct RecordedKey {
    RecordedKey* firstChild;
    RecordedKey* next;
    SearchHits hits;
    LONG openStatus;   // how the walk's open of it ended
    u32 subkeysLeft;   // its subkeys as the walk listed them, less those removed since
    LONG listEnd;      // what ended the walk's list of its subkeys
    u32 flags;
    wchar_t name[1];
};

// The record's keys live in blocks that are freed together.
struct RecordBlock {
    RecordBlock* next;
    size_t used;
};
const size_t kBlockHeaderBytes = (sizeof(RecordBlock) + 7) & ~size_t(7);

struct RecordMemory {
    RecordBlock* blocks = nullptr;
    RecordMemory() = default;
    RecordMemory(const RecordMemory&) = delete;
    RecordMemory& operator=(const RecordMemory&) = delete;
    ~RecordMemory() { Release(); }
    void Release() {
        while (blocks) {
            RecordBlock* next = blocks->next;
            win32.free(blocks);
            blocks = next;
        }
    }
};

// Null when no block can be had. A key's record is far smaller than a block.
void* TakeRecordBytes(RecordMemory* memory, size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);
    RecordBlock* block = memory->blocks;
    if (!block || kRecordBlockBytes - block->used < bytes) {
        block = static_cast<RecordBlock*>(win32.malloc(kRecordBlockBytes));
        if (!block) return nullptr;
        block->next = memory->blocks;
        block->used = kBlockHeaderBytes;
        memory->blocks = block;
    }
    void* at = reinterpret_cast<char*>(block) + block->used;
    block->used += bytes;
    return at;
}

// ---- The walk that makes the record ----

struct Walk {
    const SearchRow* rows;
    SearchPatterns patterns[kMaxSearchGroup];
    int wipe;
    const ValueBuffers* values;
    RecordMemory* memory;
    bool outOfMemory;
};

// The subkeys one list of the walk met.
struct Listing {
    RecordedKey* first = nullptr;
    RecordedKey* last = nullptr;
    u32 count = 0;
    LONG end = ERROR_NO_MORE_ITEMS;
};

// The searches that look below a key, of those that come to it: those that
// do not remove it. In wipe mode the first search that passed its tests
// removes it; the searches after that one find it gone, or read it from the
// registry where the removal failed.
u32 SearchesBelow(u32 comingTo, u32 passed, int wipe) {
    u32 notPassed = comingTo & ~passed;
    if (!wipe || !passed) return notPassed;
    u32 firstPassed = passed & (~passed + 1);
    return notPassed & (firstPassed - 1);
}

// The tests of an open key for `searches`: key names at once, values in one
// reading for all that test them, reporting nothing. The starting key (`name`
// null) is tested by each search under its own path. *valuesAgain: the
// reading failed; each search reads again in its turn and reports its failures.
void TestKey(const Walk& walk, HKEY key, const wchar_t* name, u32 searches, SearchHits* hits, bool* valuesAgain) {
    *hits = SearchHits();
    *valuesAgain = false;
    u32 readers = 0;
    for (u32 left = searches; left; left &= left - 1) {
        int i = __builtin_ctz(left);
        const SearchPatterns& patterns = walk.patterns[i];
        const wchar_t* tested = name ? name : walk.rows[i].path;
        if (patterns.keyName && TextContains(tested, patterns.keyName))
            hits->byKeyName |= SearchBit(i);
        else if (patterns.valueName || patterns.valueData)
            readers |= SearchBit(i);
    }
    if (!readers) return;
    ValueHits found;
    ReadValueHits(key, walk.patterns, readers, *walk.values, false, &found, valuesAgain);
    hits->byValueName = found.byName;
    hits->byValueData = found.byData & ~found.byName;
}

RecordedKey* Record(Walk& walk, const wchar_t* name, LONG openStatus, const SearchHits& hits, bool valuesAgain,
                    const Listing& subkeys) {
    size_t units = wcslen(name) + 1;
    RecordedKey* key =
        static_cast<RecordedKey*>(TakeRecordBytes(walk.memory, sizeof(RecordedKey) + units * sizeof(wchar_t)));
    if (!key) {
        walk.outOfMemory = true;
        return nullptr;
    }
    key->firstChild = subkeys.first;
    key->next = nullptr;
    key->hits = hits;
    key->openStatus = openStatus;
    key->subkeysLeft = subkeys.count;
    key->listEnd = subkeys.end;
    key->flags = valuesAgain ? kValuesAgain : 0;
    memcpy(key->name, name, units * sizeof(wchar_t));
    return key;
}

void WalkKey(Walk& walk, HKEY parent, const wchar_t* name, u32 comingTo, RecordedKey** recorded);

// Lists the subkeys of an open key for the searches that look below it. A
// link below the starting key is never looked below: it lists as empty.
void WalkSubkeys(Walk& walk, HKEY key, bool startingKey, u32 searchesBelow, Listing* subkeys) {
    if (!searchesBelow) return;
    wchar_t child[kKeyNameUnits];
    for (DWORD i = 0;; ++i) {
        DWORD size = kKeyNameUnits;
        LONG status = win32.RegEnumKeyExW(key, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            subkeys->end = status;
            return;
        }
        if (i == 0 && !startingKey && IsRegistryLink(key)) return;
        ++subkeys->count;
        RecordedKey* recorded = nullptr;
        WalkKey(walk, key, child, searchesBelow, &recorded);
        if (walk.outOfMemory) return;
        if (!recorded) continue;
        if (subkeys->last)
            subkeys->last->next = recorded;
        else
            subkeys->first = recorded;
        subkeys->last = recorded;
    }
}

// The key parent\name for the searches that come to it. *recorded: its
// record, when one of them has something to do there.
void WalkKey(Walk& walk, HKEY parent, const wchar_t* name, u32 comingTo, RecordedKey** recorded) {
    OwnedKey key;
    LONG opened = OpenChildKey(parent, name, KEY_READ, key.put());
    if (opened != ERROR_SUCCESS) {
        *recorded = Record(walk, name, opened, SearchHits(), false, Listing());
        return;
    }
    SearchHits hits;
    bool valuesAgain = false;
    TestKey(walk, key.get(), name, comingTo, &hits, &valuesAgain);
    u32 below = SearchesBelow(comingTo, Passed(hits), walk.wipe);
    Listing subkeys;
    WalkSubkeys(walk, key.get(), false, below, &subkeys);
    if (walk.outOfMemory) return;
    bool hasSubkeys = subkeys.count > 0 || subkeys.end != ERROR_NO_MORE_ITEMS;
    if (Passed(hits) || valuesAgain || (below && hasSubkeys))
        *recorded = Record(walk, name, ERROR_SUCCESS, hits, valuesAgain, subkeys);
}

// The record of the tree below the open starting key for `searches`; null
// when memory for it ran out.
RecordedKey* RecordTree(const SearchRow* rows, int count, int wipe, const ValueBuffers& values, RecordMemory* memory,
                        HKEY start, u32 searches) {
    Walk walk;
    walk.rows = rows;
    for (int i = 0; i < count; ++i) walk.patterns[i] = rows[i].patterns;
    walk.wipe = wipe;
    walk.values = &values;
    walk.memory = memory;
    walk.outOfMemory = false;
    SearchHits hits;
    bool valuesAgain = false;
    TestKey(walk, start, nullptr, searches, &hits, &valuesAgain);
    Listing subkeys;
    WalkSubkeys(walk, start, true, searches, &subkeys);
    RecordedKey* record =
        walk.outOfMemory ? nullptr : Record(walk, L"", ERROR_SUCCESS, hits, valuesAgain, subkeys);
    if (!record) memory->Release();
    return record;
}

// ---- One search's run, from the record or from the registry ----

// The full path under the root of the key at hand, for whatever records what
// a removal takes. A key's full name stays within the registry's limit of
// 32767 units, so it always fits.
const size_t kFullPathUnits = 32768;
struct KeyPathText {
    OwnedBlock block;
    size_t length = 0;
};

void SetPath(KeyPathText* path, const wchar_t* start) {
    wchar_t* text = BlockAs<wchar_t>(path->block);
    size_t units = wcslen(start);
    if (units > kFullPathUnits - 1) units = kFullPathUnits - 1;
    memcpy(text, start, units * sizeof(wchar_t));
    text[units] = L'\0';
    path->length = units;
}

// Appends "\name"; returns the length to go back to.
size_t PushPath(KeyPathText* path, const wchar_t* name) {
    size_t mark = path->length;
    wchar_t* text = BlockAs<wchar_t>(path->block);
    if (path->length < kFullPathUnits - 1) text[path->length++] = L'\\';
    for (; *name && path->length < kFullPathUnits - 1; ++name) text[path->length++] = *name;
    text[path->length] = L'\0';
    return mark;
}

void PopPath(KeyPathText* path, size_t mark) {
    path->length = mark;
    BlockAs<wchar_t>(path->block)[mark] = L'\0';
}

struct SearchRun {
    HKEY root;
    int search;  // its bit in the record
    SearchPatterns patterns;
    int wipe;
    int warn;
    bool underSystem;
    const ValueBuffers* values;
    KeyPathText* path;
    const KeyPlace* start;
    const SearchRow* rows;  // the group's, this search's among them
    int count;
};

u32 RemoveFoundKey(SearchRun& run, HKEY parent, const wchar_t* name, RemovalOutcome* outcome) {
    FoundKey found = {parent, name, name, run.root, BlockAs<wchar_t>(run.path->block)};
    return RemoveFound(found, kWholeTree, run.wipe, run.warn, run.underSystem, outcome);
}

// A key below the starting key that did not open: found by its name when it
// refuses us (and then removed whole in wipe mode, taken over first), else
// said, and for a scan a place it could not look, unless a search after this
// one finds it by its name.
u32 SearchUnopenedKey(SearchRun& run, HKEY parent, const wchar_t* name, LONG status, int level,
                      RemovalOutcome* outcome) {
    MatchKind kind = MatchUnopenedKey(status, name, run.patterns);
    if (kind == kNoMatch) {
        PrintIndent(level);
        PrintUnopenedKey(status, name);
        for (int later = run.search + 1; later < run.count; ++later)
            if (MatchUnopenedKey(status, name, run.rows[later].patterns) != kNoMatch) return 0;
        return CouldNotOpen(status, parent, name, BlockAs<wchar_t>(run.path->block));
    }
    PrintMatch(level, name, kind);
    return RemoveFoundKey(run, parent, name, outcome);
}

u32 SearchLiveSubkeys(SearchRun& run, HKEY key, const wchar_t* name, int level, bool namePrinted);

// The search at the key parent\name read from the registry, as a search alone
// reads it, with everything below it.
u32 SearchLiveKey(SearchRun& run, HKEY parent, const wchar_t* name, int level, RemovalOutcome* outcome) {
    *outcome = kNotRemoving;
    OwnedKey key;
    LONG opened = OpenChildKey(parent, name, KEY_READ, key.put());
    if (opened != ERROR_SUCCESS) return SearchUnopenedKey(run, parent, name, opened, level, outcome);
    MatchKind kind = kNoMatch;
    u32 result = MatchKey(key.get(), name, run.patterns, *run.values, &kind);
    if (kind == kNoMatch) {
        result |= SearchLiveSubkeys(run, key.get(), name, level, false);
        return result | CloseKeyReported(key, name);
    }
    PrintMatch(level, name, kind);
    result |= CloseKeyReported(key, name);
    return result | RemoveFoundKey(run, parent, name, outcome);
}

// The subkeys of a key that the search does not remove, listed as it goes. A
// removed child's next sibling moves into its index; any other child is
// stepped over. The key's own line comes before its first child, unless
// `namePrinted` says it has been printed already.
u32 SearchLiveSubkeys(SearchRun& run, HKEY key, const wchar_t* name, int level, bool namePrinted) {
    OwnedBlock buffer = AllocateBlock(kKeyNameUnits * sizeof(wchar_t));
    if (!buffer) return REPORT("Not enough memory.");
    wchar_t* child = BlockAs<wchar_t>(buffer);
    u32 result = 0;
    LONG status;
    bool first = true;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (first) {
            // A link below the starting key is never looked below.
            if (level > 0 && IsRegistryLink(key)) {
                status = ERROR_NO_MORE_ITEMS;
                break;
            }
            if (!namePrinted) {
                PrintIndent(level);
                WidePrint(L"%ls\n", name);
            }
            first = false;
        }
        size_t mark = PushPath(run.path, child);
        RemovalOutcome outcome = kNotRemoving;
        result |= SearchLiveKey(run, key, child, level + 1, &outcome);
        PopPath(run.path, mark);
        if (outcome != kRemoved) ++i;
    }
    if (status != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(status);
    return result;
}

// A key on the search's way down through the record, opened the first time
// the search needs its handle.
struct KeyOnTheWay {
    KeyOnTheWay* parent;
    const wchar_t* name;
    HKEY handle;  // given for the starting key
    OwnedKey opened;
    LONG openStatus = ERROR_SUCCESS;
};

HKEY HandleOf(KeyOnTheWay* key) {
    if (key->handle || key->openStatus != ERROR_SUCCESS) return key->handle;
    HKEY parent = HandleOf(key->parent);
    key->openStatus = parent ? OpenChildKey(parent, key->name, KEY_READ, key->opened.put()) : ERROR_INVALID_HANDLE;
    key->handle = key->opened.get();
    return key->handle;
}

u32 CloseOnTheWay(KeyOnTheWay* key) { return key->opened ? CloseKeyReported(key->opened, key->name) : 0; }

u32 RunRecordedSubkeys(SearchRun& run, KeyOnTheWay* key, RecordedKey* recorded, int level, bool namePrinted);

// The search at a recorded key below its starting key: its lines, and its
// removal or its search below.
u32 RunRecordedKey(SearchRun& run, KeyOnTheWay* parent, RecordedKey* recorded, int level, RemovalOutcome* outcome) {
    *outcome = kNotRemoving;
    if (recorded->flags & kReadLive) return SearchLiveKey(run, HandleOf(parent), recorded->name, level, outcome);
    if (recorded->openStatus != ERROR_SUCCESS)
        return SearchUnopenedKey(run, HandleOf(parent), recorded->name, recorded->openStatus, level, outcome);
    KeyOnTheWay key = {parent, recorded->name, nullptr};
    MatchKind kind = KindOf(recorded->hits, run.search);
    u32 result = 0;
    if (recorded->flags & kValuesAgain) {
        if (!HandleOf(&key))
            return SearchUnopenedKey(run, HandleOf(parent), recorded->name, key.openStatus, level, outcome);
        result = MatchKey(key.handle, recorded->name, run.patterns, *run.values, &kind);
    }
    if (kind == kNoMatch) {
        result |= RunRecordedSubkeys(run, &key, recorded, level, false);
        return result | CloseOnTheWay(&key);
    }
    PrintMatch(level, recorded->name, kind);
    result |= CloseOnTheWay(&key);
    return result | RemoveFoundKey(run, HandleOf(parent), recorded->name, outcome);
}

// The recorded subkeys of a key that the search does not remove, in the
// order the walk listed them. The key's own line comes before them while it
// has subkeys, unless `namePrinted` says it has been printed already.
u32 RunRecordedSubkeys(SearchRun& run, KeyOnTheWay* key, RecordedKey* recorded, int level, bool namePrinted) {
    if (recorded->subkeysLeft > 0 && !namePrinted) {
        PrintIndent(level);
        WidePrint(L"%ls\n", key->name);
    }
    u32 result = 0;
    for (RecordedKey* child = recorded->firstChild; child; child = child->next) {
        if (child->flags & kGone) continue;
        size_t mark = PushPath(run.path, child->name);
        RemovalOutcome outcome = kNotRemoving;
        result |= RunRecordedKey(run, key, child, level + 1, &outcome);
        PopPath(run.path, mark);
        if (outcome == kRemoved) {
            child->flags |= kGone;
            --recorded->subkeysLeft;
        } else if (outcome == kRemovalFailed) {
            child->flags |= kReadLive;
        }
    }
    if (recorded->listEnd != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(recorded->listEnd);
    return result;
}

// One search below its open starting key: from the record when there is one,
// else from the registry.
u32 RunSearch(SearchRun& run, HKEY start, const wchar_t* path, RecordedKey* record) {
    MatchKind kind = kNoMatch;
    u32 result = 0;
    if (!record || (record->flags & kValuesAgain))
        result = MatchKey(start, path, run.patterns, *run.values, &kind);
    else
        kind = KindOf(record->hits, run.search);
    if (kind != kNoMatch) PrintMatch(0, path, kind);
    if (kind != kNoMatch && (run.patterns.valueName || run.patterns.valueData)) {
        bool removed = false;
        result |= RemoveFoundValues({start, run.start, run.root, path}, run.patterns, *run.values, run.wipe, run.warn,
                                    &removed);
        // The searches after this one read the starting key's values again.
        if (removed && record) record->flags |= kValuesAgain;
    }
    if (!record) return result | SearchLiveSubkeys(run, start, path, 0, kind != kNoMatch);
    KeyOnTheWay key = {nullptr, path, start};
    return result | RunRecordedSubkeys(run, &key, record, 0, kind != kNoMatch);
}

// The searches after `search` in a group of `count`, and itself.
u32 SearchesFrom(int search, int count) {
    u32 all = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1;
    return all & ~(SearchBit(search) - 1);
}

u32 RunGroup(HKEY root, const SearchRow* rows, int count, int wipe, int warn) {
    ValueBuffers values;
    u32 result = AllocateValueBuffers(&values);
    if (result != 0) return result;
    KeyPathText path;
    path.block = AllocateBlock(kFullPathUnits * sizeof(wchar_t));
    if (!path.block) return REPORT("Not enough memory.");

    RecordMemory memory;
    RecordedKey* record = nullptr;
    bool walked = false;
    for (int search = 0; search < count; ++search) {
        const SearchRow& row = rows[search];
        KeyPlace place;
        OwnedKey key;
        LONG status = ERROR_SUCCESS;
        u32 opened = OpenStartingKey(root, row.path, KEY_READ, &place, &key, &status);
        result |= opened;
        if (opened == 0 && status != ERROR_SUCCESS) {
            PrintUnopenedKey(status, row.path);
            result |= CouldNotOpen(status, place.parent, place.name, row.path);
        }
        if (key) {
            PrintSearchHeader(row.patterns, row.path);
            if (IsRegistryLink(key.get())) {
                result |= SearchStartThatIsALink(key, place, root, row.path, wipe, warn);
            } else {
                // One search alone has no use for a record: it reads the registry as it goes.
                if (!walked && count > 1) {
                    walked = true;
                    record = RecordTree(rows, count, wipe, values, &memory, key.get(), SearchesFrom(search, count));
                }
                SetPath(&path, row.path);
                SearchRun run = {root, search, row.patterns, wipe, warn, IsUnderSystem(row.path),
                                 &values, &path, &place, rows, count};
                result |= RunSearch(run, key.get(), row.path, record);
                result |= CloseKeyReported(key, row.path);
            }
        }
        WidePrint(L"\n");
    }
    return result;
}

}  // namespace

u32 SearchRegTreeGroup(HKEY root, const SearchRow* rows, int count, int wipe, int warn) {
    u32 result = 0;
    for (int first = 0; first < count; first += kMaxSearchGroup) {
        int size = count - first < kMaxSearchGroup ? count - first : kMaxSearchGroup;
        result |= RunGroup(root, rows + first, size, wipe, warn);
    }
    return result;
}

u32 SearchRegTree(HKEY root, const wchar_t* path, const wchar_t* lpKeyNameMatch, const wchar_t* lpValNameMatch,
                  const wchar_t* lpValDataMatch, int wipe, int warn) {
    SearchRow row = {path, {lpKeyNameMatch, lpValNameMatch, lpValDataMatch}};
    return SearchRegTreeGroup(root, &row, 1, wipe, warn);
}
