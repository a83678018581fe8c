// error_text: the system's text for a code, trimmed of its line breaks only.
#include "unit_prelude.hpp"

#include <cstring>

namespace brq_install {
namespace {

const wchar_t* system_text = nullptr;

DWORD WINAPI fake_format(DWORD, const void*, DWORD, DWORD, LPWSTR buffer, DWORD, va_list*) {
  if (system_text == nullptr) {
    ::SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  size_t length = std::wcslen(system_text);
  auto* copy = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(wchar_t)));
  std::wmemcpy(copy, system_text, length + 1);
  *reinterpret_cast<wchar_t**>(buffer) = copy;
  return static_cast<DWORD>(length);
}

TEST(error_text, removes_trailing_line_breaks_only_and_names_a_code_without_text) {
  test::scoped_platform platform;
  win::api.FormatMessageW = &fake_format;
  struct {
    const wchar_t* system;
    const wchar_t* expected;
  } cases[] = {
      {L"Trailing space stays. \n", L"Trailing space stays. "},
      {L"Line one.\r\nLine two.\r\n\r\n", L"Line one.\r\nLine two."},
      {L"\r\n\r\n", L""},
  };
  for (const auto& c : cases) {
    system_text = c.system;
    EXPECT_EQ(error_text(1), c.expected);
  }
  system_text = nullptr;
  EXPECT_EQ(error_text(0x1A2B), L"Unknown error 0x00001A2B");
  EXPECT_EQ(error_text(0x80070002), L"Unknown error 0x80070002");
}

// A message with an insert (Windows: "%1 is not a valid Win32 application.",
// Wine: "Bad EXE format for %1."): without FORMAT_MESSAGE_IGNORE_INSERTS the
// system would fail it for want of arguments.
TEST(error_text, the_systems_message_keeps_its_inserts_and_loses_its_line_break) {
  std::wstring text = error_text(ERROR_BAD_EXE_FORMAT);
  EXPECT_NE(text.find(L"%1"), std::wstring::npos) << wide_to_utf8(text);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), L'\n');
  EXPECT_NE(text.back(), L'\r');
}

}  // namespace
}  // namespace brq_install
