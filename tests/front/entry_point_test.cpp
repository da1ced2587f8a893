#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "front/entry_point.h"
#include "run/process_state.h"
#include "tests/support/capture.h"

namespace {

typedef std::vector<std::wstring> Words;

// What reached the install command, and what it returns.
struct InstallCall {
    Words vector;
    bool terminated;
    std::wstring programName;
};
std::vector<InstallCall> g_installCalls;
u32 g_installResult = 0;

u32 RecordInstall(int argc, wchar_t** argv) {
    InstallCall call;
    for (int i = 0; i < argc; ++i) call.vector.push_back(argv[i]);
    call.terminated = argv[argc] == nullptr;
    call.programName = g_programName;
    g_installCalls.push_back(call);
    return g_installResult;
}

const wchar_t kProgram[] = L"C:\\Tools\\kvclean.exe";
const Words kPlain = {kProgram, L"-show", L"-clear"};
const Words kWindow = {kProgram, L"-show", L"-clear", L"-from_window"};
const Words kWindowWithKeys = {kProgram, L"-show", L"-clear", L"-delkeys", L"-from_window"};

const char kCaption[] = u8"Предупреждение";
const char kFirstWarning[] = u8"Все продукты компании Кор-Ване будут уничтожены! Продолжить?";
const char kKeyQuestion[] = u8"Удалить все закрытые ключи?";
const char kKeyConfirmation[] = u8"Точно удалить все закрытые ключи? Эта операция необратима.";
const char kHelpText[] = "Run with any parameter to clean out CSP.\nRun with -delkeys to remove private keys.\n";

class EntryPoint : public ::testing::Test {
protected:
    void SetUp() override {
        g_installCalls.clear();
        g_installResult = 0;
        g_programName = L"unset";
    }

    // Runs the entry point with the words after the program name, the dialogs
    // answered in order (0 beyond the list: a dialog that could not be shown).
    u32 Run(Words words, std::vector<int> answers = {}) {
        words.insert(words.begin(), kProgram);
        std::vector<wchar_t*> argv;
        for (std::wstring& word : words) argv.push_back(&word[0]);
        argv.push_back(nullptr);
        dialogs.reset();  // hooks on one entry must end in reverse order
        dialogs = std::make_unique<DialogAnswers>(std::move(answers));
        u32 result = RunEntryPoint(static_cast<int>(words.size()), argv.data(), RecordInstall);
        // Dialog texts as shown, in order, for comparing.
        shown.clear();
        for (const MessageBoxRecord& dialog : dialogs->shown()) shown.push_back(Utf8(dialog.text));
        return result;
    }

    // The one vector that reached the install command.
    Words Vector() {
        EXPECT_EQ(1u, g_installCalls.size());
        if (g_installCalls.size() != 1) return {};
        EXPECT_TRUE(g_installCalls[0].terminated);
        EXPECT_EQ(kProgram, g_installCalls[0].programName);
        return g_installCalls[0].vector;
    }

    ConsoleCapture capture;
    std::vector<std::pair<int, std::string>> locales;
    ScopedHook<&Win32Api::setlocale> locale{[this](int category, const char* name) -> char* {
        locales.push_back({category, name ? name : "(null)"});
        return nullptr;
    }};
    std::unique_ptr<DialogAnswers> dialogs;
    std::vector<std::string> shown;
};

typedef std::vector<std::string> Texts;

TEST_F(EntryPoint, SetsTheUsersLocaleForEverything) {
    Run({L"-show"});
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{LC_ALL, ""}}), locales);
}

TEST_F(EntryPoint, NoArgumentsAndNoRunsNothing) {
    EXPECT_EQ(1u, Run({}, {IDNO}));
    EXPECT_TRUE(g_installCalls.empty());
    EXPECT_EQ((Texts{kFirstWarning}), shown);
    const MessageBoxRecord& dialog = dialogs->shown()[0];
    EXPECT_EQ(kCaption, Utf8(dialog.caption));
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), dialog.style);
    EXPECT_EQ(nullptr, dialog.owner);
    EXPECT_EQ("", capture.out());
}

TEST_F(EntryPoint, NoArgumentsAndCancelOrAbortRunNothing) {
    EXPECT_EQ(1u, Run({}, {IDCANCEL}));
    EXPECT_EQ(1u, Run({}, {IDABORT}));
    EXPECT_TRUE(g_installCalls.empty());
}

TEST_F(EntryPoint, NoArgumentsAndYesRunsTheWindowVectorAndReturnsItsResult) {
    g_installResult = 0x80090300;
    EXPECT_EQ(0x80090300u, Run({}, {IDYES}));
    EXPECT_EQ(kWindow, Vector());
}

TEST_F(EntryPoint, NoArgumentsAndNoDialogRunsThePlainVector) {
    g_installResult = 5;
    EXPECT_EQ(5u, Run({}, {0}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_EQ((Texts{kFirstWarning}), shown);
}

TEST_F(EntryPoint, DelkeysYesYesYesRemovesTheKeys) {
    EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, IDYES, IDYES}));
    EXPECT_EQ(kWindowWithKeys, Vector());
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion, kKeyConfirmation}), shown);
    std::vector<UINT> styles;
    for (const MessageBoxRecord& dialog : dialogs->shown()) {
        styles.push_back(dialog.style);
        EXPECT_EQ(kCaption, Utf8(dialog.caption));
        EXPECT_EQ(nullptr, dialog.owner);
    }
    EXPECT_EQ((std::vector<UINT>{MB_YESNO, MB_YESNO, MB_YESNO | MB_ICONEXCLAMATION}), styles);
    EXPECT_EQ(0x34u, styles[2]);
}

TEST_F(EntryPoint, DelkeysYesThenNoKeepsTheKeys) {
    EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, IDNO}));
    EXPECT_EQ(kWindow, Vector());
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion}), shown);
}

TEST_F(EntryPoint, DelkeysRefusedAtTheConfirmationKeepsTheKeys) {
    for (int refusal : {IDNO, IDCANCEL, IDABORT}) {
        g_installCalls.clear();
        EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, IDYES, refusal}));
        EXPECT_EQ(kWindow, Vector());
    }
}

TEST_F(EntryPoint, DelkeysCancelAtTheKeyQuestionKeepsTheKeys) {
    EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, IDCANCEL}));
    EXPECT_EQ(kWindow, Vector());
}

TEST_F(EntryPoint, DelkeysAndNoRunsNothing) {
    EXPECT_EQ(1u, Run({L"-delkeys"}, {IDNO}));
    EXPECT_TRUE(g_installCalls.empty());
    EXPECT_EQ((Texts{kFirstWarning}), shown);
}

TEST_F(EntryPoint, DelkeysWithoutTheFirstDialogRunsNothing) {
    EXPECT_EQ(1u, Run({L"-delkeys"}, {0}));
    EXPECT_TRUE(g_installCalls.empty());
}

TEST_F(EntryPoint, DelkeysWithoutTheKeyQuestionRunsPlainly) {
    EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, 0}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion}), shown);
}

TEST_F(EntryPoint, DelkeysWithoutTheConfirmationRunsPlainly) {
    EXPECT_EQ(0u, Run({L"-delkeys"}, {IDYES, IDYES, 0}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_EQ((Texts{kFirstWarning, kKeyQuestion, kKeyConfirmation}), shown);
}

TEST_F(EntryPoint, DelkeysWithoutAnAnswerFallsThroughToTheHelpTest) {
    EXPECT_EQ(1u, Run({L"-delkeys/help"}, {IDYES, 0}));
    EXPECT_TRUE(g_installCalls.empty());
    EXPECT_EQ(kHelpText, capture.out());
}

TEST_F(EntryPoint, DelkeysInsideALongerWordIsAKeyRequest) {
    EXPECT_EQ(0u, Run({L"x-delkeysy"}, {IDYES, IDYES, IDYES}));
    EXPECT_EQ(kWindowWithKeys, Vector());
}

TEST_F(EntryPoint, DelkeysInCapitalsIsNotAKeyRequest) {
    EXPECT_EQ(0u, Run({L"-DELKEYS"}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_TRUE(shown.empty());
}

TEST_F(EntryPoint, PathWithAFolderBeginningWithHPrintsHelp) {
    EXPECT_EQ(1u, Run({L"C:\\home\\kv"}));
    EXPECT_TRUE(g_installCalls.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(kHelpText, capture.out());
}

TEST_F(EntryPoint, EveryHelpWordPrintsHelp) {
    for (const wchar_t* word : {L"help", L"xhelpx", L"-h", L"--hidden", L"/h", L"/?", L"?"}) {
        capture.clear();
        EXPECT_EQ(1u, Run({word})) << Utf8(word);
        EXPECT_EQ(kHelpText, capture.out()) << Utf8(word);
    }
    EXPECT_TRUE(g_installCalls.empty());
}

TEST_F(EntryPoint, HelpWordsAreCaseSensitive) {
    EXPECT_EQ(0u, Run({L"HELP"}));
    EXPECT_EQ(kPlain, Vector());
}

TEST_F(EntryPoint, ShowRunsBothPassesWithoutDialogs) {
    g_installResult = 0x7777777;
    EXPECT_EQ(0x7777777u, Run({L"-show"}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ("", capture.out());
}

TEST_F(EntryPoint, AnyOtherWordRunsThePlainVector) {
    EXPECT_EQ(0u, Run({L"-warn"}));
    EXPECT_EQ(kPlain, Vector());
}

TEST_F(EntryPoint, LaterArgumentsAreIgnored) {
    EXPECT_EQ(0u, Run({L"go", L"-delkeys", L"help", L"-warn"}));
    EXPECT_EQ(kPlain, Vector());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ("", capture.out());
}

TEST_F(EntryPoint, ProgramWithoutArgumentsEvenItsNameStillAsks) {
    dialogs = std::make_unique<DialogAnswers>(std::vector<int>{IDYES});
    wchar_t* argv[] = {nullptr};
    EXPECT_EQ(0u, RunEntryPoint(0, argv, RecordInstall));
    ASSERT_EQ(1u, g_installCalls.size());
    EXPECT_EQ(L"kvclean.exe", g_installCalls[0].vector[0]);
    EXPECT_EQ(L"kvclean.exe", g_installCalls[0].programName);
}

}  // namespace
