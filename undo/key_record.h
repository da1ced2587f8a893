// Reads what a removal is about to take from the registry and appends it to a
// .reg text. Each key's line names it under the hive it was read from
// (undo/hive_name.h) and its path there as the removal names it under `root`.
// Each function returns its reported failures: values that could not be read,
// a hive that cannot be told, a name that cannot be written (a comment line in
// the text names it).
#pragma once

#include "platform/win32.h"
#include "undo/reg_format.h"

// The line of root\path and every value of its open `key` (type and data as
// stored), without subkeys: a removal records each key as it reaches it, after
// it has taken the key over (a key that refuses reading refuses deletion too).
// Memory: the key's largest value and the text's buffer.
u32 RecordOpenKey(RegText* text, HKEY root, const wchar_t* path, HKEY key);

// The comment line that names the link root\path and its target, read from
// the link's own open key.
u32 RecordLink(RegText* text, HKEY root, const wchar_t* path, HKEY link);

// One value of an open key, read from `key`, under the line of root\path.
// A missing value records nothing.
u32 RecordValue(RegText* text, HKEY root, const wchar_t* path, HKEY key, const wchar_t* name);

// Given bytes as the value `name` of root\path: the old state of a value about
// to be rewritten.
u32 RecordValueBytes(RegText* text, HKEY root, const wchar_t* path, const wchar_t* name, DWORD type,
                     const void* data, DWORD bytes);

// True when writing newData over oldData changes the value's bytes; a rewrite
// that does not needs no record.
bool RewriteChangesValue(const void* oldData, DWORD oldBytes, const void* newData, DWORD newBytes);
