#include "child_process.hpp"

#include <gtest/gtest.h>

#include "console/console.hpp"
#include "files.hpp"

namespace brq_install::test {

namespace {

HANDLE inheritable_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

child_process::child_process(const std::wstring& command_line)
    : out_path_(temp_file_path()), err_path_(temp_file_path()) {
  HANDLE out = inheritable_file(out_path_);
  HANDLE err = inheritable_file(err_path_);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring writable = command_line;
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_)) {
    ADD_FAILURE() << "cannot start " << wide_for_trace(command_line) << ", error " << GetLastError();
    process_ = {};
  }
  CloseHandle(out);
  CloseHandle(err);
}

child_process::~child_process() {
  if (process_.hProcess != nullptr) terminate();
  DeleteFileW(out_path_.c_str());
  DeleteFileW(err_path_.c_str());
}

bool child_process::wait_for_output(const std::string& text) {
  for (int i = 0; i < 600 && process_.hProcess != nullptr; ++i) {
    if (read_file(out_path_).find(text) != std::string::npos) return true;
    if (WaitForSingleObject(process_.hProcess, 100) == WAIT_OBJECT_0) break;
  }
  return read_file(out_path_).find(text) != std::string::npos;
}

child_result child_process::wait(DWORD limit_ms) {
  child_result result;
  result.exit_code = 0xFFFFFFFF;
  if (process_.hProcess != nullptr) {
    if (WaitForSingleObject(process_.hProcess, limit_ms) == WAIT_TIMEOUT) {
      result.timed_out = true;
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, INFINITE);
    }
    GetExitCodeProcess(process_.hProcess, &result.exit_code);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_.hProcess = nullptr;
  }
  result.out = read_file(out_path_);
  result.err = read_file(err_path_);
  return result;
}

child_result child_process::terminate() {
  if (process_.hProcess != nullptr) TerminateProcess(process_.hProcess, 1);
  return wait();
}

child_result run_child(const std::wstring& command_line) { return child_process(command_line).wait(); }

std::wstring build_path(std::string_view unix_path) {
  // Wine shows the Unix root as drive Z:.
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::wstring installer_path() { return build_path(BRQ_INSTALLER); }
std::wstring uninstaller_path() { return build_path(BRQ_UNINSTALLER); }

std::wstring payload_input_path(int resource_id) {
  switch (resource_id) {
    case 101: return build_path(BRQ_PAYLOAD_101);
    case 102: return build_path(BRQ_PAYLOAD_102);
    case 103: return build_path(BRQ_PAYLOAD_103);
    case 104: return build_path(BRQ_PAYLOAD_104);
  }
  return {};
}

std::wstring corrupt_installer_path() { return build_path(BRQ_CORRUPT_INSTALLER); }
std::wstring other_installer_path() { return build_path(BRQ_OTHER_INSTALLER); }

std::wstring installer_command(const std::wstring& arguments, const std::wstring& program) {
  std::wstring command = L"\"" + program + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  return command;
}

}  // namespace brq_install::test

namespace brq_install::test {
std::string wide_for_trace(std::wstring_view text) { return wide_to_utf8(text); }
}  // namespace brq_install::test
