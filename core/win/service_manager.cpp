#include "win/service_manager.hpp"

namespace brq_install::win {

DWORD connect_service_manager(DWORD access, unique_sc_handle& scm) {
  scm.reset(api.OpenSCManagerW(nullptr, nullptr, access));
  return scm ? ERROR_SUCCESS : last_error();
}

}  // namespace brq_install::win
