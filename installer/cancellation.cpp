#include "cancellation.hpp"

#include <atomic>

#include "console/console.hpp"
#include "win/platform.hpp"

namespace brq_install {

namespace {

std::atomic<bool> cancelled{false};

BOOL WINAPI on_console_event(DWORD event) {
  request_cancel();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The console closes, or the user logs off, or the system shuts down: the
  // process ends when this handler returns, or when the system's grace
  // period is over. Holding the handler gives the run all of that time.
  win::api.Sleep(INFINITE);
  return TRUE;
}

}  // namespace

console_cancel::console_cancel() {
  cancelled = false;
  win::api.SetConsoleCtrlHandler(&on_console_event, TRUE);
}

console_cancel::~console_cancel() {
  win::api.SetConsoleCtrlHandler(&on_console_event, FALSE);
  cancelled = false;
}

bool cancel_requested() { return cancelled; }

void request_cancel() { cancelled = true; }

int report_cancelled() {
  report_error({"Installation cancelled\n"}, ERROR_CANCELLED);
  return 1;
}

}  // namespace brq_install
