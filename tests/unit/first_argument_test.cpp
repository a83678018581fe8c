// The program a command line names, split off without shell32.dll, against
// CommandLineToArgvW itself, called directly and not through the platform
// table, on every odd command line that the service tests register.
#include "unit_prelude.hpp"

#include <windows.h>
#include <shellapi.h>

#include "command_lines.hpp"
#include "win/command_line.hpp"

namespace brq_install {
namespace {

// argv[0] of CommandLineToArgvW for `command_line`, which ends at its first
// null as the function reads it.
std::wstring argv0(const std::wstring& command_line) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line.c_str(), &count);
  if (arguments == nullptr) {
    ADD_FAILURE() << "CommandLineToArgvW failed: " << GetLastError();
    return {};
  }
  std::wstring first = count >= 1 ? arguments[0] : L"<no argument>";
  LocalFree(arguments);
  return first;
}

std::wstring this_program() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

TEST(first_argument, is_what_command_line_to_argv_w_gives_as_argv0) {
  for (const auto& c : test::odd_command_lines()) {
    SCOPED_TRACE(c.what);
    std::wstring expected = argv0(c.command_line);
    if (c.command_line.c_str()[0] == L'\0') {
      // CommandLineToArgvW answers an empty line with the path of the
      // current program; an empty image path names no program, and
      // first_argument says so with an empty string.
      EXPECT_EQ(expected, this_program());
      expected.clear();
    }
    EXPECT_EQ(win::first_argument(c.command_line), expected);
  }
}

}  // namespace
}  // namespace brq_install
