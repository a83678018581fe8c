#pragma once
// The generation class ("crt" flavour) of a Windows version, which decides
// which payload files apply on a system.
#include <cstdint>
#include <string_view>

#include "win/version_info.hpp"

namespace brq_install {

using win::get_os_version;
using win::os_version;

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

// The generation of a version: always one of the four odd values.
crt_flavour os_class(const os_version& version);

// "nt4", "nt4+", ... "current"; "unknown" for 0 and anything above 7.
std::string_view crt_name(crt_flavour crt);

}  // namespace brq_install
