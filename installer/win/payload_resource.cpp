#include "win/payload_resource.hpp"

#include <vector>

#include "payload/inflate.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// A call that failed without setting an error must still not read as success.
DWORD last_error_or(DWORD fallback) {
  DWORD code = api.GetLastError();
  return code != ERROR_SUCCESS ? code : fallback;
}

}  // namespace

DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path) {
  HMODULE self = api.GetModuleHandleW(nullptr);
  HRSRC found = api.FindResourceW(self, MAKEINTRESOURCEW(resource_id),
                                  MAKEINTRESOURCEW(payload_resource_type));
  if (found == nullptr) return last_error_or(ERROR_RESOURCE_NAME_NOT_FOUND);
  HGLOBAL loaded = api.LoadResource(self, found);
  if (loaded == nullptr) return last_error_or(ERROR_RESOURCE_DATA_NOT_FOUND);
  const void* data = api.LockResource(loaded);
  if (data == nullptr) return ERROR_INVALID_DATA;
  DWORD size = api.SizeofResource(self, found);

  std::vector<uint8_t> file;
  if (!inflate_zlib(data, size, file)) return ERROR_INVALID_DATA;

  unique_file_handle out(api.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return last_error_or(ERROR_OPEN_FAILED);
  DWORD length = static_cast<DWORD>(file.size());
  DWORD written = 0;
  if (!api.WriteFile(out.get(), file.data(), length, &written, nullptr)) {
    return last_error_or(ERROR_WRITE_FAULT);
  }
  // A short write leaves a truncated program behind: never report it as done.
  if (written != length) return last_error_or(ERROR_WRITE_FAULT);
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
