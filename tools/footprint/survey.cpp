#include <cstdio>

#include "tools/footprint/footprint.h"

namespace {

struct Tally {
    int left = 0;
    int planted = 0;
};

bool FileHolds(const std::wstring& path, const std::string& content) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data(content.size() + 1, '\0');
    DWORD got = 0;
    BOOL ok = ::ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &got, nullptr);
    ::CloseHandle(file);
    return ok && got == content.size() && data.compare(0, got, content) == 0;
}

bool PathPresent(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsSharedBase(FileBase base) { return base == FileBase::kStartMenuPrograms || base == FileBase::kWindowsInf; }

int PendingRenames() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                        KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD bytes = 0;
    int count = 0;
    if (::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS) {
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                           &bytes);
        // Pairs of source and target; an empty target means deletion.
        size_t start = 0;
        int entries = 0;
        while (start < data.size()) {
            size_t end = data.find(L'\0', start);
            if (end == std::wstring::npos) break;
            if (end == start && entries % 2 == 0) break;
            ++entries;
            start = end + 1;
        }
        count = entries / 2;
    }
    ::RegCloseKey(key);
    return count;
}

}  // namespace

int Survey(const Footprint& footprint, bool listItems) {
    std::vector<RegistryView> views = RegistryViews();
    std::vector<Tally> registry(views.size());
    std::vector<int> settingsLeft(views.size(), 0);
    int decoys = 0, decoysChanged = 0;

    for (const RegRow& row : footprint.registry) {
        for (size_t v = 0; v < views.size(); ++v) {
            REGSAM view = views[v].flag;
            if (row.role == Role::kFamily) {
                bool present = KeyPresent(row.root, row.path, view);
                if (present && !row.isKey) ValueMatches(row.root, row.path, row.valueName, row.type, row.data, view, &present);
                ++registry[v].planted;
                if (present) {
                    ++registry[v].left;
                    if (listItems)
                        wprintf(L"  left (%ls): %ls%ls%ls\n", views[v].label, row.path.c_str(), row.isKey ? L"" : L" : ",
                                row.isKey ? L"" : row.valueName.c_str());
                }
            } else if (row.role == Role::kKeySettings) {
                if (KeyPresent(row.root, row.path, view)) ++settingsLeft[v];
            } else {
                bool present = false;
                bool intact = KeyPresent(row.root, row.path, view) &&
                              (row.isKey && row.valueName.empty() && row.data.empty()
                                   ? true
                                   : ValueMatches(row.root, row.path, row.valueName, row.type, row.data, view, &present)) &&
                              (!row.sddl || SecurityMatches(row.root, row.path, row.sddl, view));
                ++decoys;
                if (!intact) {
                    ++decoysChanged;
                    if (listItems)
                        wprintf(L"  decoy changed (%ls): %ls : %ls\n", views[v].label, row.path.c_str(),
                                row.valueName.c_str());
                }
            }
        }
    }

    std::vector<FileSide> sides = FileSides();
    std::vector<Tally> files(sides.size() + 1);  // the last one: folders shared by both sides
    for (size_t s = 0; s < sides.size(); ++s) {
        OnSide(sides[s], [&] {
            for (const FileRow& row : footprint.files) {
                if (IsSharedBase(row.base) && s > 0) continue;
                std::wstring folder = FolderOf(row.base, sides[s]);
                std::wstring path = folder + L"\\" + row.relative;
                if (!path.empty() && path.back() == L'\\') path.pop_back();
                if (row.role == Role::kFamily) {
                    Tally& tally = files[IsSharedBase(row.base) ? sides.size() : s];
                    ++tally.planted;
                    if (PathPresent(path)) {
                        ++tally.left;
                        if (listItems) wprintf(L"  left (%ls): %ls\n", sides[s].label, path.c_str());
                    }
                } else {
                    ++decoys;
                    if (!FileHolds(path, row.content)) {
                        ++decoysChanged;
                        if (listItems) wprintf(L"  decoy changed: %ls\n", path.c_str());
                    }
                }
            }
        });
    }

    SystemListState lists = SurveySystemLists();
    int familyLeft = (lists.familyPackagePresent ? 1 : 0) + (lists.familyRevocationFirst ? 1 : 0);
    ++decoys;
    if (!lists.systemPackagesKept) ++decoysChanged;

    printf("Family items left:\n");
    for (size_t v = 0; v < views.size(); ++v) {
        printf("  registry, %-13ls %5d of %d\n", (std::wstring(views[v].label) + L":").c_str(), registry[v].left,
               registry[v].planted);
        familyLeft += registry[v].left;
    }
    for (size_t s = 0; s <= sides.size(); ++s) {
        const wchar_t* label = s < sides.size() ? sides[s].label : L"shared";
        printf("  files, %-16ls %5d of %d\n", (std::wstring(label) + L":").c_str(), files[s].left, files[s].planted);
        familyLeft += files[s].left;
    }
    printf("  LSA security packages:  %s\n", lists.familyPackagePresent ? "kvtls or kvssl listed" : "clean");
    printf("  revocation provider:    %s\n", lists.familyRevocationFirst ? "not cryptnet.dll first" : "clean");
    printf("Decoys unchanged:         %d of %d\n", decoys - decoysChanged, decoys);
    printf("Private-key settings:    ");
    for (size_t v = 0; v < views.size(); ++v)
        printf(" %ls %s%s", views[v].label, settingsLeft[v] ? "kept" : "removed", v + 1 < views.size() ? "," : "\n");
    printf("Scheduled for the next reboot: %d\n", PendingRenames());
    return (familyLeft ? 1 : 0) | (decoysChanged ? 2 : 0);
}
