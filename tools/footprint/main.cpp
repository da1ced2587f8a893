// kvfootprint plant | plant-unrecorded | plant-heavy N [CLASSES INTERFACES] | survey [--list] | count |
//             save-registry FOLDER | plant-user SID FOLDER [--logged-on]
// plant-unrecorded: what an undo file does not bring back, the files and the registry link.
// save-registry: HKEY_LOCAL_MACHINE (both views) and HKEY_USERS (every user's
// hive) into FOLDER\HKLM.reg and FOLDER\HKU.reg, as Wine's server writes a
// hive: every key and value, at once, without stopping anything.
#include <cstdio>

#include "tools/footprint/footprint.h"

Footprint WholeFootprint() {
    Footprint footprint;
    AddFamilyRegistry(footprint);
    AddFamilyFiles(footprint);
    AddDecoys(footprint);
    return footprint;
}

namespace {

int Plant(const Footprint& footprint, bool withRegistry) {
    int failures = 0;
    int registryRows = 0, fileRows = 0;
    if (withRegistry) {
        for (const RegistryView& view : RegistryViews())
            for (const RegRow& row : footprint.registry) {
                ++registryRows;
                if (!PlantRow(row, view.flag)) {
                    ++failures;
                    wprintf(L"could not plant %ls : %ls (%ls)\n", row.path.c_str(), row.valueName.c_str(),
                            view.label);
                }
            }
        PlantSystemLists();
    }
    PlantRegistryLink();
    std::vector<FileSide> sides = FileSides();
    for (size_t s = 0; s < sides.size(); ++s) {
        OnSide(sides[s], [&] {
            for (const FileRow& row : footprint.files) {
                bool shared = row.base == FileBase::kStartMenuPrograms || row.base == FileBase::kWindowsInf;
                if (shared && s > 0) continue;
                ++fileRows;
                std::wstring folder = FolderOf(row.base, sides[s]);
                if (folder.empty() || !PlantFile(row, folder)) {
                    ++failures;
                    wprintf(L"could not plant %ls\\%ls\n", folder.c_str(), row.relative.c_str());
                }
            }
        });
    }
    printf("planted %d registry rows and %d file rows, %d failed\n", registryRows, fileRows, failures);
    return failures ? 1 : 0;
}

int SaveRegistry(const std::wstring& folder) {
    if (!EnablePrivilege(SE_BACKUP_NAME)) {  // RegSaveKeyW needs it
        fprintf(stderr, "kvfootprint: the backup privilege cannot be enabled\n");
        return 1;
    }
    struct Root {
        HKEY key;
        const wchar_t* file;
    };
    int failures = 0;
    for (Root root : {Root{HKEY_LOCAL_MACHINE, L"HKLM.reg"}, Root{HKEY_USERS, L"HKU.reg"}}) {
        std::wstring path = folder + L"\\" + root.file;
        DeleteFileW(path.c_str());
        LONG status = RegSaveKeyW(root.key, path.c_str(), nullptr);
        if (status != ERROR_SUCCESS) {
            fwprintf(stderr, L"kvfootprint: %ls not saved (error %ld)\n", path.c_str(), status);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    Footprint footprint = WholeFootprint();
    if (command == L"plant") return Plant(footprint, true);
    if (command == L"plant-unrecorded") return Plant(footprint, false);
    if (command == L"plant-heavy" && argc > 2) {
        PlantHeavyMachine(_wtoi(argv[2]), argc > 3 ? _wtoi(argv[3]) : kHeavyClasses,
                          argc > 4 ? _wtoi(argv[4]) : kHeavyInterfaces);
        return 0;
    }
    if (command == L"survey") return Survey(footprint, argc > 2 && std::wstring(argv[2]) == L"--list");
    if (command == L"count") return CountFamily(footprint);
    if (command == L"save-registry" && argc > 2) return SaveRegistry(argv[2]);
    if (command == L"plant-user" && argc > 3)
        return PlantUser(footprint, argv[2], argv[3], argc > 4 && std::wstring(argv[4]) == L"--logged-on");
    fprintf(stderr,
            "usage: kvfootprint plant | plant-unrecorded | plant-heavy N [CLASSES INTERFACES] | survey [--list] | "
            "count | save-registry FOLDER | plant-user SID FOLDER [--logged-on]\n");
    return 64;
}
