// Captures what the program prints while the capture lives.
//
// out(): standard output in order of printing; narrow text is kept byte for
// byte, wide text is stored as UTF-8 (so Cyrillic compares with u8"" literals).
// err(): wide text printed to standard error, as UTF-8.
// colours(): console text attributes set, in order.
#pragma once

#include <string>
#include <vector>

#include "tests/support/hooks.h"

class ConsoleCapture {
public:
    ConsoleCapture();
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    const std::vector<WORD>& colours() const { return colours_; }
    // Output with each colour change marked as "<12>" at the place it happened.
    const std::string& outWithColours() const { return marked_; }
    void clear();

private:
    void AddWide(std::string& to, const wchar_t* format, va_list args);

    std::string out_, err_, marked_;
    std::vector<WORD> colours_;
    ScopedHook<&Win32Api::vprintf> narrow_;
    ScopedHook<&Win32Api::vwprintf> wide_;
    ScopedHook<&Win32Api::vfwprintf> wideStream_;
    ScopedHook<&Win32Api::SetConsoleTextAttribute> colour_;
};

// UTF-8 form of wide text, for comparing captured output.
std::string Utf8(const std::wstring& text);
// Wide form of UTF-8 text.
std::wstring Wide(const std::string& text);
