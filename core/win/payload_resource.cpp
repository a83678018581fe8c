#include "win/payload_resource.hpp"

#include <limits>

#include "inflate/inflate.hpp"
#include "win/files.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

namespace {

// The largest file that a 32-bit resource can carry and a 32-bit count
// can describe.
constexpr uint64_t max_file_size = std::numeric_limits<DWORD>::max();

struct payload_view {
  const void* data = nullptr;
  DWORD size = 0;
};

// The compressed bytes of payload `resource_id` in the installer's own image.
DWORD find_payload(uint16_t resource_id, payload_view& payload) {
  HMODULE self = api.GetModuleHandleW(nullptr);
  HRSRC found = api.FindResourceW(self, MAKEINTRESOURCEW(resource_id), MAKEINTRESOURCEW(payload_resource_type));
  if (found == nullptr) return last_error(ERROR_RESOURCE_NAME_NOT_FOUND);
  HGLOBAL loaded = api.LoadResource(self, found);
  if (loaded == nullptr) return last_error(ERROR_RESOURCE_DATA_NOT_FOUND);
  payload.data = api.LockResource(loaded);
  if (payload.data == nullptr) return ERROR_INVALID_DATA;
  payload.size = api.SizeofResource(self, found);
  return ERROR_SUCCESS;
}

// Writes the inflated payload into `file` and flushes it.
DWORD write_payload(const payload_view& payload, HANDLE file, std::span<uint8_t> buffer) {
  DWORD write_error = ERROR_SUCCESS;
  uint64_t total = 0;
  bool inflated = inflate_zlib(payload.data, payload.size, buffer, [&](const uint8_t* data, size_t size) {
    if (size > max_file_size - total) {
      write_error = ERROR_INVALID_DATA;  // no file of this product is that large
      return false;
    }
    total += size;
    write_error = write_all(file, data, size);
    return write_error == ERROR_SUCCESS;
  });
  if (write_error != ERROR_SUCCESS) return write_error;
  if (!inflated) return ERROR_INVALID_DATA;
  return api.FlushFileBuffers(file) ? ERROR_SUCCESS : last_error();
}

}  // namespace

DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path, std::span<uint8_t> buffer) {
  payload_view payload;
  if (DWORD error = find_payload(resource_id, payload)) return error;
  DWORD error = ERROR_SUCCESS;
  {
    unique_file_handle file = create_file_for_writing(path, 0);
    if (!file) return last_error(ERROR_OPEN_FAILED);
    error = write_payload(payload, file.get(), buffer);
  }
  if (error != ERROR_SUCCESS) api.DeleteFileW(path.c_str());
  return error;
}

}  // namespace brq_install::win
