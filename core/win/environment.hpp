#pragma once
// The environment of the installer's process.
#include <windows.h>

#include <string>

namespace brq_install::win {

// The value of "ProgramFiles" into `value`; 0 on success, otherwise the
// Windows error and `value` unchanged. A variable that exists with an empty
// value counts as missing (ERROR_ENVVAR_NOT_FOUND): an empty program-files
// directory would turn the destination into a path relative to whatever the
// current directory is.
[[nodiscard]] DWORD get_program_files(std::wstring& value);

}  // namespace brq_install::win
