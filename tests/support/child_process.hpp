#pragma once
// Runs a program as a child process with its output captured in files, as a
// software-distribution tool or a redirected command prompt would.
#include <windows.h>

#include <string>
#include <string_view>

namespace brq_install::test {

struct child_result {
  DWORD exit_code = 0;
  std::string out;         // standard output, bytes as written
  std::string err;         // standard error
  bool timed_out = false;  // ended by wait() after its time limit
};

// A child process started with its output going into files.
class child_process {
 public:
  // Starts `command_line` (program and arguments, quoted as needed). Fails
  // the current test when the program cannot be started.
  explicit child_process(const std::wstring& command_line);
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  DWORD id() const { return process_.dwProcessId; }
  // Waits until the standard output so far holds `text` (true), or the
  // program ended or a minute passed without it (false).
  bool wait_for_output(const std::string& text);
  // Waits for the end and collects the exit code and the output; exit code
  // 0xFFFFFFFF when the program never started. A program still running after
  // `limit_ms` is ended (exit code 1) and reported as timed out, so that a
  // hang fails its test instead of blocking the suite.
  child_result wait(DWORD limit_ms = INFINITE);
  // Ends the process (exit code 1) if it still runs, then collects as wait().
  child_result terminate();

 private:
  PROCESS_INFORMATION process_{};
  std::wstring out_path_, err_path_;
};

// Runs `command_line` to its end.
child_result run_child(const std::wstring& command_line);

// A file of the build tree, given by its Unix path, as a Windows path.
std::wstring build_path(std::string_view unix_path);

// The installer built with the tests, as a Windows path.
std::wstring installer_path();

// The uninstaller built with the tests, as a Windows path.
std::wstring uninstaller_path();

// The program that the build embedded as payload `resource_id`.
std::wstring payload_input_path(int resource_id);

// The same installer with a damaged server payload.
std::wstring corrupt_installer_path();

// The same installer carrying another build of the programs: each payload
// with " other build" appended.
std::wstring other_installer_path();

// `program` in quotes, followed by `arguments`.
std::wstring installer_command(const std::wstring& arguments = L"", const std::wstring& program = installer_path());

}  // namespace brq_install::test

namespace brq_install::test {
// A wide text as UTF-8, for test traces.
std::string wide_for_trace(std::wstring_view text);
}  // namespace brq_install::test
