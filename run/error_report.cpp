#include "run/error_report.h"

#include "platform/owned.h"

namespace {

const WORD kBannerColour = 12;
const WORD kTextColour = 15;
const WORD kNormalColour = 7;

// A report whose message starts so is a find, not a failure.
const char kFindReport[] = "Redundant data found";

ReportTally g_reportTally;

void SetColour(HANDLE console, WORD colour) {
    // Colours apply to what the console already shows, so buffered text goes first.
    win32.fflush(stdout);
    win32.SetConsoleTextAttribute(console, colour);
}

// The system text converted to the console code page, sized for multi-byte
// code pages and always terminated; empty when the allocation fails.
OwnedBlock ConvertForConsole(const wchar_t* text) {
    size_t units = wcslen(text);
    UINT codePage = win32.GetConsoleOutputCP();
    int needed = win32.WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    size_t bytes = units + 1;
    if (needed > 0 && static_cast<size_t>(needed) > bytes) bytes = static_cast<size_t>(needed);
    OwnedBlock converted = AllocateBlock(bytes);
    if (!converted) return converted;
    char* out = BlockAs<char>(converted);
    int written = win32.WideCharToMultiByte(codePage, 0, text, -1, out, static_cast<int>(bytes), nullptr, nullptr);
    out[written > 0 ? written - 1 : 0] = '\0';
    out[bytes - 1] = '\0';
    return converted;
}

}  // namespace

u32 ErrorReportV(const char* unit, int line, const char* format, va_list args) {
    if (strncmp(format, kFindReport, sizeof kFindReport - 1) == 0)
        ++g_reportTally.finds;
    else
        ++g_reportTally.failures;
    DWORD err = win32.GetLastError();
    HANDLE console = win32.GetStdHandle(STD_OUTPUT_HANDLE);
    SetColour(console, kBannerColour);

    OwnedLocalText systemText;
    DWORD length = win32.FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, err, 0,
        reinterpret_cast<LPWSTR>(systemText.put()), 0, nullptr);
    if (length == 0) {
        if (win32.GetLastError() == ERROR_RESOURCE_LANG_NOT_FOUND) NarrowPrint("can not format error message\n");
        systemText.reset();
    }

    NarrowPrint("An error occurred in running the program.\n");
    SetColour(console, kTextColour);
    NarrowPrint("%s:%d:", unit, line);
    NarrowPrintV(format, args);
    NarrowPrint("\nError number 0x%lx (%lu).\n", static_cast<unsigned long>(err), static_cast<unsigned long>(err));

    if (systemText) {
        OwnedBlock converted = ConvertForConsole(systemText.get());
        if (!converted) {
            NarrowPrint("Not enough memory.\n");
            return kReportOutOfMemory;
        }
        NarrowPrint("%s\n", BlockAs<char>(converted));
    }

    SetColour(console, kNormalColour);
    if (err == 0) err = kReportWithoutErrorCode;
    win32.SetLastError(err);
    return err;
}

ReportTally CurrentReportTally() { return g_reportTally; }

void ResetReportTally() { g_reportTally = ReportTally(); }

u32 ErrorReport(const char* unit, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    u32 result = ErrorReportV(unit, line, format, args);
    va_end(args);
    return result;
}

void PrintOptionHelp(const char* name, const char* description) {
    NarrowPrint("  -%-16s ", name);
    size_t size = strlen(description) + 1;
    OwnedBlock copy = AllocateBlock(size);
    if (!copy) {
        ErrorReport("kvclean", __LINE__, "Out of memory");
        return;
    }
    memcpy(copy.get(), description, size);
    const char* separators = "\n";
    char* piece = win32.strtok(BlockAs<char>(copy), separators);
    bool first = true;
    while (piece) {
        if (first)
            NarrowPrint("%s\n", piece);
        else
            NarrowPrint("%20s%s\n", "", piece);
        first = false;
        piece = win32.strtok(nullptr, separators);
    }
}
