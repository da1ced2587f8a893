#include "undo/hive_name.h"

#include "platform/key_name.h"

namespace {

const wchar_t kUsersKernel[] = L"\\REGISTRY\\USER";
const wchar_t kMachineKernel[] = L"\\REGISTRY\\MACHINE";
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

}  // namespace

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
