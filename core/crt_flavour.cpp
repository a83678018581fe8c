#include "crt_flavour.hpp"

#include <tuple>

namespace brq_install {

namespace {
auto as_tuple(const os_version& v) { return std::tie(v.major, v.minor, v.build, v.revision); }
bool below(const os_version& v, os_version threshold) { return as_tuple(v) < as_tuple(threshold); }
}  // namespace

crt_flavour os_class(const os_version& version) {
  if (below(version, {5, 0, 0, 0})) return crt_flavour::nt4;
  if (below(version, {5, 1, 2600, 5512})) return crt_flavour::w2k;
  if (below(version, {6, 1, 0, 0})) return crt_flavour::xpsp3;
  return crt_flavour::current;
}

std::string_view crt_name(crt_flavour crt) {
  switch (crt) {
    case crt_flavour::nt4: return "nt4";
    case crt_flavour::nt4_plus: return "nt4+";
    case crt_flavour::w2k: return "w2k";
    case crt_flavour::w2k_plus: return "w2k+";
    case crt_flavour::xpsp3: return "xpsp3";
    case crt_flavour::xpsp3_plus: return "xpsp3+";
    case crt_flavour::current: return "current";
    default: return "unknown";
  }
}

}  // namespace brq_install
