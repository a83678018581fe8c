#pragma once
// A clock for timed loops: GetTickCount reads `now`, and Sleep advances it
// instead of waiting, so a 30-second time-out runs in microseconds.
#include <windows.h>

#include <functional>
#include <vector>

#include "platform_override.hpp"

namespace brq_install::test {

class fake_clock {
 public:
  explicit fake_clock(DWORD start = 1000);
  ~fake_clock();
  fake_clock(const fake_clock&) = delete;
  fake_clock& operator=(const fake_clock&) = delete;

  DWORD now;                       // what GetTickCount returns; wraps like the real one
  std::vector<DWORD> sleeps;       // every Sleep, in order
  std::function<void()> on_sleep;  // runs after each Sleep has advanced the clock

  DWORD slept() const;  // the sum of all sleeps

 private:
  scoped_override<decltype(win::api.GetTickCount)> tick_;
  scoped_override<decltype(win::api.Sleep)> sleep_;
};

}  // namespace brq_install::test
