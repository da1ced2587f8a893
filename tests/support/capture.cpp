#include "tests/support/capture.h"

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], bytes, nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], units);
    return result;
}

void ConsoleCapture::AddWide(std::string& to, const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int units = __mingw_vsnwprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (units < 0) return;
    std::wstring text(static_cast<size_t>(units) + 1, L'\0');
    __mingw_vsnwprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(units));
    to += Utf8(text);
    if (&to == &out_) marked_ += Utf8(text);
}

ConsoleCapture::ConsoleCapture()
    : narrow_([this](const char* format, va_list args) -> int {
          va_list copy;
          va_copy(copy, args);
          int bytes = __mingw_vsnprintf(nullptr, 0, format, copy);
          va_end(copy);
          if (bytes < 0) return bytes;
          std::string text(static_cast<size_t>(bytes) + 1, '\0');
          __mingw_vsnprintf(&text[0], text.size(), format, args);
          text.resize(static_cast<size_t>(bytes));
          out_ += text;
          marked_ += text;
          return bytes;
      }),
      wide_([this](const wchar_t* format, va_list args) -> int {
          AddWide(out_, format, args);
          return 0;
      }),
      wideStream_([this](FILE* stream, const wchar_t* format, va_list args) -> int {
          AddWide(stream == stderr ? err_ : out_, format, args);
          return 0;
      }),
      colour_([this](HANDLE, WORD colour) -> BOOL {
          colours_.push_back(colour);
          marked_ += "<" + std::to_string(colour) + ">";
          return TRUE;
      }) {}

void ConsoleCapture::clear() {
    out_.clear();
    err_.clear();
    marked_.clear();
    colours_.clear();
}
