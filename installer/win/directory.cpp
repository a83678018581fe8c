#include "win/directory.hpp"

#include "win/platform.hpp"

namespace brq_install::win {

DWORD create_directory(const std::wstring& path) {
  if (api.CreateDirectoryW(path.c_str(), nullptr)) return 0;
  return api.GetLastError();
}

}  // namespace brq_install::win
