#include "front/option_scanner.h"

#include <algorithm>

namespace {

// A lone "-" is a non-option, as is anything without a leading dash.
bool IsNonOption(const wchar_t* argument) { return argument[0] != L'-' || argument[1] == L'\0'; }

// The options found after a run of skipped non-options go in front of it;
// both keep their own order.
void MoveNonOptionsBehind(wchar_t** argv, OptionScan* scan) {
    std::rotate(argv + scan->firstNonOption, argv + scan->lastNonOption, argv + scan->next);
    scan->firstNonOption += scan->next - scan->lastNonOption;
    scan->lastNonOption = scan->next;
}

bool HasSkippedNonOptions(const OptionScan* scan) { return scan->firstNonOption != scan->lastNonOption; }

// Finds the option whose name is `name` (of `length` units) or begins with it.
// Several names that begin with it make it ambiguous; an exact name wins.
const LongOption* FindOption(const LongOption* options, const wchar_t* name, size_t length, bool* ambiguous) {
    const LongOption* found = nullptr;
    *ambiguous = false;
    for (const LongOption* option = options; option->name; ++option) {
        if (win32.wcsncmp(option->name, name, length) != 0) continue;
        if (wcslen(option->name) == length) {
            *ambiguous = false;
            return option;
        }
        if (found)
            *ambiguous = true;
        else
            found = option;
    }
    return found;
}

}  // namespace

int ScanLongOption(int argc, wchar_t** argv, const LongOption* options, OptionScan* scan) {
    if (HasSkippedNonOptions(scan) && scan->lastNonOption != scan->next)
        MoveNonOptionsBehind(argv, scan);
    else if (scan->lastNonOption != scan->next)
        scan->firstNonOption = scan->next;
    while (scan->next < argc && IsNonOption(argv[scan->next])) scan->next++;
    scan->lastNonOption = scan->next;

    // "--" counts as an option for the moving, then everything after it as a non-option.
    if (scan->next < argc && wcscmp(argv[scan->next], L"--") == 0) {
        scan->next++;
        if (HasSkippedNonOptions(scan) && scan->lastNonOption != scan->next)
            MoveNonOptionsBehind(argv, scan);
        else if (!HasSkippedNonOptions(scan))
            scan->firstNonOption = scan->next;
        scan->lastNonOption = argc;
        scan->next = argc;
    }

    if (scan->next >= argc) {
        if (HasSkippedNonOptions(scan)) scan->next = scan->firstNonOption;
        return kScanDone;
    }

    const wchar_t* argument = argv[scan->next++];
    bool twoDashes = argument[1] == L'-';
    const wchar_t* name = argument + (twoDashes ? 2 : 1);
    const wchar_t* nameEnd = name;
    while (*nameEnd != L'\0' && *nameEnd != L'=') nameEnd++;

    bool ambiguous = false;
    const LongOption* option = FindOption(options, name, static_cast<size_t>(nameEnd - name), &ambiguous);
    if (ambiguous) {
        WideErrorPrint(L"%ls: option `%ls' is ambiguous\n", argv[0], argument);
        return kScanError;
    }
    if (!option) {
        if (twoDashes)
            WideErrorPrint(L"%ls: unrecognized option `--%ls'\n", argv[0], name);
        else
            WideErrorPrint(L"%ls: unrecognized option `%lc%ls'\n", argv[0], argument[0], name);
        return kScanError;
    }
    if (*nameEnd == L'=') {
        if (twoDashes)
            WideErrorPrint(L"%ls: option `--%ls' doesn't allow an argument\n", argv[0], option->name);
        else
            WideErrorPrint(L"%ls: option `%lc%ls' doesn't allow an argument\n", argv[0], argument[0], option->name);
        return kScanError;
    }
    return option->code;
}
