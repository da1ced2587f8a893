// A plain model of multi-string lists for checking what the repairs write,
// and generators of lists in every shape the machine might hold.
#pragma once

#include <random>
#include <string>
#include <vector>

typedef std::vector<std::wstring> Entries;

// The entries a list's bytes hold: whole UTF-16 units only, split at NULs, up
// to the first empty entry; a last entry without its NUL still counts.
inline Entries ModelEntries(const std::string& bytes) {
    std::wstring units(bytes.size() / 2, L'\0');
    if (!units.empty()) memcpy(&units[0], bytes.data(), units.size() * 2);
    Entries entries;
    size_t start = 0;
    while (start < units.size()) {
        size_t end = units.find(L'\0', start);
        if (end == std::wstring::npos) end = units.size();
        if (end == start) break;
        entries.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

// A well-formed list: each entry and its NUL, then the closing NUL.
inline std::string WellFormed(const Entries& entries) {
    std::wstring units;
    for (const std::wstring& entry : entries) units += entry + L'\0';
    units += L'\0';
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

inline std::string Bytes(const std::wstring& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

// The list after a repair: the first entry equal to `removed` goes; the
// `restored` names are appended, in order, where absent.
inline Entries Repaired(Entries entries, const std::wstring& removed, const Entries& restored = {}) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == removed) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    for (const std::wstring& name : restored) {
        bool present = false;
        for (const std::wstring& entry : entries) present = present || entry == name;
        if (!present) entries.push_back(name);
    }
    return entries;
}

// Random lists: system and family names, near misses, random text, and
// every malformation (no closing NUL, no NUL at all, odd length, junk after
// an empty entry, random bytes).
class ListGenerator {
public:
    explicit ListGenerator(unsigned seed) : random_(seed) {}

    std::string Next() {
        static const wchar_t* const kNames[] = {L"kvtls", L"kvssl", L"kvtls2", L"KVTLS", L"kvtl", L"Kvssl", L"kvssl ",
                                                L"xkvtls", L"msv1_0", L"schannel", L"kerberos", L"wdigest", L"tspkg",
                                                L"pku2u", L"livessp", L"kvtlskvtls"};
        int shape = Pick(0, 9);
        if (shape == 9) {
            std::string bytes(static_cast<size_t>(Pick(0, 80)), '\0');
            for (char& byte : bytes) byte = static_cast<char>(Pick(0, 255));
            if (Pick(0, 1)) bytes += Bytes(L"kvtls");
            return bytes;
        }
        Entries entries;
        int count = Pick(0, 8);
        for (int i = 0; i < count; ++i) {
            if (Pick(0, 3) == 0) {
                std::wstring text(static_cast<size_t>(Pick(1, 10)), L'a');
                for (wchar_t& unit : text) unit = static_cast<wchar_t>(Pick(1, 0xFFFF));
                entries.push_back(text);
            } else {
                entries.push_back(kNames[Pick(0, sizeof(kNames) / sizeof(kNames[0]) - 1)]);
            }
        }
        std::string bytes = WellFormed(entries);
        switch (shape) {
            case 1:  // no closing NUL
                bytes.resize(bytes.size() - 2);
                break;
            case 2:  // the last entry without its NUL
                bytes.resize(bytes.size() >= 4 ? bytes.size() - 4 : 0);
                break;
            case 3:  // an odd byte after the list
                bytes += static_cast<char>(Pick(0, 255));
                break;
            case 4:  // cut at any byte
                bytes.resize(static_cast<size_t>(Pick(0, static_cast<int>(bytes.size()))));
                break;
            case 5:  // entries after the list's end
                bytes += WellFormed({L"kvtls", L"kvssl", L"tail"});
                break;
            case 6:  // extra closing NULs
                bytes += std::string(static_cast<size_t>(Pick(1, 6)), '\0');
                break;
            default:
                break;
        }
        return bytes;
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

private:
    std::mt19937 random_;
};
