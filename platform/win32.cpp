#include "platform/win32.h"

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

int WidePrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = win32.vwprintf(format, args);
    va_end(args);
    return written;
}

int NarrowPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = win32.vprintf(format, args);
    va_end(args);
    return written;
}

int WideErrorPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = win32.vfwprintf(stderr, format, args);
    va_end(args);
    return written;
}

bool RunsUnderWow64() {
    IsWow64ProcessFn isWow64Process = LookUpFunction<IsWow64ProcessFn>(L"kernel32", "IsWow64Process");
    BOOL underWow64 = FALSE;
    return isWow64Process && isWow64Process(win32.GetCurrentProcess(), &underWow64) && underWow64;
}
