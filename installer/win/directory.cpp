#include "win/directory.hpp"

#include "win/last_error.hpp"

namespace brq_install::win {

DWORD create_directory(const std::wstring& path) {
  if (api.CreateDirectoryW(path.c_str(), nullptr)) return 0;
  return last_error();
}

}  // namespace brq_install::win
