#pragma once
// Standard output and the console behind it, when there is one.
#include <windows.h>

#include <string_view>

namespace brq_install::win {

HANDLE standard_output();

// Whether `output` is a console (else a file or a pipe).
bool is_console(HANDLE output);

// Writes all of `text` to the console; WriteConsoleW may write less than
// asked, so it is called until all is out or it fails.
void write_console(HANDLE console, std::wstring_view text);

// Writes bytes to the C runtime's standard output and flushes them.
void write_bytes(std::string_view bytes);

// The attribute (colour) in force; false without a console.
[[nodiscard]] bool text_attribute(HANDLE output, WORD& attribute);
void set_text_attribute(HANDLE output, WORD attribute);

// The system's text for `code`, without trailing line breaks; 0, or the
// code of the failed call when the system has none.
[[nodiscard]] DWORD system_message(DWORD code, std::wstring& text);

// UTF-8 to UTF-16 and back by the system: empty when the input is invalid
// or the call fails, never a partial result.
std::wstring system_utf8_to_wide(const char* bytes, int length);
std::string system_wide_to_utf8(std::wstring_view text);

}  // namespace brq_install::win
