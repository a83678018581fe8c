#pragma once
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>

namespace brq_install::win {

// The resource type under which the installer carries its payloads.
inline constexpr uint16_t payload_resource_type = 1001;

// Inflates the installer's payload `resource_id` through the caller's
// `buffer` (an inflate_buffer, allocated once for every file and attempt)
// into a new file at `path`, one write per piece of the buffer's size at
// most, and flushes it to disk, so that a move of it is durable with its
// bytes: unflushed, a power loss after the move would leave a file of
// zeros. The file is deleted again on every failure. Returns 0; 13 for a
// payload that cannot be locked or inflated, or that inflates past
// 4 GiB - 1; or the code of the call that failed.
[[nodiscard]] DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path, std::span<uint8_t> buffer);

}  // namespace brq_install::win
