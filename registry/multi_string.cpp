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
    return entryLength != 0 && length == entryLength && wmemcmp(units, entry, length) == 0;
}

}  // namespace

size_t FindMultiStringEntry(const wchar_t* units, size_t count, const wchar_t* entry) {
    for (size_t start = 0; start < count;) {
        size_t length = EntryLength(units, count, start);
        if (EntryEquals(units + start, length, entry)) return start;
        start += length + 1;
    }
    return kNoEntry;
}

size_t CopyMultiStringWithout(const wchar_t* units, size_t count, const wchar_t* entry, wchar_t* out,
                              size_t capacity) {
    size_t written = 0;
    for (size_t start = 0; start < count;) {
        size_t length = EntryLength(units, count, start);
        // The entry with its NUL; a last entry may have none.
        size_t span = start + length < count ? length + 1 : length;
        if (!EntryEquals(units + start, length, entry)) {
            if (capacity - written < span) return kNoRoom;
            wmemcpy(out + written, units + start, span);
            written += span;
        }
        start += span;
    }
    return written;
}

size_t EnsureMultiStringEntry(wchar_t* list, size_t length, size_t capacity, const wchar_t* entry) {
    if (length > capacity) return kNoRoom;
    size_t entryLength = wcslen(entry);
    if (entryLength == 0 || FindMultiStringEntry(list, length, entry) != kNoEntry) return length;
    bool closed = length > 0 && list[length - 1] == L'\0' && (length == 1 || list[length - 2] == L'\0');
    bool lastUnterminated = length > 0 && list[length - 1] != L'\0';
    // The entry goes over the closing NUL, or after the list's end.
    size_t at = closed ? length - 1 : length;
    size_t needed = (lastUnterminated ? 1 : 0) + entryLength + 2;
    if (capacity - at < needed) return kNoRoom;
    if (lastUnterminated) list[at++] = L'\0';
    wmemcpy(list + at, entry, entryLength);
    at += entryLength;
    list[at++] = L'\0';
    list[at++] = L'\0';
    return at;
}
