// A whole run of the registry plan on a planted machine, for plan_run.test.sh:
// the four passes of a plain run (list and wipe, 64-bit view, then list and
// wipe, native view), everything they print and return written to a file that
// the scenario compares byte for byte with the output recorded from the
// program before its searches were tightened.
#include "front/privileges.h"
#include "plan/registry_plan.h"
#include "tests/registry/registry_fixture.h"

namespace {

const std::wstring kComponents =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";

// Installer components whose values take the value-data search off its usual
// path: data too long to come with an enumeration, data of other types that
// name the family, texts with an odd size or without their NUL, an empty text,
// a long value name, a matching value one level down, a key nobody may read.
void PlantUnusualComponents(REGSAM view) {
    const std::wstring filler(3000, L'x');
    const std::wstring base = kComponents + L"0KVTEST";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"LONGMATCH", L"A", filler + L"\\Kor Vane\\kvocsp.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"LONGMATCH", L"B", L"C:\\other.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"LONGOTHER", L"A", filler + filler, view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"LONGOTHER", L"B", L"C:\\kv\\other.dll", view));
    const std::string binary(100000, 'k');
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, base + L"OTHERTYPES", L"binary", REG_BINARY, binary.data(),
                         static_cast<DWORD>(binary.size()), view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"OTHERTYPES", L"expand", L"%ProgramFiles%\\Kor Vane\\kvssl.dll",
                          view, REG_EXPAND_SZ));
    ASSERT_TRUE(SetMultiString(HKEY_LOCAL_MACHINE, base + L"OTHERTYPES", L"multi", {L"kvtls.dll", L"Kor Vane"}, view));
    const std::wstring longExpand = filler + L"kvcng.dll";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"OTHERTYPES", L"long expand", longExpand, view, REG_EXPAND_SZ));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, base + L"ODDSIZE", L"odd", REG_SZ, "k\0v\0c\0n\0g", 9, view));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, base + L"NONUL", L"", REG_SZ, "k\0v\0s\0s\0p\0", 10, view));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, base + L"EMPTY", L"empty", REG_SZ, "", 0, view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"LONGNAME", std::wstring(300, L'n'), L"C:\\kvtls.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"NESTED", L"A", L"C:\\other.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"NESTED\\Inner", L"A", L"C:\\Kor Vane\\kvssp.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"NESTED\\Other", L"A", L"C:\\other.dll", view));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, base + L"UNREADABLE", L"A", L"C:\\Kor Vane\\kvssp.dll", view));
    ASSERT_TRUE(SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, base + L"UNREADABLE", L"O:SYD:P(A;;KA;;;SY)", view));
}

void RunPass(REGSAM view, int wipe) {
    g_registryView = view;
    u32 result = RunRegistryPlan(wipe, 0);
    WidePrint(L"== %ls %ls pass: result %u, reboot needed %u\n", view ? L"64-bit" : L"native",
              wipe ? L"wipe" : L"list", result, g_rebootNeeded);
}

TEST(PlanRunOnAPlantedMachine, DISABLED_FourPassesPrintedToAFile) {
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) PlantUnusualComponents(view);
    ASSERT_EQ(0u, GetPriveleges());
    std::string printed;
    {
        ConsoleCapture capture;
        RunPass(KEY_WOW64_64KEY, 0);
        RunPass(KEY_WOW64_64KEY, 1);
        RunPass(0, 0);
        RunPass(0, 1);
        printed = capture.out();
    }
    g_registryView = 0;
    EXPECT_TRUE(WriteFileBytes(L"C:\\kvtest-plan-run.txt", printed));
}

}  // namespace
