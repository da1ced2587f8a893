// Built only into the measuring variant of the program (KV_COUNT_CALLS): every
// table entry counts its calls, and the counts go to standard error at exit,
// so that standard output stays exactly what the shipped program prints.
#ifdef KV_COUNT_CALLS

#include "platform/win32.h"

namespace {

enum CountedCall {
#define KV_CALL_INDEX(name, type) kCall_##name,
    KV_WIN32_FUNCTIONS(KV_CALL_INDEX)
#undef KV_CALL_INDEX
    kCallKinds
};

const char* const kCallNames[] = {
#define KV_CALL_NAME(name, type) #name,
    KV_WIN32_FUNCTIONS(KV_CALL_NAME)
#undef KV_CALL_NAME
};

unsigned long long g_callCounts[kCallKinds];

template <typename Fn, int Index>
struct CountingEntry;

template <typename R, typename... A, int Index>
struct CountingEntry<R(WINAPI*)(A...), Index> {
    static inline R(WINAPI* real)(A...);
    static R WINAPI Call(A... args) {
        ++g_callCounts[Index];
        return real(args...);
    }
};

template <typename R, typename... A, int Index>
struct CountingEntry<R (*)(A...), Index> {
    static inline R (*real)(A...);
    static R Call(A... args) {
        ++g_callCounts[Index];
        return real(args...);
    }
};

void PrintCallCounts() {
    unsigned long long registry = 0;
    for (int i = 0; i < kCallKinds; ++i) {
        if (g_callCounts[i]) fprintf(stderr, "calls %-28s %llu\n", kCallNames[i], g_callCounts[i]);
        if (strncmp(kCallNames[i], "Reg", 3) == 0) registry += g_callCounts[i];
    }
    fprintf(stderr, "calls %-28s %llu\n", "registry-total", registry);
}

}  // namespace

void InstallCallCounters() {
#define KV_INSTALL_COUNTER(name, type)                                \
    CountingEntry<Win32Entry<type>, kCall_##name>::real = win32.name; \
    win32.name = &CountingEntry<Win32Entry<type>, kCall_##name>::Call;
    KV_WIN32_FUNCTIONS(KV_INSTALL_COUNTER)
#undef KV_INSTALL_COUNTER
    atexit(PrintCallCounts);
}

#endif
