#include "installation_lock.hpp"

#include "console/console.hpp"
#include "win/named_mutex.hpp"

namespace brq_install {

installation_lock::~installation_lock() {
  if (owned_) win::api.ReleaseMutex(mutex_.get());
}

bool installation_lock::acquire() {
  DWORD error = win::open_named_mutex(installation_mutex_name, mutex_);
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
