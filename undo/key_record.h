// Reads what a removal is about to take from the registry and appends it to a
// .reg text. Each key's line names it under the hive it was read from
// (undo/hive_name.h) and its path there as the removal names it under `root`.
// Each function returns its reported failures: a key that could not be read,
// a hive that cannot be told, a name that cannot be written (a comment line in
// the text names each).
#pragma once

#include "platform/win32.h"
#include "undo/reg_format.h"

// root\path and its whole tree in the registry view: each key's line with
// every value (type and data as stored), then each subkey's, depth-first.
// root\path itself is opened as the removal opens it, through any links on
// the way; keys below it are opened as themselves: a registry link there is a
// comment line naming it and its target, never followed. A missing key
// records nothing. Memory: one key's largest value and the text's buffer.
u32 RecordKeyTree(RegText* text, HKEY root, const wchar_t* path, REGSAM view);

// The line of root\path and every value of its open `key`, without subkeys:
// for a removal that records each key as it reaches it, after it has taken
// the key over (a key that refuses reading refuses deletion too).
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
