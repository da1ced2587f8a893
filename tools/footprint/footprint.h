// The planted trace of the product family, and the decoys beside it.
//
// Everything is described as plain rows: registry rows (keys and values) and
// file rows, each either part of the family (must be gone after a cleanup) or a
// decoy (must be exactly as planted after a cleanup).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

// kKeySettings: the private-key settings, removed only when the user asks for it.
enum class Role { kFamily, kDecoy, kKeySettings };

// Owner SYSTEM; administrators may read and take ownership, nothing more: a
// key that refuses deletion until its owner and then its DACL are taken over.
// (Wine does not let the take-ownership privilege override a DACL, so the
// right to take ownership is granted here explicitly.)
const wchar_t kLockedDown[] = L"O:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)(A;;WO;;;BA)";

// A registry key (valueName empty and isKey) or one value.
struct RegRow {
    Role role;
    HKEY root;
    std::wstring path;
    bool isKey;
    std::wstring valueName;  // for a value row; for a key row, the name of its one value
    DWORD type;              // REG_SZ, REG_MULTI_SZ (entries separated by '|'), REG_DWORD (decimal text)
    std::wstring data;
    const wchar_t* sddl;     // owner and DACL set on the key after planting, or null
};

// Where a file row lives. The 64-bit and 32-bit sides exist on a 64-bit machine only.
enum class FileBase { kProgramFiles, kCommonFiles, kSystem, kStartMenuPrograms, kWindowsInf };

struct FileRow {
    Role role;
    FileBase base;
    std::wstring relative;  // ends in '\' for a directory
    std::string content;
    bool readOnly;
};

struct Footprint {
    std::vector<RegRow> registry;
    std::vector<FileRow> files;
};

// The family's trace as its installers leave it, with the decoys around it.
void AddFamilyRegistry(Footprint& footprint);
void AddFamilyFiles(Footprint& footprint);
void AddDecoys(Footprint& footprint);
Footprint WholeFootprint();

// The machine: views, folders, planting primitives (machine.cpp).
bool IsWow64Machine();
struct RegistryView {
    REGSAM flag;
    const wchar_t* label;
};
std::vector<RegistryView> RegistryViews();
struct FileSide {
    bool redirectionOff;  // the 64-bit side of a 64-bit machine
    const wchar_t* label;
};
std::vector<FileSide> FileSides();
// The folder of a base on a side; empty when the machine cannot say.
std::wstring FolderOf(FileBase base, const FileSide& side);
// Runs `work` with file-system redirection off when the side asks for it.
template <typename Work>
void OnSide(const FileSide& side, Work work);
bool DisableRedirection(void** saved);
void RevertRedirection(void* saved);

template <typename Work>
void OnSide(const FileSide& side, Work work) {
    void* saved = nullptr;
    bool off = side.redirectionOff && DisableRedirection(&saved);
    work();
    if (off) RevertRedirection(saved);
}

bool PlantRow(const RegRow& row, REGSAM view);
void CreateDirectories(const std::wstring& path);
// Enables a privilege of the process's token (SE_BACKUP_NAME, ...); false when it cannot.
bool EnablePrivilege(const wchar_t* name);
bool PlantFile(const FileRow& row, const std::wstring& folder);
std::wstring MultiStringData(const std::wstring& entries);  // '|' separated -> NUL separated, closed
bool KeyPresent(HKEY root, const std::wstring& path, REGSAM view);
bool ValueMatches(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                  const std::wstring& data, REGSAM view, bool* present);
bool SecurityMatches(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view);

// The LSA package list and the default revocation provider (shared system values).
void PlantSystemLists();
// A registry link inside a family key pointing at another vendor's key.
void PlantRegistryLink();
struct SystemListState {
    bool familyPackagePresent;  // "kvtls" or "kvssl" still listed
    bool systemPackagesKept;    // the other entries still there, in order
    bool familyRevocationFirst;  // the revocation list does not start with "cryptnet.dll"
};
SystemListState SurveySystemLists();

// A heavy machine for benchmarks: unrelated Installer components, classes,
// interfaces and providers around the family.
const int kHeavyClasses = 20000;
const int kHeavyInterfaces = 10000;
void PlantHeavyMachine(int components, int classes = kHeavyClasses, int interfaces = kHeavyInterfaces);

// The entries of a REG_MULTI_SZ list of HKLM, up to its first empty one.
std::vector<std::wstring> SystemListEntries(const wchar_t* path, const wchar_t* name, REGSAM view);

// Another user of the machine: a ProfileList entry for `sid` whose profile
// folder holds NTUSER.DAT and UsrClass.dat, made of the footprint's rows of
// HKEY_CURRENT_USER and HKEY_CLASSES_ROOT (family and decoys). `loggedOn`
// loads both under HKEY_USERS\<sid> and <sid>_Classes, as a logon would.
// Prints how many registry keys of the family each hive holds.
int PlantUser(const Footprint& footprint, const std::wstring& sid, const std::wstring& folder, bool loggedOn);

// Prints how many items of the family the machine holds, by kind, as kvclean
// and kvscan count them: "present: N items (K registry keys, V values, L list
// entries, F files and folders)".
int CountFamily(const Footprint& footprint);

// Prints what is left of the family and whether the decoys are intact.
// Returns 0 when nothing of the family is left and every decoy is intact,
// else 1 (family left) | 2 (a decoy changed).
int Survey(const Footprint& footprint, bool listItems);

// Stable identifiers made from a label, for rows that need a GUID of their own
// (Installer components, other vendors' classes, MMC entries found by value).
std::wstring MadeUpGuid(const std::wstring& label);
std::wstring PackedGuid(const std::wstring& guid);
