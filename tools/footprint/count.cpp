// What of the family is on the machine, item by item as kvclean and kvscan
// count it (run/run_summary.h): a key row is one key tree, a value row one
// value, each of the family's entries in the LSA package list and each
// revocation provider list that does not start with cryptnet.dll one list
// entry; a file in the system or INF folder is one file, everything under one
// of the family's folders (program folders, Start Menu) one folder. An item
// that two views share (SYSTEM, the user's keys, the Start Menu, the INF
// folder) counts once: keys are told apart by their kernel names.
#include <cstdio>
#include <set>

#include "tools/footprint/footprint.h"

namespace {

const wchar_t kLsa[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kRevocation[] = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CertDllVerifyRevocation\\DEFAULT";

typedef LONG(NTAPI* NtQueryKeyFn)(HANDLE, int, PVOID, ULONG, PULONG);

// The key's kernel name in capitals; empty when the key is not there.
std::wstring KernelName(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS &&
        ::RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS)
        return std::wstring();
    NtQueryKeyFn query =
        reinterpret_cast<NtQueryKeyFn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    ULONG buffer[1024] = {};
    ULONG bytes = 0;
    std::wstring name;
    if (query && query(key, 3 /* KeyNameInformation */, buffer, sizeof buffer, &bytes) == 0)
        name.assign(reinterpret_cast<const wchar_t*>(buffer + 1), buffer[0] / sizeof(wchar_t));
    ::RegCloseKey(key);
    for (wchar_t& c : name) c = towupper(c);
    return name.empty() ? path + L" (no kernel name)" : name;
}

bool FamilyFolderBase(FileBase base) { return base != FileBase::kSystem && base != FileBase::kWindowsInf; }

}  // namespace

int CountFamily(const Footprint& footprint) {
    std::set<std::wstring> keys, values, entries, files;
    for (const RegistryView& view : RegistryViews()) {
        for (const RegRow& row : footprint.registry) {
            if (row.role != Role::kFamily) continue;
            std::wstring key = KernelName(row.root, row.path, view.flag);
            if (key.empty()) continue;
            if (row.isKey) {
                keys.insert(key);
                continue;
            }
            bool present = false;
            ValueMatches(row.root, row.path, row.valueName, row.type, row.data, view.flag, &present);
            if (present) values.insert(key + L'\n' + row.valueName);
        }
        std::wstring lsa = KernelName(HKEY_LOCAL_MACHINE, kLsa, view.flag);
        for (const std::wstring& entry : SystemListEntries(kLsa, L"Security Packages", view.flag))
            if (entry == L"kvtls" || entry == L"kvssl") entries.insert(lsa + L'\n' + entry);
        std::vector<std::wstring> providers = SystemListEntries(kRevocation, L"Dll", view.flag);
        if (!providers.empty() && providers[0] != L"cryptnet.dll")
            entries.insert(KernelName(HKEY_LOCAL_MACHINE, kRevocation, view.flag));
    }
    std::vector<FileSide> sides = FileSides();
    for (size_t s = 0; s < sides.size(); ++s) {
        OnSide(sides[s], [&] {
            for (const FileRow& row : footprint.files) {
                bool shared = row.base == FileBase::kStartMenuPrograms || row.base == FileBase::kWindowsInf;
                if (row.role != Role::kFamily || (shared && s > 0)) continue;
                std::wstring item = row.relative;
                if (FamilyFolderBase(row.base)) item = item.substr(0, item.find(L'\\'));
                std::wstring path = FolderOf(row.base, sides[s]) + L"\\" + item;
                if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
                // Both sides name the system folder System32; redirection tells them apart.
                for (wchar_t& c : path) c = towupper(c);
                files.insert(std::wstring(sides[s].label) + L'\n' + path);
            }
        });
    }
    size_t items = keys.size() + values.size() + entries.size() + files.size();
    printf("present: %zu items (%zu registry keys, %zu values, %zu list entries, %zu files and folders)\n", items,
           keys.size(), values.size(), entries.size(), files.size());
    return 0;
}
