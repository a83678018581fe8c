#pragma once
// Fault injection over the whole platform table. While a fault_driver lives,
// every entry of win::api goes through a shim that logs the call (in order,
// by function name) and forwards it to whatever the entry held before (the
// real function or a test's fake). Call N of the run, counted from 1, can be
// made to fail: the shim then returns the function's failure value without
// forwarding and sets the given last error.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "win/platform.hpp"

namespace brq_install::test {

class fault_driver {
 public:
  // Wraps every entry of the table as it is now (`below`); the destructor
  // puts the table back.
  fault_driver();
  ~fault_driver();
  fault_driver(const fault_driver&) = delete;
  fault_driver& operator=(const fault_driver&) = delete;

  // Makes call `n` fail with `error` as its last error (0 leaves the last
  // error at 0); with `sticky`, every later call of that function fails too.
  // n = 0 fails nothing. Clears the log.
  void fail(size_t n, DWORD error, bool sticky = false);

  // Ends the process at call `n`, as far as the system can tell: from that
  // call on every call fails and reaches nothing, except the releases, which
  // the system does for a process that has died (its handles closed, its
  // memory freed). A mutex it owned is not released: it is abandoned.
  void kill(size_t n);


  // The code a failure of `function` usually comes with.
  static DWORD usual_error(std::string_view function);

  struct call {
    const char* function;
    bool can_fail;  // not GetLastError, SetLastError or a function returning nothing
  };
  std::vector<call> calls;  // every call since fail(), in order
  size_t failures = 0;      // calls made to fail since fail()
  // Runs at each failed call, before the shim returns.
  std::function<void(const char* function)> on_failure;
  // Runs as each call is made, before the call itself, with its number.
  std::function<void(size_t n)> before_call;
  const win::platform_table below = win::api;

  // Used by the shims.
  bool should_fail(const char* function, bool can_fail);
  DWORD error() const { return error_; }
  static fault_driver* active;

 private:
  size_t fail_at_ = 0;
  DWORD error_ = 0;
  bool sticky_ = false;
  size_t killed_at_ = 0;
  const char* failed_function_ = nullptr;
};

}  // namespace brq_install::test
