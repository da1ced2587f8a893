// Shared setup for the registry tests: real keys under test roots, the
// process-wide flags reset around each test, and reading captured output.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "run/process_state.h"
#include "tests/support/capture.h"
#include "tests/support/machine.h"

// What a capture printed, with the error reports taken out: `text` holds the
// progress lines, `reports` the message of each report in order.
struct Printed {
    std::string text;
    std::vector<std::string> reports;
};
Printed SplitReports(const ConsoleCapture& capture);

// A key that a test planted, removed again after the test.
struct PlantedKey {
    HKEY root;
    std::wstring path;
    REGSAM view;
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates root\path in the view and removes it after the test.
    void Plant(HKEY root, const std::wstring& path, REGSAM view = 0);
    // Removes root\path after the test, whoever made it.
    void RemoveAfterwards(HKEY root, const std::wstring& path, REGSAM view = 0);

private:
    std::vector<PlantedKey> planted_;
};

// The owner and the DACL of a key as self-relative descriptors, for comparison.
std::string KeySecurity(HKEY root, const std::wstring& path, REGSAM view = 0, DWORD openOptions = 0);
// Gives root\path a security descriptor written in SDDL.
bool SetKeySecurityFromSddl(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view = 0);

// Makes root\path a registry link to the key named by its full NT path.
bool CreateLinkKey(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view = 0);
bool LinkKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);

// Records the access mask and options of every RegOpenKeyExW call while it lives.
struct RecordedOpen {
    std::wstring name;
    DWORD options;
    REGSAM access;
};
class OpenRecorder {
public:
    OpenRecorder();
    const std::vector<RecordedOpen>& opens() const { return opens_; }

private:
    std::vector<RecordedOpen> opens_;
    ScopedHook<&Win32Api::RegOpenKeyExW> hook_;
};

// Makes the deletion of keys with one of the given names fail with
// ERROR_ACCESS_DENIED (the program deletes each key through its own handle).
class DeletionRefusal {
public:
    explicit DeletionRefusal(std::vector<std::wstring> names);
    ~DeletionRefusal();

private:
    ScopedHook<&Win32Api::RegOpenKeyExW> opens_;
    ScopedHook<&Win32Api::RegCloseKey> closes_;
    ScopedHook<&Win32Api::GetProcAddress> lookUps_;
};
