#include "plan/identifiers.h"

namespace {

// "{12345678-90AB-CDEF-1234-567890ABCDEF}": braces at 0 and 37, dashes at 9, 14, 19, 24.
const size_t kBracedGuidLength = 38;

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

bool IsBracedGuid(const wchar_t* text) {
    for (size_t i = 0; i < kBracedGuidLength; ++i) {
        wchar_t c = text[i];
        if (c == L'\0') return false;
        bool ok = i == 0                                          ? c == L'{'
                  : i == kBracedGuidLength - 1                    ? c == L'}'
                  : (i == 9 || i == 14 || i == 19 || i == 24) ? c == L'-'
                                                                  : IsHexDigit(c);
        if (!ok) return false;
    }
    return text[kBracedGuidLength] == L'\0';
}

}  // namespace

bool PackGuid(const wchar_t* guid, wchar_t* packed) {
    packed[0] = L'\0';
    if (!IsBracedGuid(guid)) return false;

    // Offsets of the digits inside the braced form. The first three groups
    // are numbers and come out reversed; the last eight bytes come out in
    // order with the two digits of each byte swapped.
    static const size_t kReversedGroups[3][2] = {{1, 8}, {10, 4}, {15, 4}};
    static const size_t kByteDigits[8] = {20, 22, 25, 27, 29, 31, 33, 35};

    size_t out = 0;
    for (const auto& group : kReversedGroups) {
        for (size_t i = group[1]; i > 0; --i) packed[out++] = guid[group[0] + i - 1];
    }
    for (size_t first : kByteDigits) {
        packed[out++] = guid[first + 1];
        packed[out++] = guid[first];
    }
    packed[out] = L'\0';
    return true;
}
