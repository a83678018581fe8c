#include "run.hpp"

#include "cancellation.hpp"
#include "check_processes.hpp"
#include "copy_files.hpp"
#include "destination.hpp"
#include "discover_services.hpp"
#include "file_transaction.hpp"
#include "firewall.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "register_services.hpp"
#include "run_record.hpp"
#include "run_start.hpp"
#include "service_start_stop.hpp"
#include "uninstall_entry.hpp"

namespace brq_install {

namespace {

// The steps from the stop loop to the firewall; false when one failed or the
// run was cancelled at a point where it can stop safely. The copy puts the
// old files back itself.
bool update_installation(install_plan& plan) {
  if (!stop_services(plan) || cancel_requested()) return false;
  check_processes(plan);
  if (!copy_files(plan) || cancel_requested() || !write_uninstall_entry(plan) || cancel_requested() ||
      !register_services(plan) || cancel_requested()) {
    return false;
  }
  configure_firewall(plan);
  return true;
}

}  // namespace

int run(int argc, const char* const* argv) {
  run_start start(argc, argv);
  if (start.ended) return *start.ended;
  install_plan& plan = start.plan;
  detect_os(plan);
  if (!settle_destination(plan)) return 1;
  read_record(plan, start.abandoned());
  // A dead run's files that cannot be put in order: nothing may start on them.
  if (!recover_files(plan)) return 1;
  discover_services(plan);  // its failures are warnings
  resume_services(plan);

  // Until a service is stopped, a cancelled run has changed nothing but
  // what it resumed. Whatever happens, every service stopped, by this run
  // or by one that died, is started again.
  bool go = save_resumed_record(plan) && !cancel_requested();
  bool updated = go && update_installation(plan);
  // Nothing starts on files that are not one whole set.
  bool whole = files_whole(plan);
  bool started = whole && (go || has_services_to_start(plan) ? start_services(plan) : true);
  close_record(plan, started);
  if (cancel_requested()) return report_cancelled();
  return updated && started ? 0 : 1;
}

}  // namespace brq_install
