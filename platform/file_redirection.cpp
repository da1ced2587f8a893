#include "platform/file_redirection.h"

#include <type_traits>
#include <utility>

namespace {

RedirectionSwitch g_redirection;
bool g_revertFailed = false;
DWORD g_revertError = 0;

// The wrapper's own bookkeeping of the last error is no call of the program:
// it goes to the real functions, past any hook in the table.
DWORD SavedLastError() { return kRealWin32.GetLastError(); }
void RestoreLastError(DWORD error) { kRealWin32.SetLastError(error); }

template <auto Entry, typename Fn = std::remove_reference_t<decltype(std::declval<Win32Api&>().*Entry)>>
struct WithoutRedirection;

template <auto Entry, typename R, typename... A>
struct WithoutRedirection<Entry, R(WINAPI*)(A...)> {
    static inline R(WINAPI* previous)(A...);
    static inline R failure;

    static R WINAPI Call(A... args) {
        PVOID saved = nullptr;
        if (!g_redirection.disable(&saved)) return failure;
        R result = previous(args...);
        DWORD error = SavedLastError();
        if (!g_redirection.revert(saved) && !g_revertFailed) {
            g_revertFailed = true;
            g_revertError = SavedLastError();
        }
        RestoreLastError(error);
        return result;
    }

    static void Begin(R failureValue) {
        previous = win32.*Entry;
        failure = failureValue;
        win32.*Entry = &Call;
    }

    static void End() { win32.*Entry = previous; }
};

}  // namespace

void BeginFileCallsWithoutRedirection(const RedirectionSwitch& redirection) {
    g_redirection = redirection;
    g_revertFailed = false;
    g_revertError = 0;
#define KV_BEGIN_ENTRY(name, failure) WithoutRedirection<&Win32Api::name>::Begin(failure);
    KV_FILE_SYSTEM_ENTRIES(KV_BEGIN_ENTRY)
#undef KV_BEGIN_ENTRY
}

bool EndFileCallsWithoutRedirection() {
#define KV_END_ENTRY(name, failure) WithoutRedirection<&Win32Api::name>::End();
    KV_FILE_SYSTEM_ENTRIES(KV_END_ENTRY)
#undef KV_END_ENTRY
    if (!g_revertFailed) return true;
    RestoreLastError(g_revertError);
    return false;
}
