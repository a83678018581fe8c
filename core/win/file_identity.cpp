#include "win/file_identity.hpp"

#include <algorithm>
#include <cwctype>

namespace brq_install::win {

namespace {

// Opened without any access right, only to ask for the file's identity;
// shared in every way, so that a file in use opens too. Backup semantics
// lets a directory open as well.
unique_file_handle open_for_identity(std::wstring_view path) {
  return unique_file_handle(api.CreateFileW(std::wstring(path).c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool same_spelling(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

}  // namespace

bool same_file(std::wstring_view path_a, std::wstring_view path_b) {
  std::wstring a(path_a);
  return file_identities(std::span(&a, 1)).match(path_b) == 0;
}

file_identities::file_identities(std::span<const std::wstring> paths) : files_(paths.size()) {
  for (size_t i = 0; i < paths.size(); ++i) {
    files_[i].path = paths[i];
    files_[i].handle = open_for_identity(paths[i]);
    files_[i].valid = files_[i].handle && api.GetFileInformationByHandle(files_[i].handle.get(), &files_[i].info);
    if (!files_[i].valid && error_ == ERROR_SUCCESS) error_ = last_error(ERROR_OPEN_FAILED);
  }
}

size_t file_identities::match(std::wstring_view path) const {
  unique_file_handle file = open_for_identity(path);
  BY_HANDLE_FILE_INFORMATION info{};
  bool readable = file && api.GetFileInformationByHandle(file.get(), &info);
  for (size_t i = 0; i < files_.size(); ++i) {
    if (readable ? files_[i].valid && same_identity(files_[i].info, info) : same_spelling(files_[i].path, path))
      return i;
  }
  return none;
}

}  // namespace brq_install::win
