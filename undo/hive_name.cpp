#include "undo/hive_name.h"

#include "platform/key_name.h"

namespace {

const wchar_t* const kUsersKernel = kUsersKernelName;
const wchar_t* const kMachineKernel = kMachineKernelName;
const wchar_t kUsers[] = L"HKEY_USERS";
const wchar_t kMachine[] = L"HKEY_LOCAL_MACHINE";
const wchar_t kMachineClasses[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";

// Kernel names of the roots and the long names .reg files spell them with.
struct KernelRoot {
    const wchar_t* kernel;
    const wchar_t* name;
};
const KernelRoot kKernelRoots[] = {
    {kUsersKernel,   kUsers},
    {kMachineKernel, kMachine},
};

// `first` then `second` (`secondUnits` of it) into the name; false when they do not fit.
bool Join(wchar_t* name, const wchar_t* first, const wchar_t* second, size_t secondUnits) {
    size_t firstUnits = wcslen(first);
    if (firstUnits + secondUnits >= kHiveNameUnits) return false;
    memcpy(name, first, firstUnits * sizeof(wchar_t));
    memcpy(name + firstUnits, second, secondUnits * sizeof(wchar_t));
    name[firstUnits + secondUnits] = L'\0';
    return true;
}

// True when the kernel name starts with the root's kernel name, as a whole component.
bool StartsWith(const KernelName& kernel, const wchar_t* root) {
    size_t units = wcslen(root);
    return kernel.length >= units && SameKernelText(kernel.units, units, root, units) &&
           (kernel.length == units || kernel.units[units] == L'\\');
}

// "HKEY_USERS\<hive>" for a key under \REGISTRY\USER\<hive>; false for any other.
bool UserHive(const KernelName& kernel, wchar_t* name) {
    size_t usersUnits = wcslen(kUsersKernel);
    if (!StartsWith(kernel, kUsersKernel) || kernel.length == usersUnits) return false;
    const wchar_t* hive = kernel.units + usersUnits;  // from its separator on
    size_t units = kernel.length - usersUnits;
    const wchar_t* end = wmemchr(hive + 1, L'\\', units - 1);
    return Join(name, kUsers, hive, end ? static_cast<size_t>(end - hive) : units);
}

// A hive the run loaded; an empty name is a free place.
struct LoadedHive {
    wchar_t name[kHiveNameUnits];
    wchar_t file[kHiveFileUnits];
    bool announced;
};
// One user's hive is loaded at a time; two leave room.
LoadedHive g_loadedHives[2];

bool SameName(const wchar_t* a, const wchar_t* b) {
    size_t units = wcslen(a);
    return units == wcslen(b) && win32._wcsnicmp(a, b, units) == 0;
}

LoadedHive* FindLoadedHive(const wchar_t* loadName) {
    for (LoadedHive& hive : g_loadedHives)
        if (hive.name[0] && SameName(hive.name, loadName)) return &hive;
    return nullptr;
}

bool CopyName(wchar_t* out, size_t units, const wchar_t* text) {
    size_t length = wcslen(text);
    if (length >= units) return false;
    memcpy(out, text, (length + 1) * sizeof(wchar_t));
    return true;
}

}  // namespace

bool NoteLoadedHive(const wchar_t* loadName, const wchar_t* file) {
    LoadedHive* hive = FindLoadedHive(loadName);
    for (LoadedHive& place : g_loadedHives)
        if (!hive && !place.name[0]) hive = &place;
    if (!hive) return false;
    hive->announced = false;
    if (CopyName(hive->file, kHiveFileUnits, file) && CopyName(hive->name, kHiveNameUnits, loadName)) return true;
    hive->name[0] = L'\0';
    return false;
}

void ForgetLoadedHive(const wchar_t* loadName) {
    if (LoadedHive* hive = FindLoadedHive(loadName)) hive->name[0] = L'\0';
}

void AnnounceLoadedHive(RegText* text, const wchar_t* hiveName) {
    size_t usersUnits = wcslen(kUsers);
    if (win32._wcsnicmp(hiveName, kUsers, usersUnits) != 0 || hiveName[usersUnits] != L'\\') return;
    LoadedHive* hive = FindLoadedHive(hiveName + usersUnits + 1);
    if (!hive || hive->announced) return;
    hive->announced = true;
    RegPiece about[] = {PieceOf(L"The keys under "), PieceOf(hiveName), PieceOf(L" are in "), PieceOf(hive->file),
                        PieceOf(L", a hive that was not loaded.")};
    AppendRegKeyComment(text, about, 5);
    RegPiece load[] = {PieceOf(L"Before the import load it:  reg load HKU\\"), PieceOf(hive->name), PieceOf(L" \""),
                       PieceOf(hive->file), PieceOf(L"\"")};
    AppendRegComment(text, load, 5);
    RegPiece unload[] = {PieceOf(L"and after it unload it:     reg unload HKU\\"), PieceOf(hive->name)};
    AppendRegComment(text, unload, 2);
}

bool RecordHiveName(HKEY root, HKEY key, wchar_t* name) {
    if (root == HKEY_LOCAL_MACHINE) return Join(name, kMachine, L"", 0);
    if (root == HKEY_USERS) return Join(name, kUsers, L"", 0);
    KernelName kernel;
    if (root == HKEY_CLASSES_ROOT || root == HKEY_CURRENT_USER) {
        if (!key || ReadKernelName(key, &kernel) != ERROR_SUCCESS) return false;
        if (UserHive(kernel, name)) return true;
        return root == HKEY_CLASSES_ROOT && StartsWith(kernel, kMachineKernel) && Join(name, kMachineClasses, L"", 0);
    }
    if ((reinterpret_cast<ULONG_PTR>(root) & 0xF0000000u) == 0x80000000u) return false;
    // A root that is an open key (a user's hive): its own kernel name, spelt with the hive's long name.
    if (ReadKernelName(root, &kernel) != ERROR_SUCCESS) return false;
    for (const KernelRoot& row : kKernelRoots) {
        size_t units = wcslen(row.kernel);
        if (StartsWith(kernel, row.kernel)) return Join(name, row.name, kernel.units + units, kernel.length - units);
    }
    return false;
}
