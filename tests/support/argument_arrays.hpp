#pragma once
// Counts the argument arrays that CommandLineToArgvW hands out and LocalFree
// gives back, through the platform table; the real functions do the work.
// At its end it checks that every array was freed.
#include <windows.h>

#include <set>

#include "platform_override.hpp"

namespace brq_install::testing {

class argument_arrays {
 public:
  argument_arrays();
  ~argument_arrays();
  argument_arrays(const argument_arrays&) = delete;
  argument_arrays& operator=(const argument_arrays&) = delete;

  std::set<HLOCAL> live;  // handed out and not yet freed
  int handed_out = 0;

  static argument_arrays* current;

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::testing
