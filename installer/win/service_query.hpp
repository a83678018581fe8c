#pragma once
// Finding the services that run a given file. Nothing here prints; the
// functions return a Windows error code, 0 for success.
#include <windows.h>

#include <string_view>
#include <vector>

#include "service_record.hpp"

namespace brq_install::win {

// Appends to `records` every Win32 service (own or shared process, active or
// not) whose command line's first argument names the file `path`, in the
// order the service manager lists them. `scm` needs
// SC_MANAGER_ENUMERATE_SERVICE. A listed service that is gone by the time it
// is opened or read (1060, or 1072 for one marked for deletion) does not
// match. Any other failure, including one listed service that cannot be
// opened or read, ends the search with its code; `records` then holds only
// part of the matches and is to be discarded.
DWORD find_image_services(SC_HANDLE scm, std::wstring_view path, std::vector<service_record>& records);

// Opens the service `name` and copies its configuration into `config`.
DWORD query_service_config(SC_HANDLE scm, std::wstring_view name, service_config& config);

}  // namespace brq_install::win
