#include "platform/win32.h"

#include "platform/owned.h"

#ifdef KV_READ_ONLY
#include "platform/read_only.h"
#endif

namespace {

// The C runtime's declarations are overloaded or inline in places; these give
// each table row one plain function of the row's type.
char* RuntimeSetLocale(int category, const char* locale) { return ::setlocale(category, locale); }
int RuntimeVPrintf(const char* format, va_list args) { return ::vprintf(format, args); }
int RuntimeVWPrintf(const wchar_t* format, va_list args) { return ::vwprintf(format, args); }
int RuntimeVFWPrintf(FILE* stream, const wchar_t* format, va_list args) { return ::vfwprintf(stream, format, args); }
int RuntimeFlush(FILE* stream) { return ::fflush(stream); }
void* RuntimeMalloc(size_t size) { return ::malloc(size); }
void RuntimeFree(void* block) { ::free(block); }
const wchar_t* RuntimeWcsstr(const wchar_t* text, const wchar_t* part) { return ::wcsstr(text, part); }
int RuntimeWcsncmp(const wchar_t* a, const wchar_t* b, size_t count) { return ::wcsncmp(a, b, count); }
int RuntimeWcsnicmp(const wchar_t* a, const wchar_t* b, size_t count) { return ::_wcsnicmp(a, b, count); }
char* RuntimeStrtok(char* text, const char* separators) { return ::strtok(text, separators); }

}  // namespace

#define setlocale RuntimeSetLocale
#define vprintf RuntimeVPrintf
#define vwprintf RuntimeVWPrintf
#define vfwprintf RuntimeVFWPrintf
#define fflush RuntimeFlush
#define malloc RuntimeMalloc
#define free RuntimeFree
#define wcsstr RuntimeWcsstr
#define wcsncmp RuntimeWcsncmp
#define _wcsnicmp RuntimeWcsnicmp
#define strtok RuntimeStrtok

#ifdef KV_READ_ONLY
// kvscan: the writing entries hold refusers from the start; the lambdas that
// name their functions are never instantiated, so nothing imports them
// (platform/read_only.h).
#define KV_REAL_ENTRY(name, type) \
    read_only_detail::ReadOnlyEntry<read_only_detail::kWin32Row_##name, Win32Entry<type>>([] { return &name; }),
#else
#define KV_REAL_ENTRY(name, type) &name,
#endif
const Win32Api kRealWin32 = {
    KV_WIN32_FUNCTIONS(KV_REAL_ENTRY)
#undef KV_REAL_ENTRY
};

#undef setlocale
#undef vprintf
#undef vwprintf
#undef vfwprintf
#undef fflush
#undef malloc
#undef free
#undef wcsstr
#undef wcsncmp
#undef _wcsnicmp
#undef strtok

Win32Api win32 = kRealWin32;

#ifdef KV_COUNT_CALLS
// The measuring variant wraps every entry once the table holds the real functions.
void InstallCallCounters();
static const bool g_callCountersInstalled = (InstallCallCounters(), true);
#endif

namespace {

PrintTee g_printTee = nullptr;

// Most printed pieces fit here; a longer one gets a block of its own.
const size_t kTeeUnits = 512;

int FormatInto(wchar_t* out, size_t units, const wchar_t* format, va_list args) {
    return __mingw_vsnwprintf(out, units, format, args);
}
int FormatInto(char* out, size_t bytes, const char* format, va_list args) {
    return __mingw_vsnprintf(out, bytes, format, args);
}

void HandOn(const wchar_t* text, size_t units) { g_printTee(text, units); }

// Narrow text read in the console's output code page, as the console shows it.
void HandOn(const char* text, size_t bytes) {
    UINT codePage = win32.GetConsoleOutputCP();
    int count = static_cast<int>(bytes);
    int units = count == 0 ? 0 : win32.MultiByteToWideChar(codePage, 0, text, count, nullptr, 0);
    if (units <= 0) return;
    wchar_t local[kTeeUnits];
    OwnedBlock block;
    wchar_t* wide = local;
    if (static_cast<size_t>(units) > kTeeUnits) {
        block = AllocateBlock(static_cast<size_t>(units) * sizeof(wchar_t));
        if (!block) return;
        wide = BlockAs<wchar_t>(block);
    }
    units = win32.MultiByteToWideChar(codePage, 0, text, count, wide, units);
    if (units > 0) g_printTee(wide, static_cast<size_t>(units));
}

// The printed piece, formatted once more by the console's formatter (mingw's
// C99 one), for the tee.
template <typename Char>
void Tee(const Char* format, va_list args) {
    Char local[kTeeUnits];
    va_list measured;
    va_copy(measured, args);
    int length = FormatInto(local, kTeeUnits, format, measured);
    va_end(measured);
    if (length < 0) return;
    size_t size = static_cast<size_t>(length);
    if (size < kTeeUnits) return HandOn(local, size);
    OwnedBlock block = AllocateBlock((size + 1) * sizeof(Char));
    if (!block) return HandOn(local, kTeeUnits - 1);
    FormatInto(BlockAs<Char>(block), size + 1, format, args);
    HandOn(BlockAs<Char>(block), size);
}

}  // namespace

void TeePrintsTo(PrintTee tee) { g_printTee = tee; }

int WidePrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = win32.vwprintf(format, args);
    va_end(args);
    if (g_printTee) {
        va_start(args, format);
        Tee(format, args);
        va_end(args);
    }
    return written;
}

int NarrowPrintV(const char* format, va_list args) {
    va_list teed;
    va_copy(teed, args);
    int written = win32.vprintf(format, args);
    if (g_printTee) Tee(format, teed);
    va_end(teed);
    return written;
}

int NarrowPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = NarrowPrintV(format, args);
    va_end(args);
    return written;
}

int WideErrorPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = win32.vfwprintf(stderr, format, args);
    va_end(args);
    if (g_printTee) {
        va_start(args, format);
        Tee(format, args);
        va_end(args);
    }
    return written;
}

bool RunsUnderWow64() {
    IsWow64ProcessFn isWow64Process = LookUpFunction<IsWow64ProcessFn>(L"kernel32", "IsWow64Process");
    BOOL underWow64 = FALSE;
    return isWow64Process && isWow64Process(win32.GetCurrentProcess(), &underWow64) && underWow64;
}
