#include "run.hpp"

#include "command_line.hpp"
#include "console/console.hpp"
#include "copy_files.hpp"
#include "destination.hpp"
#include "firewall.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"

namespace brq_install {

int run(int argc, const char* const* argv) {
  brq_install_arg arg;
  arg.action = install_action::install;
  if (!brq_install_arg::parse(argc, argv, arg)) return 1;
  if (arg.action == install_action::show_version) {
    print_text("1.0.0.0\n");
    return 0;
  }

  install_plan plan = build_install_plan();
  detect_os(plan);
  if (!settle_destination(plan)) return 1;
  if (!copy_files(plan)) return 1;
  configure_firewall(plan);  // always true: its failures are warnings
  return 0;
}

}  // namespace brq_install
