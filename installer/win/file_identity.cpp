#include "win/file_identity.hpp"

#include <string>

#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// Opened without any access right, only to ask for the file's identity;
// shared in every way, so that a file in use opens too. Backup semantics
// lets a directory open as well.
unique_file_handle open_for_identity(std::wstring_view path) {
  return unique_file_handle(api.CreateFileW(std::wstring(path).c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

bool same_file(std::wstring_view path_a, std::wstring_view path_b) {
  // Both are held open while they are compared, so that neither can be
  // replaced by another file that reuses its index in between.
  unique_file_handle a = open_for_identity(path_a);
  unique_file_handle b = open_for_identity(path_b);
  if (!a || !b) return false;
  BY_HANDLE_FILE_INFORMATION info_a{}, info_b{};
  if (!api.GetFileInformationByHandle(a.get(), &info_a)) return false;
  if (!api.GetFileInformationByHandle(b.get(), &info_b)) return false;
  return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
         info_a.nFileIndexHigh == info_b.nFileIndexHigh && info_a.nFileIndexLow == info_b.nFileIndexLow;
}

}  // namespace brq_install::win
