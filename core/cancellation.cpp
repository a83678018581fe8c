#include "cancellation.hpp"

#include <atomic>

#include "console/console.hpp"
#include "win/clock.hpp"

namespace brq_install {

namespace {

std::atomic<bool> cancelled{false};

BOOL WINAPI on_console_event(DWORD event) {
  // Any user's logoff reaches a console process that runs in a service's
  // context (a deployment agent's), which goes on running: no reason to
  // stop. Acknowledged, so that no other handler ends the process.
  if (event == CTRL_LOGOFF_EVENT) return TRUE;
  request_cancel();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The console closes, or the system shuts down: the process ends when
  // this handler returns, or when the system's grace period is over.
  // Holding the handler gives the run all of that time; the record lets
  // the next run (at the next boot) complete what is cut off.
  win::sleep_ms(INFINITE);
  return TRUE;
}

}  // namespace

console_cancel::console_cancel() {
  cancelled = false;
  handler_.emplace(&on_console_event);
}

console_cancel::~console_cancel() {
  handler_.reset();
  cancelled = false;
}

bool cancel_requested() { return cancelled; }

void request_cancel() { cancelled = true; }

int report_cancelled() {
  report_error({"Installation cancelled\n"}, ERROR_CANCELLED);
  return 1;
}

}  // namespace brq_install
