#include "installation_lock.hpp"

#include "console/console.hpp"
#include "win/named_mutex.hpp"

namespace brq_install {

installation_lock::~installation_lock() {
  if (owned_) win::api.ReleaseMutex(mutex_.get());
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
  if (error == ERROR_SUCCESS) {
    error = win::own_mutex(mutex_.get(), 0);
    if (error == WAIT_TIMEOUT) {
      print_text("Waiting for another installation to finish...\n");
      error = win::own_mutex(mutex_.get(), installation_wait_ms);
    }
  }
  if (error == WAIT_TIMEOUT) error = ERROR_INSTALL_ALREADY_RUNNING;
  if (error != ERROR_SUCCESS) {
    report_error({"Failed to lock the installation\n"}, error);
    return false;
  }
  owned_ = true;
  return true;
}

}  // namespace brq_install
