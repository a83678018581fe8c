#pragma once
// Ctrl+C, Ctrl+Break and the console's close and shutdown events; a user's
// logoff is no reason to stop. The system delivers them on a thread of its
// own; the handler only sets a flag, and the run reads it where it can stop
// safely: before its first stop it ends at once, later it first puts back
// what it changed.
#include <optional>

#include "win/console_handler.hpp"

namespace brq_install {

// Installs the handler for the life of the run and clears the flag. A
// failure to install it leaves the system's default: the process ends, and
// the record on disk lets the next run complete the work.
class console_cancel {
 public:
  console_cancel();
  ~console_cancel();
  console_cancel(const console_cancel&) = delete;
  console_cancel& operator=(const console_cancel&) = delete;

 private:
  std::optional<win::console_handler> handler_;
};

// Whether the user asked the run to stop.
[[nodiscard]] bool cancel_requested();

// What the handler does; tests call it to cancel a run at a chosen point.
void request_cancel();

// The error block of a cancelled run: "Installation cancelled" and the text
// of 1223. Returns the exit code, 1.
int report_cancelled();

}  // namespace brq_install
