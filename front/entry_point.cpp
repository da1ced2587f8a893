#include "front/entry_point.h"

#include "run/process_state.h"

namespace {

const wchar_t kCaption[] = L"Предупреждение";
const wchar_t kFirstWarning[] = L"Все продукты компании Кор-Ване будут уничтожены! Продолжить?";
const wchar_t kKeyQuestion[] = L"Удалить все закрытые ключи?";
const wchar_t kKeyConfirmation[] = L"Точно удалить все закрытые ключи? Эта операция необратима.";

// What the answers lead to: one of the install command's argument vectors,
// stopping, or (a dialog of the key request could not be shown) the help test.
enum Choice { kPlainVector, kWindowVector, kWindowWithKeysVector, kStop, kUndecided };

// Substrings of the first argument that ask for help, tested in this order.
const wchar_t* const kHelpWords[] = {L"help", L"-h", L"\\h", L"/h", L"?"};

int Ask(const wchar_t* text, UINT style) { return win32.MessageBoxW(nullptr, text, kCaption, style); }

bool IsRefusal(int answer) { return answer == IDNO || answer == IDCANCEL || answer == IDABORT; }

bool Contains(const wchar_t* text, const wchar_t* part) { return win32.wcsstr(text, part) != nullptr; }

u32 RunInstall(Choice vector, wchar_t* programName, InstallCommandFn install) {
    wchar_t show[] = L"-show";
    wchar_t clear[] = L"-clear";
    wchar_t delkeys[] = L"-delkeys";
    wchar_t fromWindow[] = L"-from_window";
    wchar_t* arguments[6] = {programName, show, clear};
    int count = 3;
    if (vector == kWindowWithKeysVector) arguments[count++] = delkeys;
    if (vector != kPlainVector) arguments[count++] = fromWindow;
    arguments[count] = nullptr;
    g_programName = programName;
    return install(count, arguments);
}

// The three dialogs of a key request.
Choice ChooseForKeyRequest() {
    if (Ask(kFirstWarning, MB_YESNO) != IDYES) return kStop;
    int answer = Ask(kKeyQuestion, MB_YESNO);
    if (IsRefusal(answer)) return kWindowVector;
    if (answer != IDYES) return kUndecided;
    answer = Ask(kKeyConfirmation, MB_YESNO | MB_ICONEXCLAMATION);
    if (IsRefusal(answer)) return kWindowVector;
    if (answer != IDYES) return kUndecided;
    return kWindowWithKeysVector;
}

}  // namespace

bool AsksForHelp(const wchar_t* argument) {
    for (const wchar_t* word : kHelpWords)
        if (Contains(argument, word)) return true;
    return false;
}

u32 RunEntryPoint(int argc, wchar_t** argv, InstallCommandFn install) {
    win32.setlocale(LC_ALL, "");
    // Started without even its own name: the usage text keeps the default one.
    static wchar_t defaultName[] = L"kvclean.exe";
    wchar_t* programName = argc >= 1 && argv[0] ? argv[0] : defaultName;

    if (argc <= 1) {
        int answer = Ask(kFirstWarning, MB_YESNO);
        if (answer == IDYES) return RunInstall(kWindowVector, programName, install);
        if (IsRefusal(answer)) return 1;
        // No dialog can be shown here (no desktop): the user started the
        // program, so it runs as from a command line.
        return RunInstall(kPlainVector, programName, install);
    }

    const wchar_t* first = argv[1];
    if (Contains(first, L"-delkeys")) {
        Choice choice = ChooseForKeyRequest();
        if (choice == kStop) return 1;
        if (choice != kUndecided) return RunInstall(choice, programName, install);
    }
    if (AsksForHelp(first)) {
        WidePrint(L"Run with any parameter to clean out CSP.\n");
        WidePrint(L"Run with -delkeys to remove private keys.\n");
        return 1;
    }
    return RunInstall(kPlainVector, programName, install);
}
