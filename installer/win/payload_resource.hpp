#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace brq_install::win {

// The resource type under which the installer carries its payloads.
inline constexpr uint16_t payload_resource_type = 1001;

// Where the new bytes of `path` are written before they replace it.
std::wstring staging_path(const std::wstring& path);

// Inflates the installer's payload `resource_id` into a new file next to
// `path` and moves it over `path`, so that `path` keeps its old bytes unless
// the new ones are whole; the new file is removed on every failure. Returns
// 0; 13 for a payload that cannot be locked or inflated, or that inflates
// past 4 GiB - 1; 32 while another process holds `path`; or the code of the
// call that failed.
DWORD extract_resource_to_file(uint16_t resource_id, const std::wstring& path);

}  // namespace brq_install::win
