#pragma once
// What the run keeps of a service that runs a payload file.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

namespace brq_install {

// Service names as the service manager compares them: without regard to case.
inline bool same_service_name(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

struct service_record {
  std::wstring name;
  DWORD state = 0;  // as discovery found it
  DWORD start_type = SERVICE_DEMAND_START;
  // This run stops it, or an interrupted run stopped it: it is started
  // again at the end, whatever happens in between.
  bool restart = false;
  // The services that depend on it and were stopped before it, in the order
  // they were stopped: they are started again after it, in reverse.
  std::vector<std::wstring> dependents = {};
  // Why its stop, or the wait for it to stop, failed; 0 when it did not.
  DWORD stop_error = 0;
};

}  // namespace brq_install
