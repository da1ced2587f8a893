// A plain model of what the list repairs write, and generators of lists in
// every shape the machine might hold.
//
// The model works on the list's units as text, with no notion of where a list
// ends: an entry is whatever stands between two NULs (or the start, or the
// end), so it cannot share a walking rule, or its mistakes, with the program.
#pragma once

#include <random>
#include <string>
#include <vector>

typedef std::vector<std::wstring> Entries;

inline std::string Bytes(const std::wstring& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

// The bytes of a literal's units, NULs inside included, its own terminator not.
template <size_t N>
std::string UnitBytes(const wchar_t (&units)[N]) {
    return Bytes(std::wstring(units, N - 1));
}

// A well-formed list: each entry and its NUL, then the closing NUL.
inline std::string WellFormed(const Entries& entries) {
    std::wstring units;
    for (const std::wstring& entry : entries) units += entry + L'\0';
    units += L'\0';
    return Bytes(units);
}

namespace list_model {

const std::wstring kNul(1, L'\0');

inline bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// With a NUL put in front, every entry is a NUL and its text, followed by a
// NUL or the end. Cutting "NUL text" out of "NUL text NUL" until none is left
// takes every occurrence, neighbours included.
inline std::wstring Without(const std::wstring& units, const std::wstring& removed) {
    std::wstring text = kNul + units;
    for (size_t at; (at = text.find(kNul + removed + kNul)) != std::wstring::npos;) text.erase(at, removed.size() + 1);
    if (EndsWith(text, kNul + removed)) text.erase(text.size() - removed.size());
    return text.substr(1);
}

inline bool Holds(const std::wstring& units, const std::wstring& name) {
    return (kNul + units + kNul).find(kNul + name + kNul) != std::wstring::npos;
}

// `name` at the list's end: before its closing NUL (a NUL after a NUL, or a
// lone NUL); else after the last entry, given its NUL, with a closing NUL.
inline std::wstring Appended(std::wstring units, const std::wstring& name) {
    if (units == kNul || EndsWith(units, kNul + kNul)) return units.insert(units.size() - 1, name + kNul);
    if (!units.empty() && units.back() != L'\0') units += kNul;
    return units + name + kNul + kNul;
}

}  // namespace list_model

// The bytes a repair writes for a list's bytes: every entry equal to
// `removed` goes with its NUL, the `restored` names are added in order where
// absent, and everything else stays byte for byte (an odd last byte too).
inline std::string Repaired(const std::string& bytes, const std::wstring& removed, const Entries& restored = {}) {
    std::wstring units(bytes.size() / 2, L'\0');
    if (!units.empty()) memcpy(&units[0], bytes.data(), units.size() * 2);
    units = list_model::Without(units, removed);
    for (const std::wstring& name : restored)
        if (!list_model::Holds(units, name)) units = list_model::Appended(units, name);
    return Bytes(units) + bytes.substr(bytes.size() / 2 * 2);
}

// Random lists: system and family names, near misses, empty entries, random
// text, and every malformation (no closing NUL, no NUL at all, odd length,
// entries after an empty entry, random bytes).
class ListGenerator {
public:
    explicit ListGenerator(unsigned seed) : random_(seed) {}

    std::string Next() {
        static const wchar_t* const kNames[] = {L"kvtls", L"kvssl", L"kvtls2", L"KVTLS", L"kvtl", L"Kvssl", L"kvssl ",
                                                L"xkvtls", L"msv1_0", L"schannel", L"kerberos", L"wdigest", L"tspkg",
                                                L"pku2u", L"livessp", L"kvtlskvtls", L""};
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
            case 5:  // entries after an empty entry
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
