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

// One component `name` of a path, below the directory `parent` (or, with
// none, a whole NT path), opened as open_for_identity opens a file but with
// FILE_OPEN_REPARSE_POINT: should it be a link, the link itself opens.
unique_file_handle open_component(HANDLE parent, std::wstring& name) {
  auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  UNICODE_STRING text{bytes, bytes, name.data()};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK status_block{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  NTSTATUS status = api.NtCreateFile(&handle, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &object, &status_block, nullptr, 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                     FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
  return unique_file_handle(NT_SUCCESS(status) ? handle : INVALID_HANDLE_VALUE);
}

// Reads the identity of the file at `path` (X:\... or \\?\X:\...) without
// following a reparse point anywhere along it; false when it cannot be read
// or one is in the way. An open by the whole path would follow links in its
// directories, and checking them beforehand leaves time to swap one for a
// link; so each component is opened by its name alone, relative to the
// handle of the directory above, which no rename or new link can redirect,
// and refused when it is itself a reparse point. The first is named from the
// drive's root, which cannot be one. A name is taken as written, without the
// Win32 rules that drop trailing dots and spaces, as the kernel gave it.
bool read_unfollowed(std::wstring_view path, BY_HANDLE_FILE_INFORMATION& info) {
  if (path.starts_with(LR"(\\?\)")) path.remove_prefix(4);
  if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
  std::wstring name = LR"(\??\)" + std::wstring(path.substr(0, 3));
  path.remove_prefix(3);
  unique_file_handle directory;  // none yet: INVALID_HANDLE_VALUE, which the call must not see
  for (;;) {
    size_t end = path.find(L'\\');
    std::wstring_view component = path.substr(0, end);
    if (component.empty() || component == L"." || component == L"..") return false;
    name += component;
    unique_file_handle file = open_component(directory ? directory.get() : nullptr, name);
    if (!file || !api.GetFileInformationByHandle(file.get(), &info)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (end == std::wstring_view::npos) return true;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    directory = std::move(file);
    path.remove_prefix(end + 1);
    name.clear();
  }
}

bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool same_spelling(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

}  // namespace

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
  return match_read(path, readable ? &info : nullptr);
}

size_t file_identities::match_unfollowed(std::wstring_view path) const {
  BY_HANDLE_FILE_INFORMATION info{};
  return match_read(path, read_unfollowed(path, info) ? &info : nullptr);
}

// The file of them whose identity is `info`; without one, whose path is
// spelt as `path`.
size_t file_identities::match_read(std::wstring_view path, const BY_HANDLE_FILE_INFORMATION* info) const {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (info != nullptr ? files_[i].valid && same_identity(files_[i].info, *info) : same_spelling(files_[i].path, path))
      return i;
  }
  return none;
}

}  // namespace brq_install::win
