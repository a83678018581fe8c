#pragma once
// The version of the Windows that runs.
#include <cstdint>

namespace brq_install::win {

struct os_version {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

// The file version of the system's ntdll.dll; all zeros when unreadable.
os_version get_os_version();

}  // namespace brq_install::win
