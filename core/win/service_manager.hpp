#pragma once
// The connection to the service manager that every service operation opens
// for itself, with the least access it needs, and closes when done.
#include <windows.h>

#include "win/unique.hpp"

namespace brq_install::win {

// Connects to the service manager of this machine and its active database
// with `access`: 0 and `scm` set, or the code of the failed call.
[[nodiscard]] DWORD connect_service_manager(DWORD access, unique_sc_handle& scm);

}  // namespace brq_install::win
