#pragma once
// The version of the Windows that runs.
#include <windows.h>

#include <cstdint>

namespace brq_install::win {

struct os_version {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

// Sets `version` to the file version of the system's ntdll.dll. Returns 0 or
// the code of the failed read, `version` then all zeros.
[[nodiscard]] DWORD get_os_version(os_version& version);

}  // namespace brq_install::win
