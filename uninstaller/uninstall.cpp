#include "uninstall.hpp"

#include "cancellation.hpp"
#include "check_processes.hpp"
#include "console/console.hpp"
#include "destination.hpp"
#include "discover_services.hpp"
#include "file_transaction.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "product.h"
#include "removal.hpp"
#include "run_record.hpp"
#include "run_start.hpp"
#include "service_start_stop.hpp"
#include "win/environment.hpp"

namespace brq_install {

namespace {

int report_removal_cancelled() {
  report_error({"Removal cancelled\n"}, ERROR_CANCELLED);
  return 1;
}

// The point of no return: from here on every step goes on whatever failed
// before it, so that as little as possible is left, and the next removal
// takes what is.
bool remove_everything(const install_plan& plan, const std::wstring& self, removal_tally& tally) {
  bool ok = delete_services(plan, tally);
  ok &= remove_firewall_exceptions(plan, tally);
  // A file left behind keeps its directory, which is then no one else's,
  // and the entry, from which the removal can be started again.
  bool files_gone = delete_files(plan, self, tally);
  bool directories_gone = files_gone && remove_directories(plan, tally);
  bool entry_gone = files_gone && delete_uninstall_entry(tally);
  return ok && directories_gone && entry_gone;
}

}  // namespace

int uninstall(int argc, const char* const* argv) {
  // Ctrl+C is read before the first stop only.
  run_start start(argc, argv, "qzv.ua.brq.uninstall", BRQ_UNINSTALLER_DESCRIPTION);
  if (start.ended) return *start.ended;
  install_plan& plan = start.plan;
  // Started from the destination, this program must not hold it open.
  (void)win::leave_current_directory();
  read_os(plan);  // which files are the product's on this Windows, silently
  if (!settle_destination(plan) || !check_no_links(plan)) return 1;
  // What an installer's run left that died is put in order first, so that
  // a removal that stops short leaves the installation whole and running.
  read_record(plan, start.abandoned());
  if (!recover_files(plan)) return 1;
  discover_services(plan);
  if (!plan.undiscovered.empty()) {
    // A service that could not be looked at may run a file: nothing goes.
    report_error({"Removal stopped: the services of the installed files are unknown\n"});
    return 1;
  }
  resume_services(plan);
  find_orphaned_services(plan);

  // Stopped services are written into the run's record first: should this
  // run die before it deletes them, the installer's next run starts them.
  bool cancelled = cancel_requested();
  bool go = !cancelled && save_resumed_record(plan);
  bool stopped = go && stop_services(plan) && services_stopped(plan);
  if (stopped) check_processes(plan);
  const std::wstring self = own_product_file(plan);
  if (!stopped || !files_removable(plan, self)) {
    // The installation stays as it was; its lines tell. Nothing starts on
    // files that are not one whole set.
    bool whole = files_whole(plan);
    bool started = whole && (go || has_services_to_start(plan) ? start_services(plan) : true);
    close_record(plan, started);
    return cancelled ? report_removal_cancelled() : 1;
  }
  removal_tally tally;
  bool removed = remove_everything(plan, self, tally);
  if (removed && tally.removed == 0 && plan.services.empty()) print_text("Nothing to remove\n");
  return removed ? 0 : 1;
}

}  // namespace brq_install
