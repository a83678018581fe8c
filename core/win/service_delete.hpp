#pragma once
// Taking a service out of the service manager.
#include <windows.h>

#include <string_view>

namespace brq_install::win {

// Deletes the service `name` (it goes once its last handle is closed and it
// has stopped). `scm` needs SC_MANAGER_CONNECT. Returns 0, also when the
// service is not there or already marked for deletion, or the code of the
// failed call.
[[nodiscard]] DWORD delete_service(SC_HANDLE scm, std::wstring_view name);

}  // namespace brq_install::win
