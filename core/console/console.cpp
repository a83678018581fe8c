#include "console/console.hpp"

#include "win/console_io.hpp"

namespace brq_install {

namespace {

void print_piece(const piece& text) {
  if (const auto* narrow = std::get_if<std::string_view>(&text)) {
    print_text(*narrow);
  } else if (const auto* number = std::get_if<uint64_t>(&text)) {
    print_text(std::to_string(*number));
  } else {
    print_wide(std::get<std::wstring_view>(text));
  }
}

}  // namespace

void print_text(std::string_view text) { win::write_bytes(text); }

void print_wide(std::wstring_view text) {
  HANDLE output = win::standard_output();
  if (win::is_console(output)) {
    win::write_console(output, text);
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
  HANDLE output = win::standard_output();
  WORD before = 0;
  if (!win::text_attribute(output, before)) {
    // Without the attribute in force there is nothing to restore: setting
    // the colour would leave it (or black on black) on all later text.
    print_piece(text);
    return;
  }
  win::set_text_attribute(output, attribute);
  print_piece(text);
  win::set_text_attribute(output, before);
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
