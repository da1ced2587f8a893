// Shared pieces of the undo tests: planting exact value bytes, reading a key
// tree as a model, running Windows' own reg.exe.
#pragma once

#include <map>
#include <string>

#include "platform/win32.h"

struct ValueModel {
    DWORD type;
    std::string bytes;
    bool operator==(const ValueModel& other) const { return type == other.type && bytes == other.bytes; }
};

struct KeyModel {
    std::map<std::wstring, ValueModel> values;
    // A registry link: its target is not read.
    bool isLink = false;
    bool operator==(const KeyModel& other) const { return values == other.values && isLink == other.isLink; }
};

// Every key of a tree by its path below the top key ("" is the top key).
typedef std::map<std::wstring, KeyModel> TreeModel;

// Reads root\path and everything below it in the view; keys below it are
// opened as themselves, so a link is read as a link and never followed.
TreeModel ReadTree(HKEY root, const std::wstring& path, REGSAM view);
// One line per difference (missing or extra key or value, other type or data); empty when equal.
std::string DescribeDifferences(const TreeModel& expected, const TreeModel& actual);

// The units of the text as little-endian bytes, without a terminating NUL.
std::string Utf16Bytes(const std::wstring& text);
// Sets exactly these bytes: the unit after them is not a NUL, so the registry
// adds none to string data.
bool PlantValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const std::string& bytes,
                REGSAM view);
// Makes root\path a registry link to the key with the full NT path `target`.
bool PlantLink(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view);

// Runs the system's reg.exe with the arguments and returns its exit code.
DWORD RunRegExe(const std::wstring& arguments);

// <common application data>\kvclean, and its undo folder.
std::wstring KvcleanDataFolder();
std::wstring UndoFolder();

// How many error reports the output holds.
int CountReports(const std::string& out);
