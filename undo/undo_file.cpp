#include "undo/undo_file.h"

#include <utility>

#include "run/error_report.h"
#include "run/program_folder.h"
#include "platform/owned.h"
#include "undo/key_record.h"
#include "undo/reg_format.h"

namespace {

// The record text's buffer: a full buffer is written out and reused.
const size_t kTextUnits = 32768;

// Rewritten values a pass remembers (see UndoRecordRewrite); the pass's few list
// repairs rewrite three.
const size_t kRewrittenKept = 8;

// A value whose old bytes the pass recorded: its root, then its path and its
// name, each with its NUL, in one block.
struct RewrittenValue {
    HKEY root = nullptr;
    OwnedBlock names;
};

struct UndoPass {
    bool active = false;
    // A failure to create or write the file was reported; the rest of the pass records nothing.
    bool failed = false;
    u32 failure = 0;
    // Every failure a record of the pass returned, for UndoEndPass.
    u32 failures = 0;
    REGSAM view = 0;
    OwnedFile file;
    RegText text;
    RewrittenValue rewritten[kRewrittenKept];
    size_t rewrittenCount = 0;
};

UndoPass g_pass;
wchar_t g_filePath[kProgramPathUnits];

const wchar_t* FileEnding(REGSAM view) { return (view & KEY_WOW64_64KEY) ? L"-64.reg" : L"-32.reg"; }

bool WriteUnits(HANDLE file, const wchar_t* units, size_t count) {
    DWORD bytes = static_cast<DWORD>(count * sizeof(wchar_t)), written = 0;
    if (!win32.WriteFile(file, units, bytes, &written, nullptr)) return false;
    if (written == bytes) return true;
    win32.SetLastError(ERROR_DISK_FULL);
    return false;
}

void AppendFileHeader(RegText* header, const wchar_t* path) {
    bool view64 = (g_pass.view & KEY_WOW64_64KEY) != 0;
    AppendRegFileHeader(header);
    AppendRegComment(header, L"kvclean undo file: the registry keys and values that the cleanup removed or");
    AppendRegComment(header, view64 ? L"rewrote in the 64-bit registry view, each recorded before it was changed."
                                    : L"rewrote in the 32-bit registry view, each recorded before it was changed.");
    AppendRegComment(header, L"To put them back, run as an administrator:");
    RegPiece command[] = {PieceOf(L"  reg import \""), PieceOf(path),
                          PieceOf(view64 ? L"\" /reg:64" : L"\" /reg:32")};
    AppendRegComment(header, command, 3);
    AppendRegComment(header, L"Not recorded, so not put back: registry links (their own keys are removed, never");
    AppendRegComment(header, L"followed; a comment line names each), key security descriptors (restored keys get");
    AppendRegComment(header, L"the security they inherit), key class names, the volatile flag (volatile keys come");
    AppendRegComment(header, L"back persistent), names holding a line break or a NUL (a comment line names each),");
    AppendRegComment(header, L"the exact length of string data of odd length or without a final NUL (the importers");
    AppendRegComment(header, L"extend it), files and folders, and the private-key settings removed with -delkeys.");
}

// The file, in the program's undo folder (run/program_folder.h).
u32 CreateUndoFile() {
    ProgramFile made;
    u32 failure = CreateProgramFile(L"\\undo", FileEnding(g_pass.view), "undo", &made);
    if (failure != 0) return failure;
    HANDLE file = made.file.get();
    g_pass.file = std::move(made.file);
    memcpy(g_filePath, made.path, sizeof g_filePath);
    WidePrint(L"Undo file: %ls\n", g_filePath);

    RegText header;
    if (!StartRegText(&header, 1024, nullptr, nullptr)) return REPORT("Not enough memory.");
    AppendFileHeader(&header, g_filePath);
    if (header.failed) return REPORT("Not enough memory.");
    if (!WriteUnits(file, RegTextUnits(header), header.length))
        return REPORT("Can not write the undo file: %S", g_filePath);
    return 0;
}

// The pass's text hands its full buffers here: the first one creates the file.
bool WriteToUndoFile(void*, const wchar_t* units, size_t count) {
    u32 failure = g_pass.file ? 0 : CreateUndoFile();
    if (failure == 0 && !WriteUnits(g_pass.file.get(), units, count))
        failure = REPORT("Can not write the undo file: %S", g_filePath);
    if (failure == 0) return true;
    g_pass.failed = true;
    g_pass.failure = failure;
    return false;
}

// The pass's text for a record, or null when nothing is to be recorded.
RegText* StartRecord(u32* result) {
    *result = 0;
    if (!g_pass.active || g_pass.failed) return nullptr;
    if (!g_pass.text.block && !StartRegText(&g_pass.text, kTextUnits, WriteToUndoFile, nullptr)) {
        *result = REPORT("Not enough memory.");
        g_pass.failures |= *result;
        return nullptr;
    }
    return &g_pass.text;
}

bool RecordedAsRewritten(HKEY root, const wchar_t* path, const wchar_t* name) {
    for (size_t i = 0; i < g_pass.rewrittenCount; ++i) {
        const wchar_t* keptPath = BlockAs<const wchar_t>(g_pass.rewritten[i].names);
        if (g_pass.rewritten[i].root == root && wcscmp(keptPath, path) == 0 &&
            wcscmp(keptPath + wcslen(keptPath) + 1, name) == 0)
            return true;
    }
    return false;
}

// Remembers a rewritten value while there is room and memory; one that is not
// remembered is recorded again if rewritten again.
void RememberRewritten(HKEY root, const wchar_t* path, const wchar_t* name) {
    if (g_pass.rewrittenCount == kRewrittenKept) return;
    size_t pathUnits = wcslen(path) + 1, nameUnits = wcslen(name) + 1;
    OwnedBlock names = AllocateBlock((pathUnits + nameUnits) * sizeof(wchar_t));
    if (!names) return;
    memcpy(names.get(), path, pathUnits * sizeof(wchar_t));
    memcpy(BlockAs<wchar_t>(names) + pathUnits, name, nameUnits * sizeof(wchar_t));
    RewrittenValue& kept = g_pass.rewritten[g_pass.rewrittenCount++];
    kept.root = root;
    kept.names = std::move(names);
}

// Writes out what the record left in the text; a failure to write, reported
// by the sink, is returned by the record that met it. The pass keeps them all.
u32 FinishRecord(u32 result) {
    if (!FlushRegText(&g_pass.text) && g_pass.failed) result |= g_pass.failure;
    g_pass.failures |= result;
    return result;
}

}  // namespace

void UndoBeginRun() { TakeRunTime(); }

void UndoBeginPass(REGSAM view) {
    if (!RunTimeTaken()) TakeRunTime();
    g_pass.active = true;
    g_pass.failed = false;
    g_pass.failure = 0;
    g_pass.failures = 0;
    for (size_t i = 0; i < g_pass.rewrittenCount; ++i) g_pass.rewritten[i] = RewrittenValue();
    g_pass.rewrittenCount = 0;
    g_pass.view = view;
    g_pass.file.reset();
    g_filePath[0] = L'\0';
    g_pass.text = RegText();
}

u32 UndoRecordOpenKey(HKEY root, const wchar_t* path, HKEY key) {
    u32 result = 0;
    RegText* text = StartRecord(&result);
    if (!text) return result;
    return FinishRecord(RecordOpenKey(text, root, path, key));
}

u32 UndoRecordLink(HKEY root, const wchar_t* path, HKEY link) {
    u32 result = 0;
    RegText* text = StartRecord(&result);
    if (!text) return result;
    return FinishRecord(RecordLink(text, root, path, link));
}

u32 UndoRecordValue(HKEY root, const wchar_t* path, HKEY key, const wchar_t* name) {
    u32 result = 0;
    RegText* text = StartRecord(&result);
    if (!text) return result;
    return FinishRecord(RecordValue(text, root, path, key, name));
}

u32 UndoRecordRewrite(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* oldData,
                      DWORD oldBytes, const void* newData, DWORD newBytes) {
    if (!RewriteChangesValue(oldData, oldBytes, newData, newBytes)) return 0;
    u32 result = 0;
    RegText* text = StartRecord(&result);
    if (!text || RecordedAsRewritten(root, path, name)) return result;
    RememberRewritten(root, path, name);
    return FinishRecord(RecordValueBytes(text, root, path, name, type, oldData, oldBytes));
}

u32 UndoEndPass() {
    u32 result = g_pass.failures;
    g_pass.failures = 0;
    if (g_pass.file && !win32.CloseHandle(g_pass.file.release()))
        result |= REPORT("Can not close the undo file: %S", g_filePath);
    g_pass.active = false;
    g_pass.text = RegText();
    return result;
}

const wchar_t* UndoFilePath() { return g_filePath; }
