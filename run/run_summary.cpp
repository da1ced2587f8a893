#include "run/run_summary.h"

#include "run/error_report.h"
#include "platform/key_name.h"
#include "platform/owned.h"

#include <utility>

namespace {

// Tags that keep the kinds of items apart in the one set.
const wchar_t kKeyTag = L'K';
const wchar_t kValueTag = L'V';
const wchar_t kListEntryTag = L'L';
const wchar_t kFileTag = L'F';

// An item found: its identity text (parts separated by NULs) and its hash.
struct FoundItem {
    u32 hash;
    size_t units;
    wchar_t* text;
};

// Open addressing, at most half full; every slot and text from the table's allocator.
struct FoundItems {
    FoundItem* slots;
    size_t capacity;
    size_t used;
};

bool g_countingFinds = false;
FoundItems g_foundItems;
u32 g_found[kCountedKinds];
u32 g_removed[kCountedKinds];
u32 g_deferred;
u32 g_waiting;

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

const u32 kHashStart = 2166136261u;
u32 HashStep(u32 hash, wchar_t c) { return (hash ^ FoldAscii(c)) * 16777619u; }

u32 HashOf(const wchar_t* text, size_t units) {
    u32 hash = kHashStart;
    for (size_t i = 0; i < units; ++i) hash = HashStep(hash, text[i]);
    return hash;
}

bool SameItem(const FoundItem& item, u32 hash, const wchar_t* text, size_t units) {
    if (item.hash != hash || item.units != units) return false;
    for (size_t i = 0; i < units; ++i)
        if (FoldAscii(item.text[i]) != FoldAscii(text[i])) return false;
    return true;
}

FoundItem* SlotFor(FoundItem* slots, size_t capacity, u32 hash, const wchar_t* text, size_t units) {
    for (size_t i = hash & (capacity - 1);; i = (i + 1) & (capacity - 1))
        if (!slots[i].text || SameItem(slots[i], hash, text, units)) return &slots[i];
}

bool Grow(FoundItems* items) {
    size_t capacity = items->capacity ? items->capacity * 2 : 64;
    FoundItem* slots = static_cast<FoundItem*>(win32.malloc(capacity * sizeof(FoundItem)));
    if (!slots) return false;
    memset(slots, 0, capacity * sizeof(FoundItem));
    for (size_t i = 0; i < items->capacity; ++i) {
        const FoundItem& item = items->slots[i];
        if (item.text) *SlotFor(slots, capacity, item.hash, item.text, item.units) = item;
    }
    win32.free(items->slots);
    items->slots = slots;
    items->capacity = capacity;
    return true;
}

// Takes the identity over; false when the item was found before. An item that
// cannot be remembered (no memory) is reported and counts as new.
bool RememberNew(OwnedBlock identity, size_t units) {
    const wchar_t* text = BlockAs<wchar_t>(identity);
    u32 hash = HashOf(text, units);
    if (g_foundItems.capacity && SlotFor(g_foundItems.slots, g_foundItems.capacity, hash, text, units)->text)
        return false;
    if ((g_foundItems.used + 1) * 2 > g_foundItems.capacity && !Grow(&g_foundItems)) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        REPORT("Not enough memory.");
        return true;
    }
    FoundItem* slot = SlotFor(g_foundItems.slots, g_foundItems.capacity, hash, text, units);
    *slot = FoundItem{hash, units, static_cast<wchar_t*>(identity.release())};
    ++g_foundItems.used;
    return true;
}

// The identity: the tag, then the parts, each after the separator; null when
// the allocation fails (reported).
OwnedBlock JoinIdentity(wchar_t tag, const wchar_t* const* parts, const size_t* lengths, int count, size_t* units,
                        wchar_t separator = L'\0') {
    *units = 1;
    for (int i = 0; i < count; ++i) *units += (i ? 1 : 0) + lengths[i];
    OwnedBlock identity = AllocateBlock(*units * sizeof(wchar_t));
    if (!identity) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        REPORT("Not enough memory.");
        return identity;
    }
    wchar_t* out = BlockAs<wchar_t>(identity);
    *out++ = tag;
    for (int i = 0; i < count; ++i) {
        if (i) *out++ = separator;
        memcpy(out, parts[i], lengths[i] * sizeof(wchar_t));
        out += lengths[i];
    }
    return identity;
}

void CountFound(CountedKind kind, wchar_t tag, const wchar_t* const* parts, const size_t* lengths, int count) {
    size_t units = 0;
    OwnedBlock identity = JoinIdentity(tag, parts, lengths, count, &units);
    if (!identity || RememberNew(std::move(identity), units)) ++g_found[kind];
}

// Counts an item that lies in a key: the key's kernel name is its first part.
// A key whose name the system cannot tell counts each time it is found.
void CountFoundInKey(CountedKind kind, wchar_t tag, HKEY key, const wchar_t* second, const wchar_t* third) {
    if (!g_countingFinds) return;
    KernelName name;
    LONG status = ReadKernelName(key, &name);
    if (status != ERROR_SUCCESS) {
        if (status == ERROR_NOT_ENOUGH_MEMORY) {
            win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            REPORT("Not enough memory.");
        }
        ++g_found[kind];
        return;
    }
    const wchar_t* parts[] = {name.units, second, third};
    size_t lengths[] = {name.length, second ? wcslen(second) : 0, third ? wcslen(third) : 0};
    CountFound(kind, tag, parts, lengths, third ? 3 : second ? 2 : 1);
}

// A key's identity: the tag and its kernel name, or, for a key that did not
// open, its parent's kernel name, a separator and its name there.
OwnedBlock KeyIdentity(const KernelName& name, const wchar_t* child, size_t* units) {
    const wchar_t* parts[] = {name.units, child};
    size_t lengths[] = {name.length, child ? wcslen(child) : 0};
    return JoinIdentity(kKeyTag, parts, lengths, child ? 2 : 1, units, L'\\');
}

// True when a key that holds this key counts already: one of the identity's
// prefixes that end before a separator is remembered.
bool InsideCountedKey(const wchar_t* identity, size_t units) {
    if (!g_foundItems.capacity) return false;
    u32 hash = kHashStart;
    for (size_t i = 0; i < units; hash = HashStep(hash, identity[i++])) {
        if (i < 2 || identity[i] != L'\\') continue;
        if (SlotFor(g_foundItems.slots, g_foundItems.capacity, hash, identity, i)->text) return true;
    }
    return false;
}

// Counts the key, or its subkey `child` that did not open, unless a tree
// counted before holds it (run_summary.h).
void CountKeyNamed(HKEY key, const wchar_t* child) {
    if (!g_countingFinds) return;
    KernelName name;
    LONG status = ReadKernelName(key, &name);
    size_t units = 0;
    OwnedBlock identity;
    if (status == ERROR_SUCCESS) {
        identity = KeyIdentity(name, child, &units);
    } else if (status == ERROR_NOT_ENOUGH_MEMORY) {
        win32.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        REPORT("Not enough memory.");
    }
    if (identity && InsideCountedKey(BlockAs<wchar_t>(identity), units)) return;
    // A key whose name the system cannot tell counts each time it is found.
    if (!identity || RememberNew(std::move(identity), units)) ++g_found[kCountedKey];
}

// Each summary is one print: nothing can come between its parts.
#define KV_COUNTS_FORMAT "%u registry keys, %u values, %u list entries, %u files and folders"
#define KV_COUNTS(counts) \
    (counts)[kCountedKey], (counts)[kCountedValue], (counts)[kCountedListEntry], (counts)[kCountedFile]

}  // namespace

void StartCountingFinds() { g_countingFinds = true; }

bool CountingFinds() { return g_countingFinds; }

void CountFoundKey(HKEY key) { CountKeyNamed(key, nullptr); }

void CountFoundSubkey(HKEY parent, const wchar_t* name) { CountKeyNamed(parent, name); }

bool InCountedKey(HKEY parent, const wchar_t* name) {
    if (!g_countingFinds || !g_foundItems.capacity) return false;
    KernelName parentName;
    if (ReadKernelName(parent, &parentName) != ERROR_SUCCESS) return false;
    size_t units = 0;
    OwnedBlock identity = KeyIdentity(parentName, name, &units);
    if (!identity) return false;
    const wchar_t* text = BlockAs<wchar_t>(identity);
    return InsideCountedKey(text, units) ||
           SlotFor(g_foundItems.slots, g_foundItems.capacity, HashOf(text, units), text, units)->text;
}

u32 CouldNotLook(LONG status, const wchar_t* what) {
    if (!g_countingFinds) return 0;
    win32.SetLastError(static_cast<DWORD>(status));
    return ErrorReport("kvscan", __LINE__, "Could not look: %S", what);
}

void CountFoundValue(HKEY key, const wchar_t* name) { CountFoundInKey(kCountedValue, kValueTag, key, name, nullptr); }

void CountFoundListEntry(HKEY key, const wchar_t* value, const wchar_t* entry) {
    CountFoundInKey(kCountedListEntry, kListEntryTag, key, value, entry);
}

void CountFoundFile(const wchar_t* path) {
    if (!g_countingFinds) return;
    size_t length = wcslen(path);
    CountFound(kCountedFile, kFileTag, &path, &length, 1);
}

void CountRemoved(CountedKind kind) { ++g_removed[kind]; }

void CountDeferred() { ++g_deferred; }

void CountWaitingDeletion() { ++g_waiting; }

RunCounts CurrentRunCounts() {
    RunCounts counts = {};
    memcpy(counts.found, g_found, sizeof g_found);
    memcpy(counts.removed, g_removed, sizeof g_removed);
    counts.deferred = g_deferred;
    counts.failures = CurrentReportTally().failures;
    return counts;
}

void ResetRunCounts() {
    for (size_t i = 0; i < g_foundItems.capacity; ++i) win32.free(g_foundItems.slots[i].text);
    win32.free(g_foundItems.slots);
    g_foundItems = FoundItems();
    g_countingFinds = false;
    memset(g_found, 0, sizeof g_found);
    memset(g_removed, 0, sizeof g_removed);
    g_deferred = 0;
    g_waiting = 0;
    ResetReportTally();
}

void PrintCleanSummary() {
    RunCounts counts = CurrentRunCounts();
    NarrowPrint("kvclean: removed " KV_COUNTS_FORMAT "; %u deferred to the next reboot; %u failures\n",
                KV_COUNTS(counts.removed), counts.deferred, counts.failures);
}

u32 PrintScanSummary() {
    RunCounts counts = CurrentRunCounts();
    u32 items = 0;
    for (u32 found : counts.found) items += found;
    if (counts.failures) {
        NarrowPrint("kvscan: check failed with %u failures; %u items of the family found (" KV_COUNTS_FORMAT ")\n",
                    counts.failures, items, KV_COUNTS(counts.found));
        return kScanFailed;
    }
    if (!items && g_waiting) {
        NarrowPrint("kvscan: nothing left to remove; %u deletions wait for the next reboot\n", g_waiting);
        return kScanWaitsForReboot;
    }
    if (!items) {
        NarrowPrint("kvscan: no trace of the family found\n");
        return kScanNoTrace;
    }
    NarrowPrint("kvscan: %u items of the family found (" KV_COUNTS_FORMAT ")\n", items, KV_COUNTS(counts.found));
    return kScanTracesFound;
}
