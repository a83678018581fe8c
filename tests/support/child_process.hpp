#pragma once
// Runs a program as a child process with its output captured in files, as a
// software-distribution tool or a redirected command prompt would.
#include <windows.h>

#include <string>

namespace brq_install::testing {

struct child_result {
  DWORD exit_code = 0;
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error
};

// Runs `command_line` (program and arguments, quoted as needed) and waits for
// it to end. Fails the current test and returns exit code 0xFFFFFFFF when the
// program cannot be started.
child_result run_child(const std::wstring& command_line);

// The installer built with the tests, as a Windows path.
std::wstring installer_path();

// `installer_path()` in quotes, followed by `arguments`.
std::wstring installer_command(const std::wstring& arguments = L"");

}  // namespace brq_install::testing

namespace brq_install::testing {
// A wide text as UTF-8, for test traces.
std::string wide_for_trace(std::wstring_view text);
}  // namespace brq_install::testing
