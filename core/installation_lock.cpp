#include "installation_lock.hpp"

#include "cancellation.hpp"
#include "console/console.hpp"
#include "win/clock.hpp"
#include "win/named_mutex.hpp"

namespace brq_install {

// Waits up to 10 minutes (then 1618), a second at a time, so that Ctrl+C
// ends the wait at once (1223).
DWORD installation_lock::wait_for_other_run(win::mutex_wait& outcome) {
  DWORD start = win::tick_count();
  for (;;) {
    if (DWORD error = win::own_mutex(mutex_.get(), 1000, outcome)) return error;
    if (outcome != win::mutex_wait::busy) return ERROR_SUCCESS;
    if (cancel_requested()) return ERROR_CANCELLED;
    if (win::tick_count() - start >= installation_wait_ms) return ERROR_INSTALL_ALREADY_RUNNING;
  }
}

bool installation_lock::acquire() {
  bool existed = false, trusted = true;
  DWORD error = win::open_named_mutex(installation_mutex_name, mutex_, existed);
  // Any local account may create a mutex in Global\, to hold every run off:
  // one that was there already is waited for only when an administrator's.
  if (error == ERROR_SUCCESS && existed) error = win::mutex_owner_is_administrator(mutex_.get(), trusted);
  if (error == ERROR_SUCCESS && !trusted) {
    report_error({"Failed to lock the installation: its mutex belongs to an account that is not an administrator\n"},
                 ERROR_ACCESS_DENIED);
    return false;
  }
  auto outcome = win::mutex_wait::busy;
  if (error == ERROR_SUCCESS) error = win::own_mutex(mutex_.get(), 0, outcome);
  if (error == ERROR_SUCCESS && outcome == win::mutex_wait::busy) {
    print_text("Waiting for another installation to finish...\n");
    error = wait_for_other_run(outcome);
  }
  if (error != ERROR_SUCCESS) {
    report_error({"Failed to lock the installation\n"}, error);
    return false;
  }
  abandoned_ = outcome == win::mutex_wait::abandoned;
  owned_.reset(mutex_.get());
  return true;
}

}  // namespace brq_install
