#include "win/payload_resource.hpp"

#include <algorithm>
#include <limits>

#include "payload/inflate.hpp"
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

// A new file written next to its target and moved over it only when it is
// whole; deleted again on every other way out.
class staged_file {
 public:
  explicit staged_file(std::wstring path) : path_(std::move(path)) {}
  ~staged_file() {
    file_.reset();
    if (created_) api.DeleteFileW(path_.c_str());
  }
  staged_file(const staged_file&) = delete;
  staged_file& operator=(const staged_file&) = delete;

  DWORD create() {
    file_.reset(
        api.CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return last_error(ERROR_OPEN_FAILED);
    created_ = true;
    return ERROR_SUCCESS;
  }

  DWORD write(const uint8_t* data, size_t size) { return write_all(file_.get(), data, size); }

  // Puts the new file, flushed to disk first, in the place of `target`.
  // The file that was there is moved to `backup` and `kept_old` set; should
  // the new file then fail to move, the old one is moved back at once.
  DWORD replace(const std::wstring& target, const std::wstring& backup, bool& kept_old) {
    // The move below is durable by itself; the bytes it points to are not
    // until they are flushed, and a power loss would leave a file of zeros.
    if (!api.FlushFileBuffers(file_.get())) return last_error();
    file_.reset();
    kept_old = false;
    if (DWORD error = move_file(target, backup)) {
      if (error != ERROR_FILE_NOT_FOUND) return error;
    } else {
      kept_old = true;
    }
    if (DWORD error = move_file(path_, target)) {
      if (kept_old && move_file(backup, target) == ERROR_SUCCESS) kept_old = false;
      return error;
    }
    created_ = false;
    return ERROR_SUCCESS;
  }

 private:
  std::wstring path_;
  unique_file_handle file_;
  bool created_ = false;
};

}  // namespace

std::wstring staging_path(const std::wstring& path) { return sibling_path(path, L".new"); }
std::wstring backup_path(const std::wstring& path) { return sibling_path(path, L".old"); }

DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path, std::span<uint8_t> buffer,
                               bool& kept_old) {
  kept_old = false;
  payload_view payload;
  if (DWORD error = find_payload(resource_id, payload)) return error;

  staged_file staged(staging_path(path));
  if (DWORD error = staged.create()) return error;
  DWORD write_error = ERROR_SUCCESS;
  uint64_t total = 0;
  bool inflated = inflate_zlib(payload.data, payload.size, buffer, [&](const uint8_t* data, size_t size) {
    if (size > max_file_size - total) {
      write_error = ERROR_INVALID_DATA;  // no file of this product is that large
      return false;
    }
    total += size;
    write_error = staged.write(data, size);
    return write_error == ERROR_SUCCESS;
  });
  if (write_error != ERROR_SUCCESS) return write_error;
  if (!inflated) return ERROR_INVALID_DATA;

  if (DWORD error = check_not_held(path)) return error;
  return staged.replace(path, backup_path(path), kept_old);
}

}  // namespace brq_install::win
