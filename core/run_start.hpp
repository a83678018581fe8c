#pragma once
// The beginning that both programs share: the command line parsed (a help
// request, an error and "--version" answered there), then Ctrl+C taken, the
// lock owned and the plan built.
#include <optional>

#include "cancellation.hpp"
#include "install_plan.hpp"
#include "installation_lock.hpp"

namespace brq_install {

class run_start {
 public:
  // `program` and `description` name the program in its help; by default
  // the installer.
  run_start(int argc, const char* const* argv, const char* program = nullptr, const char* description = nullptr);

  // The exit code when the program ends here: 0 after "--version", 1 after
  // a command-line error or when the lock cannot be had.
  std::optional<int> ended;
  install_plan plan;

  // Whether the lock's last owner died holding it.
  [[nodiscard]] bool abandoned() const { return lock_.abandoned(); }

 private:
  std::optional<console_cancel> cancel_;  // Ctrl+C is read at safe points
  installation_lock lock_;                // held until the run ends, whichever way
};

}  // namespace brq_install
