#include "registry/key_path.h"

#include "platform/key_name.h"
#include "platform/owned.h"
#include "platform/registry_names.h"
#include "run/process_state.h"

namespace {

const wchar_t* const kMachine = kMachineKernelName;
const wchar_t* const kUsers = kUsersKernelName;
const wchar_t kMachineClasses[] = L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes";
const wchar_t* const kClassesSuffix = kClassesHiveSuffix;

// The links Windows itself keeps on the plan's paths, followed as Windows
// follows them: where they lead is read from the system at run time.
struct SystemLink {
    HKEY root;
    const wchar_t* path;
};
const SystemLink kSystemLinks[] = {
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet"},  // the control set in use: ControlSet001, ...
    {HKEY_USERS,         L"S-1-5-18"},                   // the SYSTEM account's hive: .DEFAULT
};

// Where the redirector of 64-bit Windows puts a Wow6432Node for the 32-bit view.
const wchar_t* const kRedirectedMachineKeys[] = {L"\\REGISTRY\\MACHINE\\SOFTWARE", kMachineClasses};
const wchar_t kRedirectedUserKey[] = L"\\Software\\Classes";
const wchar_t kWowNode[] = L"\\Wow6432Node";

size_t Units(const wchar_t* text) { return wcslen(text); }

// A name being put together: in its own units while they last, then in a block.
struct NameText {
    wchar_t inlineUnits[512];
    OwnedBlock block;
    wchar_t* units = inlineUnits;
    size_t length = 0;
    size_t capacity = sizeof inlineUnits / sizeof(wchar_t);

    NameText() = default;
    NameText(const NameText&) = delete;
    NameText& operator=(const NameText&) = delete;

    bool Append(const wchar_t* part, size_t count) {
        if (length + count > capacity) {
            size_t grown = (length + count) * 2;
            OwnedBlock larger = AllocateBlock(grown * sizeof(wchar_t));
            if (!larger) return false;
            memcpy(larger.get(), units, length * sizeof(wchar_t));
            block = static_cast<OwnedBlock&&>(larger);
            units = BlockAs<wchar_t>(block);
            capacity = grown;
        }
        memcpy(units + length, part, count * sizeof(wchar_t));
        length += count;
        return true;
    }
};

bool IsPredefinedRoot(HKEY root) { return (reinterpret_cast<ULONG_PTR>(root) & 0xF0000000u) == 0x80000000u; }

// The kernel names a root stands for: one, or HKEY_CLASSES_ROOT's two halves.
struct RootNames {
    KernelName user;
    KernelName opened;
    NameText classes;
    const wchar_t* units[2] = {};
    size_t lengths[2] = {};
    int count = 0;

    void Add(const wchar_t* name, size_t length) {
        units[count] = name;
        lengths[count++] = length;
    }
};

LONG ReadRootNames(HKEY root, RootNames* names) {
    if (root == HKEY_LOCAL_MACHINE) {
        names->Add(kMachine, Units(kMachine));
    } else if (root == HKEY_USERS) {
        names->Add(kUsers, Units(kUsers));
    } else if (root == HKEY_CURRENT_USER || root == HKEY_CLASSES_ROOT) {
        LONG status = ReadCurrentUserKernelName(&names->user);
        if (status != ERROR_SUCCESS) return status;
        if (root == HKEY_CURRENT_USER) {
            names->Add(names->user.units, names->user.length);
        } else {
            if (!names->classes.Append(names->user.units, names->user.length) ||
                !names->classes.Append(kClassesSuffix, Units(kClassesSuffix)))
                return ERROR_NOT_ENOUGH_MEMORY;
            names->Add(kMachineClasses, Units(kMachineClasses));
            names->Add(names->classes.units, names->classes.length);
        }
    } else if (IsPredefinedRoot(root)) {
        return ERROR_INVALID_HANDLE;
    } else {
        LONG status = ReadKernelName(root, &names->opened);
        if (status != ERROR_SUCCESS) return status;
        names->Add(names->opened.units, names->opened.length);
    }
    return ERROR_SUCCESS;
}

const wchar_t* RootKernelName(HKEY root) { return root == HKEY_LOCAL_MACHINE ? kMachine : kUsers; }

// When the name so far is one of Windows' own links, it becomes the name of
// the key the link leads to. A link that cannot be followed stays as it is:
// a key below it then never matches.
LONG ResolveSystemLinks(NameText* name) {
    for (const SystemLink& link : kSystemLinks) {
        const wchar_t* rootName = RootKernelName(link.root);
        size_t rootUnits = Units(rootName), pathUnits = Units(link.path);
        if (name->length != rootUnits + 1 + pathUnits || !SameKernelText(name->units, rootUnits, rootName, rootUnits) ||
            name->units[rootUnits] != L'\\' ||
            !SameKernelText(name->units + rootUnits + 1, pathUnits, link.path, pathUnits))
            continue;
        OwnedKey target;
        if (win32.RegOpenKeyExW(link.root, link.path, 0, KEY_QUERY_VALUE | g_registryView, target.put()) != ERROR_SUCCESS)
            continue;
        KernelName reached;
        LONG status = ReadKernelName(target.get(), &reached);
        if (status == ERROR_NOT_ENOUGH_MEMORY) return status;
        if (status != ERROR_SUCCESS) continue;
        name->length = 0;
        if (!name->Append(reached.units, reached.length)) return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

// The kernel name root\path has, Windows' own links on it resolved.
LONG ExpectedName(const wchar_t* rootName, size_t rootUnits, const wchar_t* path, NameText* name) {
    if (!name->Append(rootName, rootUnits)) return ERROR_NOT_ENOUGH_MEMORY;
    LONG status = ResolveSystemLinks(name);
    for (const wchar_t* component = path; status == ERROR_SUCCESS && *component;) {
        const wchar_t* end = wcschr(component, L'\\');
        size_t units = end ? static_cast<size_t>(end - component) : Units(component);
        if (!name->Append(L"\\", 1) || !name->Append(component, units)) return ERROR_NOT_ENOUGH_MEMORY;
        status = ResolveSystemLinks(name);
        component += units;
        if (*component) ++component;
    }
    return status;
}

// True when the redirector may put a Wow6432Node right below this key.
bool IsRedirectedKey(const wchar_t* name, size_t length) {
    for (const wchar_t* key : kRedirectedMachineKeys)
        if (SameKernelText(name, length, key, Units(key))) return true;
    size_t usersUnits = Units(kUsers);
    if (length <= usersUnits + 1 || !SameKernelText(name, usersUnits, kUsers, usersUnits) || name[usersUnits] != L'\\')
        return false;
    const wchar_t* hive = name + usersUnits + 1;
    size_t hiveUnits = length - usersUnits - 1;
    const wchar_t* separator = wmemchr(hive, L'\\', hiveUnits);
    if (!separator) {
        size_t suffixUnits = Units(kClassesSuffix);
        return hiveUnits > suffixUnits &&
               SameKernelText(hive + hiveUnits - suffixUnits, suffixUnits, kClassesSuffix, suffixUnits);
    }
    size_t rest = hiveUnits - static_cast<size_t>(separator - hive);
    return SameKernelText(separator, rest, kRedirectedUserKey, Units(kRedirectedUserKey));
}

// The actual name is the expected one, or, when `redirected`, the expected one
// with a Wow6432Node where the redirector puts it.
bool SameKey(const KernelName& actual, const NameText& expected, bool redirected) {
    if (SameKernelText(actual.units, actual.length, expected.units, expected.length)) return true;
    size_t wowUnits = Units(kWowNode);
    if (!redirected || actual.length != expected.length + wowUnits) return false;
    for (size_t at = 1; at <= expected.length; ++at) {
        if (at < expected.length && expected.units[at] != L'\\') continue;
        if (IsRedirectedKey(expected.units, at) && SameKernelText(actual.units, at, expected.units, at) &&
            SameKernelText(actual.units + at, wowUnits, kWowNode, wowUnits) &&
            SameKernelText(actual.units + at + wowUnits, expected.length - at, expected.units + at, expected.length - at))
            return true;
    }
    return false;
}

LONG CheckStatus(LONG status) { return status == ERROR_NOT_ENOUGH_MEMORY ? status : kKeyNameUnknown; }

// The old test, for where the system cannot say: the value a link holds.
bool HoldsLinkValue(HKEY key) {
    DWORD type = REG_NONE;
    LONG status = win32.RegQueryValueExW(key, kLinkValueName, nullptr, &type, nullptr, nullptr);
    return status == ERROR_SUCCESS && type == REG_LINK;
}

}  // namespace

LONG CheckKeyPath(HKEY root, const wchar_t* path, HKEY key) {
    KernelName actual;
    LONG status = ReadKernelName(key, &actual);
    if (status != ERROR_SUCCESS) return CheckStatus(status);
    RootNames roots;
    status = ReadRootNames(root, &roots);
    if (status != ERROR_SUCCESS) return CheckStatus(status);
    bool redirected = !(g_registryView & KEY_WOW64_64KEY) && RunsUnderWow64();
    for (int i = 0; i < roots.count; ++i) {
        NameText expected;
        status = ExpectedName(roots.units[i], roots.lengths[i], path, &expected);
        if (status != ERROR_SUCCESS) return status;
        if (SameKey(actual, expected, redirected)) return ERROR_SUCCESS;
    }
    return kLinkOnThePath;
}

LONG OpenKeyPath(HKEY root, const wchar_t* path, REGSAM access, DWORD options, HKEY* key) {
    OwnedKey opened;
    LONG status = win32.RegOpenKeyExW(root, path, options, access | g_registryView, opened.put());
    if (status != ERROR_SUCCESS) return status;
    status = CheckKeyPath(root, path, opened.get());
    if (status == ERROR_SUCCESS) *key = opened.release();
    return status;
}

bool IsRegistryLink(HKEY key) {
    KernelName own;
    if (ReadKernelName(key, &own) != ERROR_SUCCESS) return HoldsLinkValue(key);
    OwnedKey reached;
    LONG status = OpenKernelName(own.units, own.length, KEY_QUERY_VALUE, reached.put());
    // A link whose target is missing leads nowhere.
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return true;
    KernelName reachedName;
    if (status != ERROR_SUCCESS || ReadKernelName(reached.get(), &reachedName) != ERROR_SUCCESS)
        return HoldsLinkValue(key);
    return !SameKernelText(own.units, own.length, reachedName.units, reachedName.length);
}
