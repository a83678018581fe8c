#include "win/privilege.hpp"

namespace brq_install::win {

debug_privilege::debug_privilege() {
  LUID debug{};
  if (!api.OpenProcessToken(api.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()) ||
      !api.LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug)) {
    return;
  }
  TOKEN_PRIVILEGES enabled{1, {{debug, SE_PRIVILEGE_ENABLED}}};
  DWORD size = 0;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token does not hold it.
  changed_ = api.AdjustTokenPrivileges(token_.get(), FALSE, &enabled, sizeof previous_, &previous_, &size) &&
             api.GetLastError() == ERROR_SUCCESS;
}

debug_privilege::~debug_privilege() {
  // `previous_` lists only what changed: nothing when it was enabled already.
  if (changed_) (void)api.AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
}

}  // namespace brq_install::win
