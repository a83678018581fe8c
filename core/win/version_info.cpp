// The Windows version, read from the version resource of the system's
// ntdll.dll: its file version is the version of the kernel actually running,
// while GetVersionEx would answer what the manifest lets it.
#include <vector>

#include "win/version_info.hpp"

#include "win/last_error.hpp"

namespace brq_install::win {

DWORD get_os_version(os_version& version) {
  version = {};
  const wchar_t* file = L"ntdll.dll";
  DWORD ignored = 0;
  DWORD size = api.GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return last_error();
  std::vector<unsigned char> data(size);
  if (!api.GetFileVersionInfoW(file, 0, size, data.data())) return last_error();
  void* root = nullptr;
  UINT length = 0;
  // VerQueryValueW sets no last error: a block that is missing or too short
  // is a version resource without the fixed information.
  if (!api.VerQueryValueW(data.data(), L"\\", &root, &length) || root == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return ERROR_RESOURCE_TYPE_NOT_FOUND;
  }
  const auto& info = *static_cast<const VS_FIXEDFILEINFO*>(root);
  version = {HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS), HIWORD(info.dwFileVersionLS),
             LOWORD(info.dwFileVersionLS)};
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
