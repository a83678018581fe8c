#include "os_version.hpp"

#include "console/console.hpp"

namespace brq_install {

void read_os(install_plan& plan) {
  if (get_os_version(plan.os) != ERROR_SUCCESS) plan.os = {};
  plan.crt = os_class(plan.os);
}

void detect_os(install_plan& plan) {
  read_os(plan);
  const os_version& v = plan.os;
  print({"os ", v.major, ".", v.minor, ".", v.build, ".", v.revision, " => crt \"", crt_name(plan.crt), "\"\n"});
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
