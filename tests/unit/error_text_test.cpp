// error_text: the system's text for a code, trimmed of its line breaks only.
#include <gtest/gtest.h>

#include <cstring>

#include "console/console.hpp"
#include "platform_override.hpp"

namespace brq_install {
namespace {

const wchar_t* system_text = nullptr;
DWORD asked_flags = 0, asked_code = 0, asked_language = 0;
int freed = 0;

DWORD WINAPI fake_format(DWORD flags, const void*, DWORD code, DWORD language, LPWSTR buffer,
                         DWORD, va_list*) {
  asked_flags = flags;
  asked_code = code;
  asked_language = language;
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

HLOCAL WINAPI counting_free(HLOCAL memory) {
  ++freed;
  return LocalFree(memory);
}

struct error_text_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    win::api.FormatMessageW = &fake_format;
    win::api.LocalFree = &counting_free;
    freed = 0;
  }
};

TEST_F(error_text_test, asks_the_system_in_the_users_language_without_inserts) {
  system_text = L"Access is denied.\r\n";
  EXPECT_EQ(error_text(5), L"Access is denied.");
  EXPECT_EQ(asked_flags, 0x1300u);
  EXPECT_EQ(asked_code, 5u);
  EXPECT_EQ(asked_language, 0x0400u);
  EXPECT_EQ(freed, 1);
}

TEST_F(error_text_test, removes_trailing_line_breaks_only) {
  struct {
    const wchar_t* system;
    const wchar_t* expected;
  } cases[] = {
      {L"The handle is invalid.\r\n", L"The handle is invalid."},
      {L"Trailing space stays. \n", L"Trailing space stays. "},
      {L"Line one.\r\nLine two.\r\n\r\n", L"Line one.\r\nLine two."},
      {L"Insert %1 stays.\r\n", L"Insert %1 stays."},
      {L"\r\n\r\n", L""},
      {L"\n", L""},
  };
  for (const auto& c : cases) {
    system_text = c.system;
    EXPECT_EQ(error_text(1), c.expected);
  }
  EXPECT_EQ(freed, 6);
}

TEST_F(error_text_test, code_without_text_is_unknown_error_with_eight_hex_digits) {
  system_text = nullptr;
  EXPECT_EQ(error_text(0x1A2B), L"Unknown error 0x00001A2B");
  EXPECT_EQ(error_text(0x80070002), L"Unknown error 0x80070002");
  EXPECT_EQ(error_text(0), L"Unknown error 0x00000000");
  EXPECT_EQ(freed, 0);
}

TEST(error_text_system, real_text_has_no_line_break_at_the_end) {
  std::wstring text = error_text(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), L'\n');
  EXPECT_NE(text.back(), L'\r');
}

}  // namespace
}  // namespace brq_install
