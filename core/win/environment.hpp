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

// The path of this program's own file, as it was started; empty when it
// cannot be read.
std::wstring own_image_path();

// Makes the system directory the current directory, so that this process
// keeps no directory it may remove open.
[[nodiscard]] DWORD leave_current_directory();

// The system's temporary directory (%SystemRoot%\Temp), on the system's
// volume; empty when the Windows directory cannot be read.
std::wstring system_temp_directory();

}  // namespace brq_install::win
