// The firewall exception, through the same COM objects that added it.
#include "console/console.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "win/firewall.hpp"

namespace brq_install {

bool remove_firewall_exceptions(const install_plan& plan, removal_tally& tally) {
  win::com_apartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (DWORD error = com.error()) {
    report_error({"CoInitializeEx failed\n"}, error);
    return false;
  }
  win::com_ptr<INetFwProfile> profile;
  if (DWORD error = win::open_current_firewall_profile(profile)) {
    report_error({"firewall init failed\n"}, error);
    return false;
  }
  bool ok = true;
  for (const payload_file& file : plan.files) {
    if (!file.firewall) continue;
    bool removed = false;
    DWORD error = win::remove_firewall_exception(profile.get(), file.path, removed);
    if (error == ERROR_SUCCESS && !removed) continue;  // there was none
    print({"Removing firewall exception for \"", file.name, "\"... "});
    ok &= end_removal_line(error, tally);
  }
  return ok;
}

}  // namespace brq_install
