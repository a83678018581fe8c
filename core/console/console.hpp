#pragma once
// Console reporting: every line the installer prints goes through here.
// Fixed messages are 8-bit ASCII; paths, names and system texts are wide.
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace brq_install {

// The only two attributes the installer ever sets. Both replace the whole
// attribute word, so coloured text always stands on a black background.
inline constexpr WORD color_warning = 14;  // yellow: the run goes on
inline constexpr WORD color_error = 12;    // light red: the step fails

// One piece of output: a fixed 8-bit message, a wide text, or a number
// written in decimal.
using piece = std::variant<std::string_view, std::wstring_view, uint64_t>;

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

// Warning block: the headline, the text of `code` and "Will attempt to
// continue...", all in the warning colour. The step goes on.
void report_warning(std::initializer_list<piece> headline, DWORD code);

// Error block: the headline and the text of `code` in the error colour. The
// step returns false.
void report_error(std::initializer_list<piece> headline, DWORD code);

// The same blocks for what has no error code: the headline alone, and for a
// warning "Will attempt to continue...".
void report_warning(std::initializer_list<piece> headline);
void report_error(std::initializer_list<piece> headline);

// A yellow line that only informs: nothing failed, nothing to continue from.
void report_notice(std::initializer_list<piece> line);

// How a progress line ends when its work failed: "failed" and the text of
// the error, in a yellow warning block (the run goes on) or a red error
// block (the step fails).
enum class failure_block { warning, error };

// Ends a progress line: `ok` when `error` is 0, otherwise the failure block.
// Returns `error`. The firewall's line alone has its own "ok" text.
DWORD end_line(DWORD error, failure_block block, std::string_view ok = "ok\n");

// The system's text for a Windows error code or HRESULT, without trailing
// line breaks; "Unknown error 0x%08X" when the system has none.
std::wstring error_text(DWORD code);

// UTF-8 to UTF-16. Empty for empty or invalid input; never a partial result.
std::wstring utf8_to_wide(const char* bytes, size_t length);
std::wstring utf8_to_wide(std::string_view text);

// UTF-16 to UTF-8, unpaired surrogates replaced by U+FFFD.
std::string wide_to_utf8(std::wstring_view text);

}  // namespace brq_install
