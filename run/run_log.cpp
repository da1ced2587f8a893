#include "run/run_log.h"

#include "run/error_report.h"
#include "run/program_folder.h"

namespace {

const wchar_t kByteOrderMark = 0xFEFF;
// Units written at a time: a line end doubles in the file.
const size_t kChunkUnits = 256;

struct RunLog {
    ProgramFile made;
    u32 failure = 0;
};

RunLog g_log;

bool WriteUnits(const wchar_t* units, size_t count) {
    DWORD bytes = static_cast<DWORD>(count * sizeof(wchar_t)), written = 0;
    if (!win32.WriteFile(g_log.made.file.get(), units, bytes, &written, nullptr)) return false;
    if (written == bytes) return true;
    win32.SetLastError(ERROR_DISK_FULL);
    return false;
}

// Each printed piece goes to the file as it is printed, "\n" as "\r\n". A
// write that fails ends the log: reported once, the lines after it missing.
void WriteToLog(const wchar_t* text, size_t units) {
    wchar_t chunk[kChunkUnits];
    size_t used = 0;
    bool written = true;
    for (size_t i = 0; i < units && written; ++i) {
        if (text[i] == L'\n') chunk[used++] = L'\r';
        chunk[used++] = text[i];
        if (used >= kChunkUnits - 1) {
            written = WriteUnits(chunk, used);
            used = 0;
        }
    }
    if (written && used > 0) written = WriteUnits(chunk, used);
    if (written) return;
    TeePrintsTo(nullptr);
    g_log.failure = REPORT("Can not write the log file: %S", g_log.made.path);
}

}  // namespace

u32 StartRunLog() {
    g_log.failure = 0;
    u32 failure = CreateProgramFile(L"\\logs", L".log", "log", &g_log.made);
    if (failure == 0 && !WriteUnits(&kByteOrderMark, 1))
        failure = REPORT("Can not write the log file: %S", g_log.made.path);
    if (failure != 0) {
        g_log.made.file.reset();
        return failure;
    }
    TeePrintsTo(WriteToLog);
    WidePrint(L"Log file: %ls\n", g_log.made.path);
    return 0;
}

u32 EndRunLog() {
    TeePrintsTo(nullptr);
    u32 result = g_log.failure;
    g_log.failure = 0;
    if (g_log.made.file && !win32.CloseHandle(g_log.made.file.release()))
        result |= REPORT("Can not close the log file: %S", g_log.made.path);
    return result;
}
