#pragma once
// Finding the services that run given files. Nothing here prints; the
// functions return a Windows error code, 0 for success.
#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brq_install::win {

// A service as discovery finds it.
struct found_service {
  std::wstring name;
  DWORD state;       // SERVICE_RUNNING, ...
  DWORD start_type;  // SERVICE_AUTO_START, ...
};

// One pass over the Win32 services (own or shared process, active or not):
// `found[i]` lists, in the order the service manager lists them, those
// whose command line's first argument names the file `paths[i]`. Each
// service's configuration is read once, each program opened once, and each
// of `paths` once. `scm` needs SC_MANAGER_ENUMERATE_SERVICE. A service
// deleted while the pass runs matches nothing; any other failure, including
// one of `paths` whose identity cannot be read, or one listed service that
// cannot be opened or read, ends the pass with its code, and `found` is
// then to be discarded.
[[nodiscard]] DWORD find_image_services(SC_HANDLE scm, std::span<const std::wstring> paths,
                                        std::vector<std::vector<found_service>>& found);

// Sets `program` to the program that the service `name` runs, read from its
// command line as the service manager starts it (variables expanded, an
// unquoted path with blanks resolved as CreateProcess resolves it). `scm`
// needs SC_MANAGER_CONNECT. Returns 0, or the code of the failed call: 1060
// when there is no such service.
[[nodiscard]] DWORD query_service_program(SC_HANDLE scm, std::wstring_view name, std::wstring& program);

}  // namespace brq_install::win
