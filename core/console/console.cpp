#include "console/console.hpp"

#include "win/platform.hpp"

namespace brq_install {

using win::api;

namespace {

HANDLE standard_output() { return api.GetStdHandle(STD_OUTPUT_HANDLE); }

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return api.GetConsoleMode(handle, &mode) != 0;
}

// WriteConsoleW may write less than asked; it is called until all is out.
void write_console(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!api.WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

void print_piece(const piece& text) {
  if (const auto* narrow = std::get_if<std::string_view>(&text)) {
    print_text(*narrow);
  } else {
    print_wide(std::get<std::wstring_view>(text));
  }
}

}  // namespace

void print_text(std::string_view text) {
  api.fwrite(text.data(), 1, text.size(), stdout);
  api.fflush(stdout);
}

void print_wide(std::wstring_view text) {
  HANDLE output = standard_output();
  if (is_console(output)) {
    write_console(output, text);
  } else {
    print_text(wide_to_utf8(text));
  }
}

void print(std::initializer_list<piece> pieces) {
  for (const piece& text : pieces) print_piece(text);
}

namespace {

// Writes one piece in `attribute`, then restores the attribute in force
// before. Without a console the attribute calls fail and the text is plain.
void print_colored(WORD attribute, piece text) {
  HANDLE output = standard_output();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!api.GetConsoleScreenBufferInfo(output, &info)) {
    // Without the attribute in force there is nothing to restore: setting
    // the colour would leave it (or black on black) on all later text.
    print_piece(text);
    return;
  }
  api.SetConsoleTextAttribute(output, attribute);
  print_piece(text);
  api.SetConsoleTextAttribute(output, info.wAttributes);
}

// The text of `code` and a line break, both in `attribute`.
void report_error_text(WORD attribute, DWORD code) {
  print_colored(attribute, error_text(code));
  print_colored(attribute, "\n");
}

void report_will_continue() { print_colored(color_warning, "Will attempt to continue...\n"); }

}  // namespace

void report_warning(std::initializer_list<piece> headline, DWORD code) {
  for (const piece& text : headline) print_colored(color_warning, text);
  report_error_text(color_warning, code);
  report_will_continue();
}

void report_error(std::initializer_list<piece> headline, DWORD code) {
  for (const piece& text : headline) print_colored(color_error, text);
  report_error_text(color_error, code);
}

void report_warning(std::initializer_list<piece> headline) {
  report_notice(headline);
  report_will_continue();
}

void report_error(std::initializer_list<piece> headline) {
  for (const piece& text : headline) print_colored(color_error, text);
}

void report_notice(std::initializer_list<piece> line) {
  for (const piece& text : line) print_colored(color_warning, text);
}

DWORD end_line(DWORD error, failure_block block, std::string_view ok) {
  if (error == ERROR_SUCCESS) {
    print_text(ok);
  } else if (block == failure_block::warning) {
    report_warning({"failed\n"}, error);
  } else {
    report_error({"failed\n"}, error);
  }
  return error;
}

}  // namespace brq_install
