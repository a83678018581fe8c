#pragma once
// A routine that the system calls, on a thread of its own, for each console
// event (Ctrl+C, Ctrl+Break, the console closing, a logoff, a shutdown),
// installed while the owner lives.
#include "win/platform.hpp"

namespace brq_install::win {

class console_handler {
 public:
  // When the system cannot install it, the events keep their default: the
  // process ends, as a killed one, which the run record covers.
  explicit console_handler(PHANDLER_ROUTINE routine) : routine_(routine) { api.SetConsoleCtrlHandler(routine_, TRUE); }
  ~console_handler() { api.SetConsoleCtrlHandler(routine_, FALSE); }
  console_handler(const console_handler&) = delete;
  console_handler& operator=(const console_handler&) = delete;

 private:
  PHANDLER_ROUTINE routine_;
};

}  // namespace brq_install::win
