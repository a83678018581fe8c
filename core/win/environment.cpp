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

}  // namespace brq_install::win
