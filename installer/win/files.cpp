#include "win/files.hpp"

#include "win/platform.hpp"

namespace brq_install::win {

bool is_existing_file(const std::wstring& path) {
  DWORD attributes = api.GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace brq_install::win
