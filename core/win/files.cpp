#include "win/files.hpp"

#include <algorithm>

#include "win/unique.hpp"

namespace brq_install::win {

bool is_existing_file(const std::wstring& path) {
  DWORD attributes = api.GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DWORD get_file_attributes(const std::wstring& path, DWORD& attributes) {
  attributes = api.GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES ? ERROR_SUCCESS : last_error();
}

DWORD find_file(const std::wstring& path, bool& there, uint64_t& size) {
  there = false;
  size = 0;
  // No access asked, so that a file in use opens too; backup semantics let
  // a directory open as well.
  unique_file_handle file(api.CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    DWORD error = last_error(ERROR_OPEN_FAILED);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!api.GetFileInformationByHandle(file.get(), &info)) return last_error();
  there = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  return ERROR_SUCCESS;
}

bool cleared_read_only(const std::wstring& path) {
  DWORD attributes = api.GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
  return api.SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != FALSE;
}

unique_file_handle create_file_for_writing(const std::wstring& path, DWORD flags) {
  auto create = [&] {
    return unique_file_handle(api.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | flags, nullptr));
  };
  unique_file_handle file = create();
  if (file || api.GetLastError() != ERROR_ACCESS_DENIED) return file;
  if (cleared_read_only(path)) return create();
  api.SetLastError(ERROR_ACCESS_DENIED);  // the refusal, not what the attribute's calls left
  return file;
}

DWORD create_empty_file(const std::wstring& path) {
  unique_file_handle file = create_file_for_writing(path, FILE_FLAG_WRITE_THROUGH);
  return file ? ERROR_SUCCESS : last_error(ERROR_OPEN_FAILED);
}

std::wstring sibling_path(const std::wstring& path, std::wstring_view extension) {
  size_t name = path.find_last_of(L"\\/");
  name = name == std::wstring::npos ? 0 : name + 1;
  size_t dot = path.rfind(L'.');
  size_t stem_end = dot != std::wstring::npos && dot > name ? dot : path.size();
  return path.substr(0, stem_end) + std::wstring(extension);
}

std::wstring staging_path(const std::wstring& path) { return sibling_path(path, L".new"); }
std::wstring backup_path(const std::wstring& path) { return sibling_path(path, L".old"); }
std::wstring added_path(const std::wstring& path) { return sibling_path(path, L".add"); }

namespace {

// `call` made once more when it was refused (5) for a read-only `path`
// whose attribute could then be cleared: 0 or the code of the last call.
template <typename Call>
DWORD again_if_read_only(const std::wstring& path, Call call) {
  DWORD error = call();
  if (error == ERROR_ACCESS_DENIED && cleared_read_only(path)) error = call();
  return error;
}

}  // namespace

DWORD move_file(const std::wstring& from, const std::wstring& to) {
  return again_if_read_only(to, [&]() -> DWORD {
    if (api.MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return last_error();
  });
}

DWORD check_not_held(const std::wstring& path) {
  DWORD error = again_if_read_only(path, [&]() -> DWORD {
    unique_file_handle file(
        api.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : last_error(ERROR_OPEN_FAILED);
  });
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

DWORD delete_file(const std::wstring& path) {
  DWORD error = again_if_read_only(path, [&]() -> DWORD { return api.DeleteFileW(path.c_str()) ? 0 : last_error(); });
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

DWORD move_out_until_restart(const std::wstring& path, const std::wstring& directory, std::wstring& moved_to) {
  // The new name is reserved as an empty file, and its deletion asked for,
  // before the file takes it: a run that dies at any point leaves at most
  // an empty file there, never the moved one without its deletion. The
  // deletion names the moved file, never `path`, so that a file written
  // there again before the restart stays.
  wchar_t unique[MAX_PATH];
  if (directory.empty() || api.GetTempFileNameW(directory.c_str(), L"brq", 0, unique) == 0) {
    return last_error(ERROR_PATH_NOT_FOUND);
  }
  moved_to = unique;
  DWORD error = ERROR_SUCCESS;
  if (!api.MoveFileExW(moved_to.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) error = last_error();
  if (error == ERROR_SUCCESS) error = move_file(path, moved_to);
  if (error != ERROR_SUCCESS) (void)delete_file(moved_to);  // the empty file that reserved the name
  return error;
}

DWORD write_all(HANDLE file, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    api.SetLastError(ERROR_SUCCESS);
    if (!api.WriteFile(file, bytes, part, &written, nullptr) || written == 0 || written > part) {
      return last_error(ERROR_WRITE_FAULT);
    }
    bytes += written;
    size -= written;
  }
  return ERROR_SUCCESS;
}

DWORD write_file_durably(const std::wstring& path, const std::wstring& staging, std::string_view bytes) {
  DWORD error = ERROR_SUCCESS;
  {
    unique_file_handle file = create_file_for_writing(staging, FILE_FLAG_WRITE_THROUGH);
    if (!file) return last_error(ERROR_OPEN_FAILED);
    error = write_all(file.get(), bytes.data(), bytes.size());
    if (error == ERROR_SUCCESS && !api.FlushFileBuffers(file.get())) error = last_error();
  }
  if (error == ERROR_SUCCESS) error = move_file(staging, path);
  if (error != ERROR_SUCCESS) api.DeleteFileW(staging.c_str());
  return error;
}

DWORD read_small_file(const std::wstring& path, size_t limit, std::string& bytes) {
  unique_file_handle file(api.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_error(ERROR_OPEN_FAILED);
  // One byte more than allowed tells an oversized file from a full one.
  std::string buffer(limit + 1, '\0');
  size_t total = 0;
  for (;;) {
    DWORD read = 0;
    DWORD wanted = static_cast<DWORD>(std::min<size_t>(buffer.size() - total, 1u << 30));
    if (!api.ReadFile(file.get(), buffer.data() + total, wanted, &read, nullptr)) return last_error(ERROR_READ_FAULT);
    if (read == 0 || read > wanted) break;
    total += read;
    if (total > limit) return ERROR_FILE_TOO_LARGE;
  }
  buffer.resize(total);
  bytes = std::move(buffer);
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
