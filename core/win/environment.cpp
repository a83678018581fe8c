#include "win/environment.hpp"

#include <cwchar>

#include "win/last_error.hpp"

namespace brq_install::win {

namespace {

// GetEnvironmentVariableW answers 0 both for a failure and for an empty
// value; the last error, cleared before the call, tells them apart.
DWORD read_failure() { return last_error(ERROR_ENVVAR_NOT_FOUND); }

}  // namespace

DWORD get_program_files(std::wstring& value) {
  const wchar_t* name = L"ProgramFiles";
  api.SetLastError(0);
  DWORD size = api.GetEnvironmentVariableW(name, nullptr, 0);  // with the null
  if (size == 0) return read_failure();
  std::wstring buffer(size, L'\0');
  api.SetLastError(0);
  if (api.GetEnvironmentVariableW(name, buffer.data(), size) == 0) return read_failure();
  buffer.resize(std::wcslen(buffer.c_str()));  // the text up to the first null
  if (buffer.empty()) return ERROR_ENVVAR_NOT_FOUND;
  value = std::move(buffer);
  return 0;
}

std::wstring own_image_path() {
  std::wstring path(32768, L'\0');  // the longest path there is
  DWORD length = api.GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);  // a path cut short is no path
  return path;
}

DWORD leave_current_directory() {
  wchar_t system[MAX_PATH];
  UINT length = api.GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return last_error();
  return api.SetCurrentDirectoryW(system) ? ERROR_SUCCESS : last_error();
}

std::wstring system_temp_directory() {
  wchar_t windows[MAX_PATH];
  UINT length = api.GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::wstring(windows, length) + L"\\Temp";
}

}  // namespace brq_install::win
