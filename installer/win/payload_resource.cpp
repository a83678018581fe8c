#include "win/payload_resource.hpp"

#include <algorithm>
#include <limits>

#include "payload/inflate.hpp"
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
  HRSRC found = api.FindResourceW(self, MAKEINTRESOURCEW(resource_id),
                                  MAKEINTRESOURCEW(payload_resource_type));
  if (found == nullptr) return last_error(ERROR_RESOURCE_NAME_NOT_FOUND);
  HGLOBAL loaded = api.LoadResource(self, found);
  if (loaded == nullptr) return last_error(ERROR_RESOURCE_DATA_NOT_FOUND);
  payload.data = api.LockResource(loaded);
  if (payload.data == nullptr) return ERROR_INVALID_DATA;
  payload.size = api.SizeofResource(self, found);
  return ERROR_SUCCESS;
}

// 0 when no other process holds `path` open: the exclusive open that a
// running program or an open handle refuses (32, a sharing violation) and a
// read-only file denies (5). A file that is not there yet is not held.
DWORD check_not_held(const std::wstring& path) {
  unique_file_handle file(api.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return ERROR_SUCCESS;
  DWORD error = last_error(ERROR_OPEN_FAILED);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
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
    file_.reset(api.CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return last_error(ERROR_OPEN_FAILED);
    created_ = true;
    return ERROR_SUCCESS;
  }

  // Writes all of `data`. A write that comes back short is continued, so
  // that the call which cannot go on reports why (112 on a full disk); the
  // last error is cleared first, since a stale one (183 from CREATE_ALWAYS)
  // is no reason.
  DWORD write(const uint8_t* data, size_t size) {
    while (size > 0) {
      DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD written = 0;
      api.SetLastError(ERROR_SUCCESS);
      if (!api.WriteFile(file_.get(), data, part, &written, nullptr) || written == 0 || written > part) {
        return last_error(ERROR_WRITE_FAULT);
      }
      data += written;
      size -= written;
    }
    return ERROR_SUCCESS;
  }

  // Closes the new file and puts it in the place of `target` in one step, so
  // that `target` is either its old self or the whole new file.
  DWORD replace(const std::wstring& target) {
    file_.reset();
    if (!api.MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return last_error();
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

std::wstring staging_path(const std::wstring& path) { return path + L".new"; }

DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path) {
  payload_view payload;
  if (DWORD error = find_payload(resource_id, payload)) return error;

  staged_file staged(staging_path(path));
  if (DWORD error = staged.create()) return error;
  DWORD write_error = ERROR_SUCCESS;
  uint64_t total = 0;
  bool inflated = inflate_zlib(payload.data, payload.size, [&](const uint8_t* data, size_t size) {
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
  return staged.replace(path);
}

}  // namespace brq_install::win
