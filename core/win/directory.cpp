#include "win/directory.hpp"

#include "win/last_error.hpp"

namespace brq_install::win {

DWORD create_directory(const std::wstring& path) {
  if (api.CreateDirectoryW(path.c_str(), nullptr)) return 0;
  return last_error();
}

DWORD remove_empty_directory(const std::wstring& path) {
  if (api.RemoveDirectoryW(path.c_str())) return 0;
  DWORD error = last_error();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace brq_install::win
