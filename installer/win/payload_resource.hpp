#pragma once
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>

namespace brq_install::win {

// The resource type under which the installer carries its payloads.
inline constexpr uint16_t payload_resource_type = 1001;

// Beside each installed file: where its new bytes are written before they
// replace it, and where its old bytes are kept until the whole set of files
// is in place. Never longer than the file's own path.
std::wstring staging_path(const std::wstring& path);
std::wstring backup_path(const std::wstring& path);

// Inflates the installer's payload `resource_id` through the caller's
// `buffer` (an inflate_buffer, allocated once for every file and attempt)
// into the staging file of `path`, one write per piece of the buffer's size
// at most, flushes it, and puts it in the place of `path`; the file that was
// there is kept as the backup file, and `kept_old` tells whether there was
// one. `path` thus holds its old bytes or the whole new file; the staging
// file is removed on every failure. Returns 0; 13 for a payload that cannot
// be locked or inflated, or that inflates past 4 GiB - 1; 32 while another
// process holds `path`; or the code of the call that failed.
[[nodiscard]] DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path, std::span<uint8_t> buffer,
                                             bool& kept_old);

}  // namespace brq_install::win
