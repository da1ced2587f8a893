#include "undo/reg_format.h"

#include <utility>

namespace {

const wchar_t kHexDigits[] = L"0123456789abcdef";
// regedit breaks a hex line once it holds this many characters before the
// continuation backslash; continuation lines start with two blanks.
const size_t kHexFoldColumn = 77;
const wchar_t kContinuation[] = L"\\\r\n  ";

const wchar_t kInexactComment[] =
    L"The next value's data does not end in a NUL character; reg import ends it with one.";
const wchar_t kUnwritableKeyComment[] = L"Key not recorded, its name cannot be written in a .reg file: ";
const wchar_t kUnwritableValueComment[] = L"Value not recorded, its name cannot be written in a .reg file: ";

// Data bytes as little-endian UTF-16 units, whatever their alignment.
wchar_t UnitAt(const BYTE* data, size_t index) {
    return static_cast<wchar_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool IsLineBreakOrNul(wchar_t unit) { return unit == L'\0' || unit == L'\r' || unit == L'\n'; }

// Names go between quotes as they are, except for the two characters the
// importers unescape; a line break or a NUL has no form both importers read.
bool IsWritableName(const wchar_t* name, size_t units) {
    for (size_t i = 0; i < units; ++i)
        if (IsLineBreakOrNul(name[i])) return false;
    return true;
}

// Text that "quotes" bring back exactly: whole characters, one final NUL and
// no other, no line break.
bool IsQuotableText(const BYTE* data, DWORD bytes) {
    if (bytes < sizeof(wchar_t) || bytes % sizeof(wchar_t) != 0) return false;
    size_t units = bytes / sizeof(wchar_t);
    if (UnitAt(data, units - 1) != L'\0') return false;
    for (size_t i = 0; i + 1 < units; ++i)
        if (IsLineBreakOrNul(UnitAt(data, i))) return false;
    return true;
}

bool MakeRoom(RegText* text, size_t wanted) {
    if (text->sink) return FlushRegText(text);
    size_t capacity = text->capacity * 2;
    if (capacity < text->length + wanted) capacity = text->length + wanted;
    OwnedBlock grown = capacity <= static_cast<size_t>(-1) / sizeof(wchar_t) ? AllocateBlock(capacity * sizeof(wchar_t))
                                                                             : OwnedBlock();
    if (!grown) {
        text->failed = true;
        return false;
    }
    memcpy(grown.get(), text->block.get(), text->length * sizeof(wchar_t));
    text->block = std::move(grown);
    text->capacity = capacity;
    return true;
}

void AppendUnits(RegText* text, const wchar_t* units, size_t count) {
    while (count > 0 && !text->failed) {
        if (text->length == text->capacity) {
            if (!MakeRoom(text, count)) return;
            continue;
        }
        size_t room = text->capacity - text->length;
        size_t part = count < room ? count : room;
        memcpy(BlockAs<wchar_t>(text->block) + text->length, units, part * sizeof(wchar_t));
        text->length += part;
        units += part;
        count -= part;
    }
}

void AppendUnit(RegText* text, wchar_t unit) { AppendUnits(text, &unit, 1); }

void AppendText(RegText* text, const wchar_t* units) { AppendUnits(text, units, wcslen(units)); }

void AppendLineEnd(RegText* text) { AppendText(text, L"\r\n"); }

// Lower-case hex without leading zeros, as regedit writes a type number.
size_t AppendHexNumber(RegText* text, DWORD number) {
    wchar_t digits[8];
    size_t count = 0;
    do {
        digits[count++] = kHexDigits[number & 0xF];
        number >>= 4;
    } while (number);
    for (size_t i = count; i > 0; --i) AppendUnit(text, digits[i - 1]);
    return count;
}

// The units with backslash and double quote escaped; returns the units written.
size_t AppendEscaped(RegText* text, const wchar_t* units, size_t count) {
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        if (units[i] == L'\\' || units[i] == L'"') {
            AppendUnit(text, L'\\');
            ++written;
        }
        AppendUnit(text, units[i]);
        ++written;
    }
    return written;
}

// "name"= or @=; returns the characters written, where the hex folding counts from.
size_t AppendValueName(RegText* text, const wchar_t* name, size_t nameUnits) {
    if (nameUnits == 0) {
        AppendText(text, L"@=");
        return 2;
    }
    AppendUnit(text, L'"');
    size_t written = AppendEscaped(text, name, nameUnits);
    AppendText(text, L"\"=");
    return written + 3;
}

void AppendQuotedText(RegText* text, const BYTE* data, DWORD bytes) {
    AppendUnit(text, L'"');
    size_t units = bytes / sizeof(wchar_t) - 1;
    for (size_t i = 0; i < units; ++i) {
        wchar_t unit = UnitAt(data, i);
        if (unit == L'\\' || unit == L'"') AppendUnit(text, L'\\');
        AppendUnit(text, unit);
    }
    AppendUnit(text, L'"');
}

void AppendDword(RegText* text, const BYTE* data) {
    DWORD number = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
    AppendText(text, L"dword:");
    for (int shift = 28; shift >= 0; shift -= 4) AppendUnit(text, kHexDigits[(number >> shift) & 0xF]);
}

// hex: or hex(<type>): and the bytes, comma-separated and folded as regedit folds them.
void AppendHexData(RegText* text, size_t lineLength, DWORD type, const BYTE* data, DWORD bytes) {
    if (type == REG_BINARY) {
        AppendText(text, L"hex:");
        lineLength += 4;
    } else {
        AppendText(text, L"hex(");
        lineLength += AppendHexNumber(text, type) + 6;
        AppendText(text, L"):");
    }
    for (DWORD i = 0; i < bytes && !text->failed; ++i) {
        wchar_t pair[3] = {kHexDigits[data[i] >> 4], kHexDigits[data[i] & 0xF], L','};
        if (i + 1 == bytes) {
            AppendUnits(text, pair, 2);
            break;
        }
        AppendUnits(text, pair, 3);
        lineLength += 3;
        if (lineLength >= kHexFoldColumn) {
            AppendText(text, kContinuation);
            lineLength = 2;
        }
    }
}

void AppendVisible(RegText* text, const wchar_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        switch (units[i]) {
            case L'\0': AppendText(text, L"\\0"); break;
            case L'\r': AppendText(text, L"\\r"); break;
            case L'\n': AppendText(text, L"\\n"); break;
            default: AppendUnit(text, units[i]);
        }
    }
}

}  // namespace

bool StartRegText(RegText* text, size_t capacityUnits, RegTextSink sink, void* context) {
    text->block = AllocateBlock(capacityUnits * sizeof(wchar_t));
    text->length = 0;
    text->capacity = text->block ? capacityUnits : 0;
    text->sink = sink;
    text->context = context;
    text->failed = !text->block;
    return !text->failed;
}

bool FlushRegText(RegText* text) {
    if (text->failed) return false;
    if (!text->sink || text->length == 0) return true;
    if (!text->sink(text->context, RegTextUnits(*text), text->length)) {
        text->failed = true;
        return false;
    }
    text->length = 0;
    return true;
}

RegPiece PieceOf(const wchar_t* text) { return {text, wcslen(text)}; }

void AppendRegFileHeader(RegText* text) {
    AppendUnit(text, static_cast<wchar_t>(0xFEFF));
    AppendText(text, L"Windows Registry Editor Version 5.00\r\n");
}

void AppendRegComment(RegText* text, const RegPiece* pieces, size_t pieceCount) {
    AppendText(text, L"; ");
    for (size_t i = 0; i < pieceCount; ++i) AppendVisible(text, pieces[i].units, pieces[i].count);
    AppendLineEnd(text);
}

void AppendRegComment(RegText* text, const wchar_t* line) {
    RegPiece piece = PieceOf(line);
    AppendRegComment(text, &piece, 1);
}

void AppendRegKeyComment(RegText* text, const RegPiece* pieces, size_t pieceCount) {
    AppendLineEnd(text);
    AppendRegComment(text, pieces, pieceCount);
}

RegWriteOutcome AppendRegKey(RegText* text, const wchar_t* keyName, size_t keyNameUnits) {
    if (!IsWritableName(keyName, keyNameUnits)) {
        RegPiece pieces[] = {PieceOf(kUnwritableKeyComment), {keyName, keyNameUnits}};
        AppendRegKeyComment(text, pieces, 2);
        return kRegUnwritable;
    }
    AppendText(text, L"\r\n[");
    AppendUnits(text, keyName, keyNameUnits);
    AppendText(text, L"]\r\n");
    return kRegExact;
}

RegWriteOutcome AppendRegValue(RegText* text, const wchar_t* name, size_t nameUnits, DWORD type, const BYTE* data,
                               DWORD bytes) {
    if (!IsWritableName(name, nameUnits)) {
        RegPiece pieces[] = {PieceOf(kUnwritableValueComment), {name, nameUnits}};
        AppendRegComment(text, pieces, 2);
        return kRegUnwritable;
    }
    RegWriteOutcome outcome = kRegExact;
    bool quoted = type == REG_SZ && IsQuotableText(data, bytes);
    if (!quoted && !ImportKeepsData(type, data, bytes)) {
        AppendRegComment(text, kInexactComment);
        outcome = kRegInexact;
    }
    size_t lineLength = AppendValueName(text, name, nameUnits);
    if (quoted)
        AppendQuotedText(text, data, bytes);
    else if (type == REG_DWORD && bytes == sizeof(DWORD))
        AppendDword(text, data);
    else
        AppendHexData(text, lineLength, type, data, bytes);
    AppendLineEnd(text);
    return outcome;
}

bool ImportKeepsData(DWORD type, const BYTE* data, DWORD bytes) {
    if (!IsStringType(type) || bytes == 0) return true;
    if (bytes < sizeof(wchar_t)) return false;
    return UnitAt(data, bytes / sizeof(wchar_t) - 1) == L'\0';
}
