#include "unit_prelude.hpp"

namespace brq_install {
namespace {

TEST(utf8_to_wide, converts_or_yields_nothing) {
  struct {
    std::string_view bytes;
    std::wstring expected;
  } cases[] = {
      {"", L""},
      {"brq", L"brq"},
      {"\xFF", L""},
      {"ok\xFF", L""},          // never a partial result
      {"\xC3\xA9", L"\u00E9"},  // one unit for a BMP character
      {"\xE4\xB8\xAD", L"\u4E2D"},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},  // a surrogate pair beyond the BMP
      {"\xED\xA0\x80", L""},                  // an encoded surrogate is invalid
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_to_wide(c.bytes), c.expected) << c.bytes;
}

TEST(utf8_to_wide, takes_a_length_and_needs_no_terminator) {
  const char bytes[] = {'Q', 'Z', 'V', 'x'};
  EXPECT_EQ(utf8_to_wide(bytes, 3), L"QZV");
  EXPECT_EQ(utf8_to_wide(bytes, 0), L"");
}

// The plan's fixed texts are ASCII: a conversion of the system that fails
// cannot empty a name, so no file lands outside its directory.
TEST(utf8_to_wide, ascii_needs_no_call_of_the_system) {
  test::scoped_override failing(
      win::api.MultiByteToWideChar, +[](UINT, DWORD, LPCCH, int, LPWSTR, int) { return 0; });
  install_plan plan = build_install_plan();
  EXPECT_EQ(plan.variant, L"brq");
  EXPECT_EQ(plan.files[2].name, L"qzv.ua.brq.dev.exe");
  EXPECT_EQ(plan.files[0].service_name, L"QZVOPCUA.BRQ");
  EXPECT_EQ(utf8_to_wide("\xC3\xA9"), L"");  // text beyond ASCII still needs it
}

TEST(wide_to_utf8, replaces_an_unpaired_surrogate_instead_of_failing) {
  EXPECT_EQ(wide_to_utf8(L"a\xD800z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(wide_to_utf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace brq_install
