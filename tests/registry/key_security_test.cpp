#include "registry/key_security.h"
#include "tests/registry/registry_fixture.h"

namespace {

const wchar_t kTemplate[] = L"SOFTWARE\\Classes\\CLSID";
// Owner Everyone, one ACE for Everyone: unlike the template in both parts.
const wchar_t kForeignSddl[] = L"O:WDD:P(A;;KR;;;WD)";

class ChangeRightTest : public RegistryTest {};

TEST_F(ChangeRightTest, GivesTheKeyTheTemplatesOwnerAndDacl) {
    const std::wstring path = L"SOFTWARE\\KvTestRights";
    Plant(HKEY_LOCAL_MACHINE, path);
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, path, kForeignSddl));
    const std::string templateSecurity = KeySecurity(HKEY_LOCAL_MACHINE, kTemplate);
    ASSERT_FALSE(templateSecurity.empty());
    ASSERT_NE(templateSecurity, KeySecurity(HKEY_LOCAL_MACHINE, path));
    ConsoleCapture capture;
    EXPECT_EQ(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    EXPECT_EQ("", capture.out());
    EXPECT_EQ(templateSecurity, KeySecurity(HKEY_LOCAL_MACHINE, path));
}

TEST_F(ChangeRightTest, WritesOwnerThenDaclEachThroughAnOpenAskingOnlyForThatRight) {
    const std::wstring path = L"SOFTWARE\\KvTestRightsOrder";
    Plant(HKEY_LOCAL_MACHINE, path);
    // Already equal to the template: written all the same.
    ASSERT_EQ(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    std::vector<SECURITY_INFORMATION> written;
    auto previous = ScopedHook<&Win32Api::RegSetKeySecurity>::Current();
    ScopedHook<&Win32Api::RegSetKeySecurity> record(
        [&](HKEY key, SECURITY_INFORMATION part, PSECURITY_DESCRIPTOR descriptor) {
            written.push_back(part);
            return previous(key, part, descriptor);
        });
    OpenRecorder recorder;
    EXPECT_EQ(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    EXPECT_EQ((std::vector<SECURITY_INFORMATION>{OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION}), written);
    std::vector<REGSAM> targetOpens;
    for (const RecordedOpen& open : recorder.opens())
        if (open.name == path) targetOpens.push_back(open.access);
    EXPECT_EQ((std::vector<REGSAM>{WRITE_OWNER, WRITE_DAC}), targetOpens);
}

TEST_F(ChangeRightTest, MissingSubkeyFailsBothOpensAndWritesNothing) {
    int writes = 0;
    ScopedHook<&Win32Api::RegSetKeySecurity> count(
        [&](HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) -> LONG { return ++writes, ERROR_SUCCESS; });
    ConsoleCapture capture;
    EXPECT_EQ(2u, ChangeRight(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTestNoSuchKey"));
    EXPECT_EQ((std::vector<std::string>{"RegOpenKey()", "RegOpenKey()"}), SplitReports(capture).reports);
    EXPECT_EQ(0, writes);
}

TEST_F(ChangeRightTest, MissingTemplateFailsEveryTakeover) {
    const std::wstring path = L"SOFTWARE\\KvTestNoTemplate";
    Plant(HKEY_LOCAL_MACHINE, path);
    auto noTemplate = FailWhen<&Win32Api::RegOpenKeyExW>(
        [](HKEY, LPCWSTR name, DWORD, REGSAM, PHKEY) { return wcscmp(name, kTemplate) == 0; },
        LONG(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
    ConsoleCapture capture;
    EXPECT_NE(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    EXPECT_EQ((std::vector<std::string>{"RegOpenKey() in right ", "GetRights() fail"}), SplitReports(capture).reports);
}

// A failed read of the template reports the error that read returned, not
// whatever an earlier call left behind.
TEST_F(ChangeRightTest, FailedTemplateReadReportsItsOwnError) {
    const std::wstring path = L"SOFTWARE\\KvTestTemplateRead";
    Plant(HKEY_LOCAL_MACHINE, path);
    for (bool sizeOnly : {true, false}) {
        auto previous = ScopedHook<&Win32Api::RegGetKeySecurity>::Current();
        ScopedHook<&Win32Api::RegGetKeySecurity> refuse(
            [&](HKEY key, SECURITY_INFORMATION part, PSECURITY_DESCRIPTOR descriptor, LPDWORD size) -> LONG {
                if (part == DACL_SECURITY_INFORMATION && (descriptor == nullptr) == sizeOnly)
                    return ERROR_INVALID_SECURITY_DESCR;
                return previous(key, part, descriptor, size);
            });
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        ConsoleCapture capture;
        EXPECT_EQ(static_cast<u32>(sizeOnly ? ERROR_INSUFFICIENT_BUFFER | ERROR_INVALID_SECURITY_DESCR
                                            : ERROR_INVALID_SECURITY_DESCR),
                  ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()))
            << sizeOnly;
        EXPECT_EQ(std::vector<std::string>{"GetRights() fail"}, SplitReports(capture).reports) << sizeOnly;
    }
}

TEST_F(ChangeRightTest, FailedWritesAreReportedByPart) {
    const std::wstring path = L"SOFTWARE\\KvTestWriteFails";
    Plant(HKEY_LOCAL_MACHINE, path);
    auto refuse = FailAlways<&Win32Api::RegSetKeySecurity>(LONG(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED);
    ConsoleCapture capture;
    EXPECT_EQ(5u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    EXPECT_EQ((std::vector<std::string>{"SetSecurityInfo()", "RegSetKeySecurity()"}), SplitReports(capture).reports);
}

TEST_F(ChangeRightTest, DescriptorsThatCannotBeAllocatedAreOutOfMemory) {
    const std::wstring path = L"SOFTWARE\\KvTestRightsMemory";
    Plant(HKEY_LOCAL_MACHINE, path);
    auto shortage = FailNthAllocation(2);
    ConsoleCapture capture;
    EXPECT_NE(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    EXPECT_EQ(std::vector<std::string>{"Out of memory."}, SplitReports(capture).reports);
}

TEST_F(ChangeRightTest, GetRightsWithoutBuffersTellsTheSizes) {
    DWORD ownerSize = 0, daclSize = 0;
    EXPECT_EQ(static_cast<u32>(ERROR_INSUFFICIENT_BUFFER), GetRights(nullptr, nullptr, &ownerSize, &daclSize));
    EXPECT_GT(ownerSize, 0u);
    EXPECT_GT(daclSize, 0u);
}

TEST_F(ChangeRightTest, SixtyFourBitPassOpensTemplateAndTargetInTheSixtyFourBitView) {
    const std::wstring path = L"SOFTWARE\\KvTestRightsView";
    Plant(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, path, kForeignSddl, KEY_WOW64_64KEY));
    g_registryView = KEY_WOW64_64KEY;
    OpenRecorder recorder;
    EXPECT_EQ(0u, ChangeRight(HKEY_LOCAL_MACHINE, path.c_str()));
    ASSERT_EQ(4u, recorder.opens().size());
    for (const RecordedOpen& open : recorder.opens())
        EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), open.access & KEY_WOW64_64KEY) << Utf8(open.name);
    EXPECT_EQ(KeySecurity(HKEY_LOCAL_MACHINE, kTemplate, KEY_WOW64_64KEY),
              KeySecurity(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
}

}  // namespace
