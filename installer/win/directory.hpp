#pragma once
// Directories on the file system.
#include <windows.h>

#include <string>

namespace brq_install::win {

// Creates the directory `path` (its parent must exist). 0 when created,
// otherwise the Windows error: ERROR_ALREADY_EXISTS when it was there.
[[nodiscard]] DWORD create_directory(const std::wstring& path);

}  // namespace brq_install::win
