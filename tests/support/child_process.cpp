#include "child_process.hpp"

#include <gtest/gtest.h>

#include "console/console.hpp"
#include "files.hpp"

namespace brq_install::testing {

namespace {

HANDLE inheritable_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string read_and_delete(const std::wstring& path) {
  std::string bytes = read_file(path);
  DeleteFileW(path.c_str());
  return bytes;
}

}  // namespace

child_result run_child(const std::wstring& command_line) {
  child_result result;
  std::wstring out_path = temp_file_path();
  std::wstring err_path = temp_file_path();
  HANDLE out = inheritable_file(out_path);
  HANDLE err = inheritable_file(err_path);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::wstring writable = command_line;
  BOOL started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  DWORD start_error = GetLastError();
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    ADD_FAILURE() << "cannot start the child process, error " << start_error;
    result.exit_code = 0xFFFFFFFF;
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  result.out = read_and_delete(out_path);
  result.err = read_and_delete(err_path);
  return result;
}

std::wstring installer_path() {
  // The build passes the Unix path of the installer; Wine shows the Unix
  // root as drive Z:.
  std::string unix_path = BRQ_INSTALLER;
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::wstring installer_command(const std::wstring& arguments) {
  std::wstring command = L"\"" + installer_path() + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  return command;
}

}  // namespace brq_install::testing

namespace brq_install::testing {
std::string wide_for_trace(std::wstring_view text) { return wide_to_utf8(text); }
}  // namespace brq_install::testing
