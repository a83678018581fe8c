#pragma once
#include <windows.h>

#include <string_view>

namespace brq_install::win {

// Creates the service `name`: its own process, started automatically, normal
// error control, the local system account, `command_line` as registered
// command line; then gives it `description` (even an empty one) and its
// recovery: restarted a minute after its first and second failure (a crash,
// or a stop with an exit code other than 0), nothing after a third, the
// count of failures reset after a day. `scm` needs SC_MANAGER_CREATE_SERVICE.
// Returns 0 or the code of the refused creation. A description, or the
// stops with an exit code counted as failures, that could not be set do not
// count as a failure; restarts that could not be, do: the service is
// deleted again, so that the next run registers it whole (an existing
// registration is never changed).
[[nodiscard]] DWORD create_service(SC_HANDLE scm, std::wstring_view command_line, std::wstring_view name,
                                   std::wstring_view display_name, std::wstring_view description);

}  // namespace brq_install::win
