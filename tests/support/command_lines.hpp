#pragma once
// Service command lines as other software registers them, at their oddest:
// blanks, tabs, quotes that never close, backslashes before quotes, 32 KiB
// of text. None names a file of the installer's. The service tests register
// each beside the installer's services; the first-argument test splits each
// as CommandLineToArgvW does.
#include <string>
#include <vector>

namespace brq_install::test {

struct command_line_case {
  std::string what;
  std::wstring command_line;
};

const std::vector<command_line_case>& odd_command_lines();

}  // namespace brq_install::test
