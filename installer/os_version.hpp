#pragma once
// The Windows version and the generation class ("crt" flavour) that decides
// which payload files apply on this system.
#include <cstdint>

namespace brq_install {

struct os_version {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

// An odd value names one Windows generation; an even value names the
// generation of the odd value below it and every later one.
enum class crt_flavour : uint32_t {
  unknown = 0,
  nt4 = 1,
  nt4_plus = 2,
  w2k = 3,
  w2k_plus = 4,
  xpsp3 = 5,
  xpsp3_plus = 6,
  current = 7,
};

}  // namespace brq_install
