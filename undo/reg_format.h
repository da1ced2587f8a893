// .reg text exactly as regedit exports it, in the form that Windows' `reg
// import` and regedit read back: UTF-16LE, CRLF line ends, every value type.
// Pure: no Windows calls; the buffer comes from the table's allocator.
#pragma once

#include "platform/owned.h"
#include "platform/win32.h"

// What the importers make of an appended key or value.
enum RegWriteOutcome {
    kRegExact,       // comes back byte for byte
    kRegInexact,     // written; a comment line before it says how the importers change it
    kRegUnwritable,  // only a comment line naming it: no line of the format would bring it back
};

// Receives full buffers of text; false stops the text (the sink reports why).
typedef bool (*RegTextSink)(void* context, const wchar_t* units, size_t count);

// A text being appended to. With a sink, a full buffer goes out through it and
// is reused, so memory stays at the capacity; without one the buffer grows.
// Once an allocation or the sink fails, every later append does nothing.
struct RegText {
    OwnedBlock block;
    size_t length = 0;
    size_t capacity = 0;
    RegTextSink sink = nullptr;
    void* context = nullptr;
    bool failed = false;
};

bool StartRegText(RegText* text, size_t capacityUnits, RegTextSink sink, void* context);
// Hands what the text holds to its sink; false when the text has failed.
bool FlushRegText(RegText* text);
inline const wchar_t* RegTextUnits(const RegText& text) { return BlockAs<const wchar_t>(text.block); }

// A piece of a comment line: `count` units, which may include NULs and line breaks.
struct RegPiece {
    const wchar_t* units;
    size_t count;
};
RegPiece PieceOf(const wchar_t* text);

// The byte order mark and "Windows Registry Editor Version 5.00".
void AppendRegFileHeader(RegText* text);
// "; " and the pieces on one line; CR, LF and NUL show as \r, \n and \0.
void AppendRegComment(RegText* text, const RegPiece* pieces, size_t pieceCount);
void AppendRegComment(RegText* text, const wchar_t* line);
// A comment standing where a key would: after a blank line, as key lines are.
void AppendRegKeyComment(RegText* text, const RegPiece* pieces, size_t pieceCount);

// A blank line and "[<keyName>]", keyName being the root's long name and the
// path. A name with a line break or a NUL cannot be written: a comment names it.
RegWriteOutcome AppendRegKey(RegText* text, const wchar_t* keyName, size_t keyNameUnits);

// One value as regedit writes it: "name"= or @= (an empty name), then
// "text" for a well-formed REG_SZ, dword:xxxxxxxx for a 4-byte REG_DWORD, and
// hex: (REG_BINARY) or hex(<type>): with the exact bytes for everything else,
// folded as regedit folds it. A name with a line break or a NUL cannot be
// written (the importers read neither back): a comment names the value instead.
RegWriteOutcome AppendRegValue(RegText* text, const wchar_t* name, size_t nameUnits, DWORD type, const BYTE* data,
                               DWORD bytes);

// Both importers end REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data that they read
// as hex with a NUL character when its last whole character is not one; such
// data does not come back exactly.
bool ImportKeepsData(DWORD type, const BYTE* data, DWORD bytes);
