#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace brq_install::win {

// The resource type under which the installer carries its payloads.
inline constexpr uint16_t payload_resource_type = 1001;

// Inflates the installer's payload `resource_id` and writes it to `path`,
// replacing any file there. Nothing on disk is touched unless the payload
// inflated whole with a matching checksum. Returns 0, 13 for a payload that
// cannot be locked or inflated, or the code of the call that failed.
DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path);

}  // namespace brq_install::win
