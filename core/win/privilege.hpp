#pragma once
// A privilege of the process's token, enabled for a while.
#include <windows.h>

#include "win/unique.hpp"

namespace brq_install::win {

// Enables SeDebugPrivilege while it lives, when the token holds it (an
// administrator's elevated token and LocalSystem's do), so that the
// processes of other users and of services open like the caller's own; puts
// the privilege back as it was at its end. A token without it, or one that
// cannot be adjusted, leaves things as they are: such processes are then
// passed over.
class debug_privilege {
 public:
  debug_privilege();
  ~debug_privilege();
  debug_privilege(const debug_privilege&) = delete;
  debug_privilege& operator=(const debug_privilege&) = delete;

 private:
  unique_handle token_;
  TOKEN_PRIVILEGES previous_{};  // what the enabling changed
  bool changed_ = false;
};

}  // namespace brq_install::win
