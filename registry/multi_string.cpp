#include "registry/multi_string.h"

namespace {

// Length of the entry starting at `start`: up to its NUL or the end of the units.
size_t EntryLength(const wchar_t* units, size_t count, size_t start) {
    size_t end = start;
    while (end < count && units[end] != L'\0') ++end;
    return end - start;
}

bool EntryEquals(const wchar_t* units, size_t length, const wchar_t* entry) {
    size_t entryLength = wcslen(entry);
    return length == entryLength && wmemcmp(units, entry, length) == 0;
}

}  // namespace

size_t FindMultiStringEntry(const wchar_t* units, size_t count, const wchar_t* entry) {
    size_t start = 0;
    while (start < count) {
        size_t length = EntryLength(units, count, start);
        if (length == 0) break;
        if (EntryEquals(units + start, length, entry)) return start;
        start += length + 1;
    }
    return kNoEntry;
}

size_t CopyMultiStringWithout(const wchar_t* units, size_t count, size_t skip, wchar_t* out, size_t capacity) {
    size_t written = 0;
    size_t start = 0;
    while (start < count) {
        size_t length = EntryLength(units, count, start);
        if (length == 0) break;
        if (start != skip) {
            if (capacity - written < length + 1) return 0;
            wmemcpy(out + written, units + start, length);
            written += length;
            out[written++] = L'\0';
        }
        start += length + 1;
    }
    if (capacity - written < 1) return 0;
    out[written++] = L'\0';
    return written;
}

size_t EnsureMultiStringEntry(wchar_t* list, size_t length, size_t capacity, const wchar_t* entry) {
    if (length == 0 || length > capacity || list[length - 1] != L'\0') return 0;
    if (length > 1 && list[length - 2] != L'\0') return 0;
    if (FindMultiStringEntry(list, length, entry) != kNoEntry) return length;
    size_t entryLength = wcslen(entry);
    if (entryLength == 0) return length;
    // The new entry goes over the closing NUL and gets its own NUL and a new closing one.
    size_t at = length - 1;
    if (capacity - at < entryLength + 2) return 0;
    wmemcpy(list + at, entry, entryLength);
    list[at + entryLength] = L'\0';
    list[at + entryLength + 1] = L'\0';
    return at + entryLength + 2;
}
