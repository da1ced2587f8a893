// A heavy machine for benchmarks: the registry of a busy workstation around
// the family, in the keys that the cleanup walks.
#include <cstdio>

#include "tools/footprint/footprint.h"

namespace {

HKEY CreateKeyUnder(HKEY parent, const std::wstring& name, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

void SetText(HKEY key, const std::wstring& name, const std::wstring& text) {
    ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

const wchar_t* const kVendors[] = {L"Microsoft Office\\root\\Office16", L"Adobe\\Acrobat DC\\Acrobat",
                                   L"Common Files\\microsoft shared\\VSTO", L"Mozilla Firefox",
                                   L"Microsoft Visual Studio\\2022\\Community\\Common7\\IDE", L"Java\\jre1.8.0_361\\bin"};

// Keys named by numbered made-up GUIDs under one parent, each with a few values.
template <typename Fill>
void PlantMany(HKEY root, const wchar_t* parentPath, int count, const wchar_t* label, bool packed, REGSAM view,
               Fill fill) {
    HKEY parent = CreateKeyUnder(root, parentPath, view);
    if (!parent) return;
    for (int i = 0; i < count; ++i) {
        std::wstring guid = MadeUpGuid(std::wstring(label) + std::to_wstring(i));
        HKEY key = CreateKeyUnder(parent, packed ? PackedGuid(guid) : guid, view);
        if (!key) continue;
        fill(key, i);
        ::RegCloseKey(key);
    }
    ::RegCloseKey(parent);
}

}  // namespace

void PlantHeavyMachine(int components, int classes, int interfaces) {
    for (const RegistryView& view : RegistryViews()) {
        PlantMany(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
                  components, L"heavy component ", true, view.flag, [](HKEY key, int i) {
                      int values = 2 + i % 4;
                      for (int v = 0; v < values; ++v) {
                          std::wstring product = PackedGuid(MadeUpGuid(L"heavy product " + std::to_wstring(v * 7 + i % 13)));
                          std::wstring path = std::wstring(L"C:\\Program Files\\") + kVendors[(i + v) % 6] +
                                              L"\\module" + std::to_wstring(i) + L"_" + std::to_wstring(v) + L".dll";
                          SetText(key, product, path);
                      }
                  });
        PlantMany(HKEY_CLASSES_ROOT, L"CLSID", classes, L"heavy class ", false, view.flag, [](HKEY key, int i) {
            SetText(key, L"", L"Heavy Class " + std::to_wstring(i));
            HKEY server = CreateKeyUnder(key, L"InprocServer32", 0);
            if (server) {
                SetText(server, L"", L"C:\\Windows\\system32\\heavy" + std::to_wstring(i % 50) + L".dll");
                SetText(server, L"ThreadingModel", L"Both");
                ::RegCloseKey(server);
            }
        });
        PlantMany(HKEY_CLASSES_ROOT, L"Interface", interfaces, L"heavy interface ", false, view.flag, [](HKEY key, int i) {
            SetText(key, L"", L"IHeavy" + std::to_wstring(i));
        });
    }
    HKEY providers = CreateKeyUnder(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Cryptography\\Providers", 0);
    if (providers) {
        for (int i = 0; i < 30; ++i) {
            HKEY key = CreateKeyUnder(providers, L"Heavy Vendor Provider " + std::to_wstring(i), 0);
            if (!key) continue;
            SetText(key, L"Image Path", L"heavy" + std::to_wstring(i) + L".dll");
            ::RegCloseKey(key);
        }
        ::RegCloseKey(providers);
    }
    printf("planted a heavy machine: %d Installer components, %d classes, %d interfaces, 30 providers\n", components,
           classes, interfaces);
}
