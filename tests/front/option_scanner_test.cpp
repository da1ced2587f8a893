#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/option_scanner.h"
#include "tests/support/capture.h"

namespace {

const LongOption kOptions[] = {
    {L"show", 's'}, {L"clear", 'c'}, {L"delkeys", 'd'}, {L"warn", 'w'}, {L"from_window", '0'}, {L"help", 'h'},
    {nullptr, 0},
};

// One scan over a vector whose element 0 is "kv.exe": the codes returned up to
// the end, what went to standard error, and the vector as the scan left it.
struct Scan {
    std::vector<int> codes;
    std::string errors;
    std::vector<std::wstring> after;
    int next;
};

Scan ScanAll(std::vector<std::wstring> words) {
    words.insert(words.begin(), L"kv.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());

    ConsoleCapture capture;
    OptionScan state = kFreshOptionScan;
    Scan scan;
    for (int code = 0; code != kScanDone && scan.codes.size() < 20;) {
        code = ScanLongOption(argc, argv.data(), kOptions, &state);
        scan.codes.push_back(code);
    }
    scan.errors = capture.err();
    EXPECT_EQ("", capture.out());
    for (int i = 0; i < argc; ++i) scan.after.push_back(argv[i]);
    scan.next = state.next;
    return scan;
}

typedef std::vector<int> Codes;
typedef std::vector<std::wstring> Words;

TEST(OptionScanner, FullNamesWithOneOrTwoDashes) {
    Scan scan = ScanAll({L"-show", L"--clear", L"-delkeys", L"--warn", L"-from_window", L"--help"});
    EXPECT_EQ((Codes{'s', 'c', 'd', 'w', '0', 'h', -1}), scan.codes);
    EXPECT_EQ("", scan.errors);
    EXPECT_EQ(7, scan.next);
}

TEST(OptionScanner, UniqueBeginningOfANameIsThatOption) {
    EXPECT_EQ((Codes{'s', 's', 'c', '0', 'd', -1}), ScanAll({L"-sh", L"-s", L"--cl", L"-from", L"-delk"}).codes);
}

TEST(OptionScanner, NoArgumentsMeansNoOptions) {
    Scan scan = ScanAll({});
    EXPECT_EQ((Codes{-1}), scan.codes);
    EXPECT_EQ(1, scan.next);
}

// The argument is refused with this message on standard error and the scan ends.
void ExpectRefused(const wchar_t* argument, const std::string& message) {
    Scan scan = ScanAll({argument});
    EXPECT_EQ((Codes{'?', -1}), scan.codes) << message;
    EXPECT_EQ(message, scan.errors);
}

TEST(OptionScanner, CapitalsAreUnrecognizedWithTheOneDashMessage) {
    ExpectRefused(L"-SHOW", "kv.exe: unrecognized option `-SHOW'\n");
    ExpectRefused(L"-S", "kv.exe: unrecognized option `-S'\n");
}

TEST(OptionScanner, UnknownNameAfterTwoDashesHasTheTwoDashMessage) {
    ExpectRefused(L"--Show", "kv.exe: unrecognized option `--Show'\n");
}

TEST(OptionScanner, NameLongerThanAnOptionIsUnrecognized) {
    ExpectRefused(L"-showx", "kv.exe: unrecognized option `-showx'\n");
}

TEST(OptionScanner, ValueAfterTwoDashesNamesTheWholeOption) {
    ExpectRefused(L"--show=1", "kv.exe: option `--show' doesn't allow an argument\n");
    ExpectRefused(L"--sh=", "kv.exe: option `--show' doesn't allow an argument\n");
}

TEST(OptionScanner, ValueAfterOneDashNamesTheDashAndTheWholeOption) {
    ExpectRefused(L"-sh=1", "kv.exe: option `-show' doesn't allow an argument\n");
    ExpectRefused(L"-f=", "kv.exe: option `-from_window' doesn't allow an argument\n");
}

TEST(OptionScanner, EmptyNameIsAmbiguousAndQuotesTheArgument) {
    ExpectRefused(L"--=x", "kv.exe: option `--=x' is ambiguous\n");
    ExpectRefused(L"-=", "kv.exe: option `-=' is ambiguous\n");
}

TEST(OptionScanner, ScanGoesOnAfterAnError) {
    Scan scan = ScanAll({L"-x", L"-show", L"--clear=yes", L"-clear"});
    EXPECT_EQ((Codes{'?', 's', '?', 'c', -1}), scan.codes);
    EXPECT_EQ("kv.exe: unrecognized option `-x'\nkv.exe: option `--clear' doesn't allow an argument\n",
              scan.errors);
}

TEST(OptionScanner, NonOptionsBetweenOptionsAreSkippedAndMovedBehind) {
    Scan scan = ScanAll({L"first", L"-show", L"-", L"second", L"-clear", L"third"});
    EXPECT_EQ((Codes{'s', 'c', -1}), scan.codes);
    EXPECT_EQ((Words{L"kv.exe", L"-show", L"-clear", L"first", L"-", L"second", L"third"}), scan.after);
    EXPECT_EQ(3, scan.next);
}

TEST(OptionScanner, DoubleDashEndsTheScan) {
    Scan scan = ScanAll({L"-show", L"--", L"-clear", L"-bogus"});
    EXPECT_EQ((Codes{'s', -1}), scan.codes);
    EXPECT_EQ("", scan.errors);
    EXPECT_EQ((Words{L"kv.exe", L"-show", L"--", L"-clear", L"-bogus"}), scan.after);
    EXPECT_EQ(3, scan.next);
}

TEST(OptionScanner, DoubleDashAfterNonOptionsKeepsThemBeforeTheRest) {
    Scan scan = ScanAll({L"word", L"-show", L"--", L"-clear"});
    EXPECT_EQ((Codes{'s', -1}), scan.codes);
    EXPECT_EQ((Words{L"kv.exe", L"-show", L"--", L"word", L"-clear"}), scan.after);
    EXPECT_EQ(3, scan.next);
}

TEST(OptionScanner, OnlyNonOptionsGiveNoOptions) {
    Scan scan = ScanAll({L"one", L"two"});
    EXPECT_EQ((Codes{-1}), scan.codes);
    EXPECT_EQ(1, scan.next);
}

TEST(OptionScanner, MessagesNameTheProgramAsStarted) {
    std::vector<std::wstring> words = {L"C:\\Program Files\\Кор\\kvclean.exe", L"-bogus"};
    std::vector<wchar_t*> argv = {&words[0][0], &words[1][0], nullptr};
    ConsoleCapture capture;
    OptionScan state = kFreshOptionScan;
    EXPECT_EQ(kScanError, ScanLongOption(2, argv.data(), kOptions, &state));
    EXPECT_EQ(u8"C:\\Program Files\\Кор\\kvclean.exe: unrecognized option `-bogus'\n", capture.err());
}

}  // namespace
