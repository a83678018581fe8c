// The Windows version, read from the version resource of the system's
// ntdll.dll: its file version is the version of the kernel actually running,
// while GetVersionEx would answer what the manifest lets it.
#include <vector>

#include "win/version_info.hpp"

#include "win/platform.hpp"

namespace brq_install::win {

os_version get_os_version() {
  const wchar_t* file = L"ntdll.dll";
  DWORD ignored = 0;
  DWORD size = api.GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> data(size);
  if (!api.GetFileVersionInfoW(file, 0, size, data.data())) return {};
  void* root = nullptr;
  UINT length = 0;
  if (!api.VerQueryValueW(data.data(), L"\\", &root, &length) || root == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  const auto& info = *static_cast<const VS_FIXEDFILEINFO*>(root);
  return {HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS), HIWORD(info.dwFileVersionLS),
          LOWORD(info.dwFileVersionLS)};
}

}  // namespace brq_install::win
