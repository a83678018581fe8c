#pragma once
#include <windows.h>

#include <string_view>

namespace brq_install::win {

// Creates the service `name`: its own process, started automatically, normal
// error control, the local system account, `command_line` as registered
// command line; then gives it `description` (even an empty one). `scm` needs
// SC_MANAGER_CREATE_SERVICE. Returns 0 or the code of the refused creation;
// a description that could not be set does not count as a failure.
[[nodiscard]] DWORD create_service(SC_HANDLE scm, std::wstring_view command_line, std::wstring_view name,
                                   std::wstring_view display_name, std::wstring_view description);

}  // namespace brq_install::win
