// Scoped replacement of platform table entries for tests.
//
//   ScopedHook<&Win32Api::DeleteFileW> hook([&](LPCWSTR path) { ...; return FALSE; });
//
// The entry is restored when the hook goes out of scope, also when the test
// fails half-way. Hooks on the same entry nest; `Current()` is what the entry does
// before a new hook goes in (usually the real function).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace hook_detail {

template <typename Fn, typename Tag>
struct Trampoline;

template <typename R, typename... A, typename Tag>
struct Trampoline<R(WINAPI*)(A...), Tag> {
    typedef R Result;
    typedef std::function<R(A...)> Function;
    static inline Function impl;
    static R WINAPI Call(A... args) { return impl(args...); }
};

template <typename R, typename... A, typename Tag>
struct Trampoline<R (*)(A...), Tag> {
    typedef R Result;
    typedef std::function<R(A...)> Function;
    static inline Function impl;
    static R Call(A... args) { return impl(args...); }
};

template <auto Slot>
struct SlotTag {};

}  // namespace hook_detail

template <auto Slot>
class ScopedHook {
public:
    typedef std::remove_reference_t<decltype(std::declval<Win32Api&>().*Slot)> Fn;
    typedef hook_detail::Trampoline<Fn, hook_detail::SlotTag<Slot>> Tramp;
    typedef typename Tramp::Function Function;
    typedef typename Tramp::Result Result;

    explicit ScopedHook(Function impl) : previous_(win32.*Slot), previousImpl_(Tramp::impl) {
        Tramp::impl = std::move(impl);
        win32.*Slot = &Tramp::Call;
    }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;
    ~ScopedHook() {
        win32.*Slot = previous_;
        Tramp::impl = std::move(previousImpl_);
    }

    // What the entry does now, as a function object: hooks that pass calls on
    // capture this before they install themselves.
    static Function Current() {
        if (win32.*Slot == &Tramp::Call) return Tramp::impl;
        Fn fn = win32.*Slot;
        return [fn](auto... args) { return fn(args...); };
    }

private:
    Fn previous_;
    Function previousImpl_;
};

// Makes every call for which `when(args...)` is true fail: it returns
// `failure` with the last error set to `error`. Other calls go through.
template <auto Slot, typename When, typename R>
ScopedHook<Slot> FailWhen(When when, R failure, DWORD error) {
    auto previous = ScopedHook<Slot>::Current();
    return ScopedHook<Slot>([=](auto... args) -> typename ScopedHook<Slot>::Result {
        if (when(args...)) {
            ::SetLastError(error);
            return failure;
        }
        return previous(args...);
    });
}

// Makes every call fail (see FailWhen).
template <auto Slot, typename R>
ScopedHook<Slot> FailAlways(R failure, DWORD error) {
    return FailWhen<Slot>([](auto...) { return true; }, failure, error);
}

// Makes only the nth call (1 = the next one) fail.
template <auto Slot, typename R>
ScopedHook<Slot> FailNthCall(int nth, R failure, DWORD error) {
    auto calls = std::make_shared<int>(0);
    return FailWhen<Slot>([=](auto...) { return ++*calls == nth; }, failure, error);
}

// The nth heap allocation from now (1 = the next one) returns null.
ScopedHook<&Win32Api::malloc> FailNthAllocation(int nth);

// Answers message boxes in order and records what they showed.
struct MessageBoxRecord {
    std::wstring text;
    std::wstring caption;
    UINT style;
    HWND owner;
};
class DialogAnswers {
public:
    // Answers beyond the list are 0, as for a dialog that could not be shown.
    explicit DialogAnswers(std::vector<int> answers);
    const std::vector<MessageBoxRecord>& shown() const { return shown_; }

private:
    std::vector<int> answers_;
    std::vector<MessageBoxRecord> shown_;
    ScopedHook<&Win32Api::MessageBoxW> hook_;
};

// Records reboot requests instead of performing them.
struct RebootRequest {
    UINT flags;
    DWORD reason;
};
class RebootRecorder {
public:
    RebootRecorder();
    const std::vector<RebootRequest>& requests() const { return requests_; }

private:
    std::vector<RebootRequest> requests_;
    ScopedHook<&Win32Api::ExitWindowsEx> hook_;
};
