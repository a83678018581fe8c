#pragma once
// What the product takes through the platform table, counted against what it
// gives back, by value: kernel handles (files, the lock's mutex, processes),
// service handles, local memory (system messages, security descriptors) and
// COM apartments. A ledger lies over the table as it finds it and puts the
// table back when it goes; one at a time. Over a live fault driver, a release
// that the driver fails is done below the driver for real, and counted as
// given back, so that the test process keeps nothing.
#include <windows.h>

#include <set>
#include <string>

#include "win/platform.hpp"

namespace brq_install::test {

class fault_driver;

// The table as the live ledger made it (the real functions, counted), or the
// real functions when no ledger lives: where a test's fake forwards the calls
// it does not fake, so that what they hand out is still counted.
const win::platform_table& beneath();

class ledger {
 public:
  ledger();
  ~ledger();
  ledger(const ledger&) = delete;
  ledger& operator=(const ledger&) = delete;

  // Empty when every value taken was given back, each once; otherwise what
  // is held or was given back twice. A value the ledger never saw taken (a
  // test's fake handed it out below a fake) is not counted.
  std::string unbalanced() const;

  // Used by the shims.
  using values = std::multiset<const void*>;
  values handles, service_handles, locals, registry_keys;
  int apartments = 0;
  int double_releases = 0;
  win::platform_table driver;  // the table the ledger lies over
  const fault_driver* faults;  // the live one, if any
  void taken(values& held, const void* value);
  void given_back(values& held, const void* value);

 private:
  std::set<const void*> released_;
  win::platform_table counted_;
  friend const win::platform_table& beneath();
  void install();
};

}  // namespace brq_install::test
