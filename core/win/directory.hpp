#pragma once
// Directories on the file system.
#include <windows.h>

#include <string>

namespace brq_install::win {

// Creates the directory `path` (its parent must exist). 0 when created,
// otherwise the Windows error: ERROR_ALREADY_EXISTS when it was there.
[[nodiscard]] DWORD create_directory(const std::wstring& path);

// Removes the directory `path` if it is empty: 0 when removed or not there,
// ERROR_DIR_NOT_EMPTY (145) when it holds anything, or the code of the
// failed call. A junction or symbolic link is removed itself, never what it
// points to.
[[nodiscard]] DWORD remove_empty_directory(const std::wstring& path);

}  // namespace brq_install::win
