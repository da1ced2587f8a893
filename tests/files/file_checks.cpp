#include "tests/files/file_checks.h"

#include <regex>

std::string WithoutLineNumbers(const std::string& output) {
    static const std::regex line("install:[0-9]+:");
    return std::regex_replace(output, line, "install:#:");
}

std::string ReportText(const std::string& message, DWORD error) {
    char number[64];
    snprintf(number, sizeof number, "Error number 0x%lx (%lu).\n", static_cast<unsigned long>(error),
             static_cast<unsigned long>(error));
    std::string text = "An error occurred in running the program.\ninstall:#:" + message + "\n" + number;
    wchar_t* system = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, error, 0, reinterpret_cast<LPWSTR>(&system), 0, nullptr);
    if (system) {
        UINT codePage = ::GetConsoleOutputCP();
        int bytes = ::WideCharToMultiByte(codePage, 0, system, -1, nullptr, 0, nullptr, nullptr);
        std::string converted(static_cast<size_t>(bytes), '\0');
        ::WideCharToMultiByte(codePage, 0, system, -1, &converted[0], bytes, nullptr, nullptr);
        converted.resize(strlen(converted.c_str()));
        text += converted + "\n";
        ::LocalFree(system);
    }
    return text;
}

std::vector<std::wstring> ScheduledDeletions() {
    std::vector<std::wstring> entries = PendingFileRenames();
    std::vector<std::wstring> deletions;
    for (size_t i = 0; i < entries.size(); i += 2) {
        bool isDeletion = i + 1 >= entries.size() || entries[i + 1].empty();
        if (!isDeletion) continue;
        std::wstring source = entries[i];
        if (source.compare(0, 4, L"\\??\\") == 0) source.erase(0, 4);
        deletions.push_back(source);
    }
    return deletions;
}

int ScheduledPosition(const std::wstring& path) {
    std::vector<std::wstring> deletions = ScheduledDeletions();
    for (size_t i = 0; i < deletions.size(); ++i)
        if (_wcsicmp(deletions[i].c_str(), path.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

bool IsTempNameIn(const std::wstring& path, const std::wstring& directory) {
    static const std::wregex form(L"csp[0-9A-Fa-f]{1,4}\\.tmp");
    if (path.size() <= directory.size() + 1 || path.compare(0, directory.size(), directory) != 0 ||
        path[directory.size()] != L'\\')
        return false;
    return std::regex_match(path.substr(directory.size() + 1), form);
}

std::vector<std::wstring> TempNamesIn(const std::wstring& directory) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : DirectoryNames(directory))
        if (IsTempNameIn(directory + L"\\" + name, directory)) names.push_back(name);
    return names;
}

std::vector<std::wstring> RenameTargets(const std::string& output) {
    static const std::regex line("Rename: [^\n]* into ([^\n]*) success\\.\n");
    std::vector<std::wstring> targets;
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
        targets.push_back(Wide((*it)[1].str()));
    return targets;
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

HMODULE LoadCopyOfSystemLibrary(const std::wstring& path) {
    std::wstring source = KnownFolder(CSIDL_SYSTEM) + L"\\msimg32.dll";
    if (!::CopyFileW(source.c_str(), path.c_str(), FALSE)) return nullptr;
    return ::LoadLibraryW(path.c_str());
}
