#pragma once
// Console reporting: every line the installer prints goes through here.
// Fixed messages are 8-bit ASCII; paths, names and system texts are wide.
#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace brq_install {

// The only two attributes the installer ever sets. Both replace the whole
// attribute word, so coloured text always stands on a black background.
inline constexpr WORD color_warning = 14;  // yellow: the run goes on
inline constexpr WORD color_error = 12;    // light red: the step fails

// One piece of output: a fixed 8-bit message or a wide text.
using piece = std::variant<std::string_view, std::wstring_view>;

// Writes 8-bit text to standard output and flushes it.
void print_text(std::string_view text);

// Writes wide text: through WriteConsoleW when standard output is a console,
// otherwise as UTF-8 bytes through the same stream as print_text, so that no
// character can put the output into a failed state.
void print_wide(std::wstring_view text);

// Writes the pieces of a line, or of the part of a line a step prints at
// once, one after another: each fixed message through print_text, each wide
// text through print_wide.
void print(std::initializer_list<piece> pieces);

// Writes one piece in `attribute`, then restores the attribute in force
// before. Without a console the attribute calls fail and the text is plain.
void print_colored(WORD attribute, piece text);

// The text of `code` and a line break, both in `attribute`.
void report_error_text(WORD attribute, DWORD code);

// "Will attempt to continue...\n" in the warning colour.
void report_will_continue();

// Warning block: the headline, the text of `code` and "Will attempt to
// continue...", all in the warning colour. The step goes on.
void report_warning(std::initializer_list<piece> headline, DWORD code);

// Error block: the headline and the text of `code` in the error colour. The
// step returns false.
void report_error(std::initializer_list<piece> headline, DWORD code);

// The system's text for a Windows error code or HRESULT, without trailing
// line breaks; "Unknown error 0x%08X" when the system has none.
std::wstring error_text(DWORD code);

// UTF-8 to UTF-16. Empty for empty or invalid input; never a partial result.
std::wstring utf8_to_wide(const char* bytes, size_t length);
std::wstring utf8_to_wide(std::string_view text);

// UTF-16 to UTF-8, unpaired surrogates replaced by U+FFFD.
std::string wide_to_utf8(std::wstring_view text);

}  // namespace brq_install
