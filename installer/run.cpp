#include "run.hpp"

#include "check_processes.hpp"
#include "command_line.hpp"
#include "console/console.hpp"
#include "copy_files.hpp"
#include "destination.hpp"
#include "discover_services.hpp"
#include "firewall.hpp"
#include "install_plan.hpp"
#include "installation_lock.hpp"
#include "os_version.hpp"
#include "product.h"
#include "register_services.hpp"
#include "service_start_stop.hpp"

namespace brq_install {

int run(int argc, const char* const* argv) {
  brq_install_arg arg;
  arg.action = install_action::install;
  if (!brq_install_arg::parse(argc, argv, arg)) return 1;
  if (arg.action == install_action::show_version) {
    print_text(BRQ_VERSION_TEXT "\n");
    return 0;
  }

  installation_lock lock;  // held until the run ends, whichever way
  if (!lock.acquire()) return 1;

  install_plan plan = build_install_plan();
  detect_os(plan);  // always true
  if (!settle_destination(plan)) return 1;
  discover_services(plan);  // always true: its failures are warnings
  if (!plan.services.empty()) {
    print_text("Will stop services...\n");
    stop_services(plan);
  }
  // A failure from here on leaves the services stopped above as they are.
  check_processes(plan);  // always true
  if (!copy_files(plan)) return 1;
  if (!register_services(plan)) return 1;
  configure_firewall(plan);  // always true
  return start_services(plan) ? 0 : 1;
}

}  // namespace brq_install
