#pragma once
// Finding the services that run given files. Nothing here prints; the
// functions return a Windows error code, 0 for success.
#include <windows.h>

#include <span>
#include <string>
#include <vector>

namespace brq_install::win {

// A service as discovery finds it.
struct found_service {
  std::wstring name;
  DWORD state;  // SERVICE_RUNNING, ...
};

// One pass over the Win32 services (own or shared process, active or not):
// `found[i]` lists, in the order the service manager lists them, those
// whose command line's first argument names the file `paths[i]`. Each
// service's configuration is read once, each program opened once, and each
// of `paths` once. `scm` needs SC_MANAGER_ENUMERATE_SERVICE. A service
// deleted while the pass runs matches nothing; any other failure, including
// one listed service that cannot be opened or read, ends the pass with its
// code, and `found` is then to be discarded.
[[nodiscard]] DWORD find_image_services(SC_HANDLE scm, std::span<const std::wstring> paths,
                                        std::vector<std::vector<found_service>>& found);

}  // namespace brq_install::win
