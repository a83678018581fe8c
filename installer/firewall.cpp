#include "firewall.hpp"

#include "console/console.hpp"
#include "install_plan.hpp"
#include "win/firewall.hpp"

namespace brq_install {

void configure_firewall(install_plan& plan) {
  print_text("Will configure firewall...\n");
  win::com_apartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (DWORD error = com.error()) {
    report_warning({"CoInitializeEx failed\n"}, error);
    return;
  }
  add_firewall_exceptions(plan);
}

void add_firewall_exceptions(install_plan& plan) {
  win::com_ptr<INetFwProfile> profile;
  if (DWORD error = win::open_current_firewall_profile(profile)) {
    report_warning({"firewall init failed\n"}, error);
    return;
  }

  const std::wstring name(firewall_exception_name);
  for (const auto& file : plan.files) {
    if (!file.firewall) continue;
    print({"exception for \"", file.name, "\"..."});
    end_line(win::ensure_firewall_exception(profile.get(), file.path, name), failure_block::warning, " ok\n");
  }
}

}  // namespace brq_install
