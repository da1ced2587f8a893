#include "registry/search_group.h"

#include "run/error_report.h"

namespace {

// What the walk keeps of a key for the searches after the live one.
struct KeyHits {
    u32 byKeyName = 0;  // the searches whose test the key passed, by test
    u32 byValueName = 0;
    u32 byValueData = 0;
};

// Node flags.
const u32 kGone = 1;             // removed by a search: not there for the searches after it
const u32 kReadLive = 2;         // never read, or changed since: each search that comes to it reads it live
const u32 kValuesAgain = 4;      // reading its values failed: each search that tests them reads them again
const u32 kLinkWithSubkeys = 8;  // a registry link that has subkeys: never searched below

// A kept key. Its subkeys that were not kept print nothing for any later search.
struct Node {
    Node* firstChild;
    Node* next;
    KeyHits hits;
    u32 subkeysLeft;  // its subkeys, less those removed since
    LONG enumStatus;  // what ended the enumeration of its subkeys
    u32 flags;
    wchar_t name[1];
};

// Kept keys live in blocks that are freed together.
struct ArenaBlock {
    ArenaBlock* next;
    size_t used;
    size_t size;
};
const size_t kArenaBlockBytes = 64 * 1024;
const size_t kArenaHeaderBytes = (sizeof(ArenaBlock) + 7) & ~size_t(7);

struct Arena;
void ReleaseArena(Arena* arena);

struct Arena {
    ArenaBlock* blocks = nullptr;
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { ReleaseArena(this); }
};

void ReleaseArena(Arena* arena) {
    while (arena->blocks) {
        ArenaBlock* next = arena->blocks->next;
        win32.free(arena->blocks);
        arena->blocks = next;
    }
}

void* ArenaAllocate(Arena* arena, size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);
    ArenaBlock* block = arena->blocks;
    if (!block || block->size - block->used < bytes) {
        size_t size = kArenaHeaderBytes + bytes > kArenaBlockBytes ? kArenaHeaderBytes + bytes : kArenaBlockBytes;
        block = static_cast<ArenaBlock*>(win32.malloc(size));
        if (!block) return nullptr;
        block->next = arena->blocks;
        block->used = kArenaHeaderBytes;
        block->size = size;
        arena->blocks = block;
    }
    void* at = reinterpret_cast<char*>(block) + block->used;
    block->used += bytes;
    return at;
}

// The full path under the root of the key at hand. A key's full name stays
// within the registry's limit of 32767 units, so it always fits.
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

struct GroupWalk {
    HKEY root = nullptr;
    const SearchRow* rows = nullptr;
    SearchPatterns patterns[kMaxSearchGroup];
    int wipe = 0;
    int warn = 0;
    bool underSystem = false;
    ValueBuffers values;
    KeyPathText path;
    int live = 0;  // the search that walks, or runs from what was kept, now
    Arena arena;
    bool keepingFailed = false;  // a key could not be kept: the later searches walk again
};

MatchKind KindOf(const KeyHits& hits, int search) {
    u32 bit = SearchBit(search);
    if (hits.byKeyName & bit) return kKeyNameMatch;
    if (hits.byValueName & bit) return kValueNameMatch;
    if (hits.byValueData & bit) return kValueDataMatch;
    return kNoMatch;
}

u32 Matched(const KeyHits& hits) { return hits.byKeyName | hits.byValueName | hits.byValueData; }

// The searches after `search` in a group of `count`.
u32 LaterSearches(int search, int count) {
    u32 all = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1;
    u32 upToSearch = search >= 31 ? 0xFFFFFFFFu : (2u << search) - 1;
    return all & ~upToSearch;
}

// The tests of the key at hand for `searches` (the starting key is tested by
// each search under its own path). `liveTests`: the live search is among them,
// and the failures of its reading are reported as met.
u32 TestKey(GroupWalk& w, HKEY key, const wchar_t* name, int level, u32 searches, bool liveTests, KeyHits* hits,
            bool* valuesAgain) {
    *hits = KeyHits();
    *valuesAgain = false;
    u32 readers = 0;
    for (u32 left = searches; left; left &= left - 1) {
        int i = __builtin_ctz(left);
        const SearchPatterns& patterns = w.patterns[i];
        const wchar_t* tested = level == 0 ? w.rows[i].path : name;
        if (patterns.keyName && TextContains(tested, patterns.keyName))
            hits->byKeyName |= SearchBit(i);
        else if (patterns.valueName || patterns.valueData)
            readers |= SearchBit(i);
    }
    if (!readers) return 0;
    u32 liveBit = liveTests ? SearchBit(w.live) : 0;
    ValueHits found;
    bool failed = false;
    u32 result = ReadValueHits(key, w.patterns, readers, w.values, readers == liveBit, &found, &failed);
    if (failed && readers != liveBit) {
        // Each search reports the failures of its reading itself: the live one
        // reads again now, alone; the later ones will, in their turn.
        if (readers & liveBit) {
            ValueHits own;
            bool ownFailed = false;
            result |= ReadValueHits(key, w.patterns, liveBit, w.values, true, &own, &ownFailed);
            found.byName = (found.byName & ~liveBit) | own.byName;
            found.byData = (found.byData & ~liveBit) | own.byData;
        }
        *valuesAgain = (readers & ~liveBit) != 0;
    }
    hits->byValueName = found.byName;
    hits->byValueData = found.byData & ~found.byName;
    return result;
}

// The subkeys one enumeration met: those kept, how many are still there, how it ended.
struct Subkeys {
    Node* first = nullptr;
    Node* last = nullptr;
    u32 count = 0;
    LONG status = ERROR_NO_MORE_ITEMS;
    bool link = false;
};

Node* KeepNode(GroupWalk& w, const wchar_t* name, u32 flags) {
    size_t units = wcslen(name) + 1;
    Node* node = static_cast<Node*>(ArenaAllocate(&w.arena, sizeof(Node) + units * sizeof(wchar_t)));
    if (!node) {
        w.keepingFailed = true;
        return nullptr;
    }
    node->firstChild = nullptr;
    node->next = nullptr;
    node->hits = KeyHits();
    node->subkeysLeft = 0;
    node->enumStatus = ERROR_NO_MORE_ITEMS;
    node->flags = flags;
    memcpy(node->name, name, units * sizeof(wchar_t));
    return node;
}

Node* KeepKey(GroupWalk& w, const wchar_t* name, u32 flags, const KeyHits& hits, u32 later, const Subkeys& subkeys) {
    Node* node = KeepNode(w, name, flags | (subkeys.link ? kLinkWithSubkeys : 0));
    if (!node) return nullptr;
    node->hits.byKeyName = hits.byKeyName & later;
    node->hits.byValueName = hits.byValueName & later;
    node->hits.byValueData = hits.byValueData & later;
    node->firstChild = subkeys.first;
    node->subkeysLeft = subkeys.count;
    node->enumStatus = subkeys.status;
    return node;
}

void Append(Subkeys* subkeys, Node* node) {
    if (!node) return;
    if (subkeys->last)
        subkeys->last->next = node;
    else
        subkeys->first = node;
    subkeys->last = node;
}

u32 WalkSubkeys(GroupWalk& w, HKEY key, const wchar_t* name, int level, bool live, u32 later, bool namePrinted,
                Subkeys* subkeys);

// The key parent\name, open as `key`, for the live search when `live` and for
// the later searches in `later`. *kept: its node, when a later search will
// print something there or look below it. *removalTried: the live search tried
// to remove it (its caller then sees whether it is gone, and keeps it if not).
u32 WalkKey(GroupWalk& w, HKEY parent, OwnedKey& key, const wchar_t* name, int level, bool live, u32 later,
            Node** kept, bool* removalTried) {
    *kept = nullptr;
    *removalTried = false;
    KeyHits hits;
    bool valuesAgain = false;
    u32 result = TestKey(w, key.get(), name, level, later | (live ? SearchBit(w.live) : 0), live, &hits, &valuesAgain);
    MatchKind liveKind = live ? KindOf(hits, w.live) : kNoMatch;
    u32 below = later & ~Matched(hits);
    Subkeys subkeys;
    if (liveKind != kNoMatch) {
        PrintMatch(level, name, liveKind);
        // A key the live search only lists is still there for the others to look below.
        if (!w.wipe) result |= WalkSubkeys(w, key.get(), name, level, false, below, false, &subkeys);
        result |= CloseKeyReported(key, name);
        FoundKey found = {parent, name, name, w.root, BlockAs<wchar_t>(w.path.block)};
        result |= RemoveFound(found, kWholeTree, w.wipe, w.warn, w.underSystem, removalTried);
        if (*removalTried) return result;
    } else {
        result |= WalkSubkeys(w, key.get(), name, level, live, below, false, &subkeys);
        result |= CloseKeyReported(key, name);
    }
    bool hasSubkeys = subkeys.count > 0 || subkeys.status != ERROR_NO_MORE_ITEMS;
    if ((later & Matched(hits)) || valuesAgain || (below && hasSubkeys && !subkeys.link))
        *kept = KeepKey(w, name, valuesAgain ? kValuesAgain : 0, hits, later, subkeys);
    return result;
}

// Searches the subkeys of a key that is not removed, for the live search when
// `live` and for the later searches in `later`. A removed child's next sibling
// moves into its index; any other child is stepped over, so each subkey is
// visited once. The key's own line comes before its first child, unless
// `namePrinted` says it has been printed already.
u32 WalkSubkeys(GroupWalk& w, HKEY key, const wchar_t* name, int level, bool live, u32 later, bool namePrinted,
                Subkeys* subkeys) {
    if (!live && !later) return 0;
    OwnedBlock buffer = AllocateBlock(2 * kKeyNameUnits * sizeof(wchar_t));
    if (!buffer) {
        if (later) w.keepingFailed = true;
        return live ? REPORT("Not enough memory.") : 0;
    }
    wchar_t* child = BlockAs<wchar_t>(buffer);
    wchar_t* previous = child + kKeyNameUnits;

    u32 result = 0;
    LONG status;
    bool first = true;
    bool indexKept = false;
    for (DWORD i = 0;;) {
        DWORD size = kKeyNameUnits;
        status = win32.RegEnumKeyExW(key, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        if (indexKept && wcscmp(child, previous) == 0) {
            // The child looked removed but is still listed here: never visit
            // it twice; the later searches read it as it now is.
            indexKept = false;
            ++subkeys->count;
            if (later) Append(subkeys, KeepNode(w, child, kReadLive));
            ++i;
            continue;
        }
        if (first) {
            // A link below the starting key is never descended into (the
            // starting key is no link once its subkeys are searched).
            if (level > 0 && IsRegistryLink(key)) {
                subkeys->link = true;
                status = ERROR_NO_MORE_ITEMS;
                break;
            }
            if (live && !namePrinted) {
                PrintIndent(level);
                WidePrint(L"%ls\n", name);
            }
            first = false;
        }
        ++subkeys->count;
        size_t mark = PushPath(&w.path, child);
        Node* kept = nullptr;
        bool removalTried = false;
        OwnedKey childKey;
        LONG opened = OpenChildKey(key, child, KEY_READ, childKey.put());
        if (opened != ERROR_SUCCESS) {
            if (live) {
                PrintIndent(level + 1);
                PrintUnopenedKey(opened, child);
            }
            if (later) kept = KeepNode(w, child, kReadLive);
        } else {
            result |= WalkKey(w, key, childKey, child, level + 1, live, later, &kept, &removalTried);
        }
        PopPath(&w.path, mark);

        indexKept = false;
        if (!removalTried) {
            // Nothing tried to remove this child (in list mode nothing ever
            // does): it is still at this index, so there is no need to reopen it.
            Append(subkeys, kept);
            ++i;
            continue;
        }
        OwnedKey reopened;
        LONG reopen = OpenChildKey(key, child, KEY_READ, reopened.put());
        if (reopen == ERROR_SUCCESS || reopen == ERROR_ACCESS_DENIED) {
            // Still there (perhaps no longer openable): stepped over, and read
            // again by each later search.
            if (reopen == ERROR_SUCCESS) result |= CloseKeyReported(reopened, child);
            if (later) Append(subkeys, KeepNode(w, child, kReadLive));
            ++i;
        } else {
            // Removed: the next sibling has moved into this index.
            wcscpy(previous, child);
            indexKept = true;
            --subkeys->count;
        }
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        if (live) result |= ReportSubkeyEnumFailure(status);
        subkeys->status = status;
    }
    return result;
}

// The starting key, open as `key`, for the live search and the searches in
// `later`: *start is what is kept of its tree for them.
u32 WalkStart(GroupWalk& w, HKEY key, const wchar_t* path, u32 later, Node** start) {
    KeyHits hits;
    bool valuesAgain = false;
    u32 result = TestKey(w, key, path, 0, later | SearchBit(w.live), true, &hits, &valuesAgain);
    MatchKind kind = KindOf(hits, w.live);
    if (kind != kNoMatch) PrintMatch(0, path, kind);
    Subkeys subkeys;
    result |= WalkSubkeys(w, key, path, 0, true, later, kind != kNoMatch, &subkeys);
    if (later) *start = KeepKey(w, L"", valuesAgain ? kValuesAgain : 0, hits, later, subkeys);
    return result;
}

// The test the search at hand passes at a kept key: as the walk found it, or
// read again where reading the values failed.
u32 KeptTest(GroupWalk& w, HKEY key, const Node* node, const wchar_t* name, int level, MatchKind* kind) {
    if (!(node->flags & kValuesAgain)) {
        *kind = KindOf(node->hits, w.live);
        return 0;
    }
    KeyHits hits;
    bool valuesAgain = false;
    u32 result = TestKey(w, key, name, level, SearchBit(w.live), true, &hits, &valuesAgain);
    *kind = KindOf(hits, w.live);
    return result;
}

u32 ReplayKey(GroupWalk& w, HKEY parent, OwnedKey& key, Node* node, int level, bool* removalTried);

bool HasKeptSubkeys(const Node* node) {
    for (const Node* child = node->firstChild; child; child = child->next)
        if (!(child->flags & kGone)) return true;
    return false;
}

// True when the search at hand has to open the kept key: to read it, to
// remove it, or to look below it.
bool NeedsKey(const GroupWalk& w, const Node* node) {
    return (node->flags & (kReadLive | kValuesAgain)) || KindOf(node->hits, w.live) != kNoMatch ||
           HasKeptSubkeys(node);
}

// The search at hand below a kept key that it does not remove, from what was
// kept: its kept subkeys in their order, each opened live where it has
// something to do there (`key` may then be null).
u32 ReplaySubkeys(GroupWalk& w, HKEY key, Node* node, const wchar_t* name, int level, bool namePrinted) {
    if (node->flags & kLinkWithSubkeys) return 0;
    if (node->subkeysLeft > 0 && !namePrinted) {
        PrintIndent(level);
        WidePrint(L"%ls\n", name);
    }
    u32 result = 0;
    for (Node* child = node->firstChild; child; child = child->next) {
        if (child->flags & kGone) continue;
        if (!NeedsKey(w, child)) {
            // Nothing there but perhaps its line: as it was read, unchanged since.
            result |= ReplaySubkeys(w, nullptr, child, child->name, level + 1, false);
            continue;
        }
        size_t mark = PushPath(&w.path, child->name);
        bool removalTried = false;
        OwnedKey childKey;
        LONG opened = OpenChildKey(key, child->name, KEY_READ, childKey.put());
        if (opened != ERROR_SUCCESS) {
            PrintIndent(level + 1);
            PrintUnopenedKey(opened, child->name);
        } else if (child->flags & kReadLive) {
            Node* none = nullptr;
            result |= WalkKey(w, key, childKey, child->name, level + 1, true, 0, &none, &removalTried);
        } else {
            result |= ReplayKey(w, key, childKey, child, level + 1, &removalTried);
        }
        PopPath(&w.path, mark);
        if (!removalTried) continue;
        OwnedKey reopened;
        LONG reopen = OpenChildKey(key, child->name, KEY_READ, reopened.put());
        if (reopen == ERROR_SUCCESS || reopen == ERROR_ACCESS_DENIED) {
            if (reopen == ERROR_SUCCESS) result |= CloseKeyReported(reopened, child->name);
            child->flags |= kReadLive;
        } else {
            child->flags |= kGone;
            --node->subkeysLeft;
        }
    }
    if (node->enumStatus != ERROR_NO_MORE_ITEMS) result |= ReportSubkeyEnumFailure(node->enumStatus);
    return result;
}

u32 ReplayKey(GroupWalk& w, HKEY parent, OwnedKey& key, Node* node, int level, bool* removalTried) {
    *removalTried = false;
    MatchKind kind = kNoMatch;
    u32 result = KeptTest(w, key.get(), node, node->name, level, &kind);
    if (kind == kNoMatch) {
        result |= ReplaySubkeys(w, key.get(), node, node->name, level, false);
        return result | CloseKeyReported(key, node->name);
    }
    PrintMatch(level, node->name, kind);
    result |= CloseKeyReported(key, node->name);
    FoundKey found = {parent, node->name, node->name, w.root, BlockAs<wchar_t>(w.path.block)};
    return result | RemoveFound(found, kWholeTree, w.wipe, w.warn, w.underSystem, removalTried);
}

u32 ReplayStart(GroupWalk& w, HKEY key, Node* start, const wchar_t* path) {
    MatchKind kind = kNoMatch;
    u32 result = KeptTest(w, key, start, path, 0, &kind);
    if (kind != kNoMatch) PrintMatch(0, path, kind);
    return result | ReplaySubkeys(w, key, start, path, 0, kind != kNoMatch);
}

u32 RunGroup(HKEY root, const SearchRow* rows, int count, int wipe, int warn) {
    GroupWalk w;
    w.root = root;
    w.rows = rows;
    w.wipe = wipe;
    w.warn = warn;
    for (int i = 0; i < count; ++i) w.patterns[i] = rows[i].patterns;
    u32 result = AllocateValueBuffers(&w.values);
    if (result != 0) return result;
    w.path.block = AllocateBlock(kFullPathUnits * sizeof(wchar_t));
    if (!w.path.block) return REPORT("Not enough memory.");

    Node* kept = nullptr;
    u32 served = 0;  // the searches that run from what was kept
    for (int search = 0; search < count; ++search) {
        const wchar_t* path = rows[search].path;
        KeyPlace place;
        OwnedKey key;
        LONG status = ERROR_SUCCESS;
        u32 opened = OpenStartingKey(root, path, KEY_READ, &place, &key, &status);
        result |= opened;
        if (opened == 0 && status != ERROR_SUCCESS) PrintUnopenedKey(status, path);
        if (key) {
            PrintSearchHeader(rows[search].patterns, path);
            if (IsRegistryLink(key.get())) {
                result |= SearchStartThatIsALink(key, place, root, path, wipe, warn);
            } else {
                w.live = search;
                w.underSystem = IsUnderSystem(path);
                SetPath(&w.path, path);
                if (kept && (served & SearchBit(search))) {
                    result |= ReplayStart(w, key.get(), kept, path);
                } else {
                    ReleaseArena(&w.arena);
                    w.keepingFailed = false;
                    kept = nullptr;
                    u32 later = LaterSearches(search, count);
                    result |= WalkStart(w, key.get(), path, later, &kept);
                    served = w.keepingFailed ? 0 : later;
                }
                result |= CloseKeyReported(key, path);
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
