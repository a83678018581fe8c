#include "os_version.hpp"

#include <cstdio>
#include <tuple>

#include "console/console.hpp"
#include "install_plan.hpp"

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

void detect_os(install_plan& plan) {
  // An unreadable version is not reported: it counts as 0.0.0.0, which the
  // line shows, and the run goes on.
  if (get_os_version(plan.os) != ERROR_SUCCESS) plan.os = {};
  plan.crt = os_class(plan.os);
  const os_version& v = plan.os;
  std::string_view name = crt_name(plan.crt);
  char line[96];
  int length = std::snprintf(line, sizeof line, "os %u.%u.%u.%u => crt \"%.*s\"\n", static_cast<unsigned>(v.major),
                             static_cast<unsigned>(v.minor), static_cast<unsigned>(v.build),
                             static_cast<unsigned>(v.revision), static_cast<int>(name.size()), name.data());
  print_text(std::string_view(line, static_cast<size_t>(length)));
}

bool applies_to_os(const payload_file& file, const install_plan& plan) {
  if (file.crt == crt_flavour::unknown) return true;
  auto wanted = static_cast<uint32_t>(file.crt);
  auto system = static_cast<uint32_t>(os_class(plan.os));
  if (wanted > static_cast<uint32_t>(crt_flavour::current)) return false;
  // An odd value is its own generation only; an even one is the generation
  // below it and every later one.
  return wanted % 2 == 1 ? wanted == system : wanted - 1 <= system;
}

}  // namespace brq_install
