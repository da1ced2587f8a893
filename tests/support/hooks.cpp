#include "tests/support/hooks.h"

#include <memory>

ScopedHook<&Win32Api::malloc> FailNthAllocation(int nth) {
    auto calls = std::make_shared<int>(0);
    auto previous = ScopedHook<&Win32Api::malloc>::Current();
    return ScopedHook<&Win32Api::malloc>([=](size_t size) -> void* {
        if (++*calls == nth) return nullptr;
        return previous(size);
    });
}

DialogAnswers::DialogAnswers(std::vector<int> answers)
    : answers_(std::move(answers)),
      hook_([this](HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) -> int {
          shown_.push_back({text ? text : L"", caption ? caption : L"", style, owner});
          size_t index = shown_.size() - 1;
          return index < answers_.size() ? answers_[index] : 0;
      }) {}

RebootRecorder::RebootRecorder()
    : hook_([this](UINT flags, DWORD reason) -> BOOL {
          requests_.push_back({flags, reason});
          return TRUE;
      }) {}
