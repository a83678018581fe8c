#pragma once
// One run at a time per machine: two runs together would stop, end and start
// each other's services and processes halfway.
#include "win/named_mutex.hpp"
#include "win/unique.hpp"

namespace brq_install {

// The mutex that every run owns while it works, in the Global\ namespace so
// that it covers every session of the machine.
inline constexpr const wchar_t* installation_mutex_name = L"Global\\Quorvanta.QZV.UA.brq.install";

// How long a run waits for another one to finish.
inline constexpr DWORD installation_wait_ms = 10 * 60 * 1000;

class installation_lock {
 public:
  installation_lock() = default;
  installation_lock(const installation_lock&) = delete;
  installation_lock& operator=(const installation_lock&) = delete;

  // Step: owns the lock, after printing "Waiting for another installation to
  // finish..." once when another run holds it. False, after an error block,
  // when the lock cannot be had within 10 minutes (1618) or at all, and at
  // once (5) when its mutex was there already and is not an administrator's.
  [[nodiscard]] bool acquire();

  // Whether the last owner ended without releasing the lock: a run died.
  [[nodiscard]] bool abandoned() const { return abandoned_; }

 private:
  win::unique_handle mutex_;
  win::unique_mutex_ownership owned_;  // released before the handle closes
  bool abandoned_ = false;

  DWORD wait_for_other_run(win::mutex_wait& outcome);
};

}  // namespace brq_install
