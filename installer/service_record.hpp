#pragma once
// What service discovery records about a service that runs a payload file.
#include <windows.h>

#include <string>
#include <vector>

namespace brq_install {

// A snapshot of QueryServiceConfigW.
struct service_config {
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::wstring command_line;
  std::wstring load_order_group;
  DWORD tag_id = 0;
  std::wstring dependencies;  // the first name of the list only
  std::wstring service_start_name;
  std::wstring display_name;
};

struct service_record {
  std::wstring name;
  std::wstring display_name;
  SERVICE_STATUS status{};  // as enumerated; only dwCurrentState is used later
  service_config config;
  // This run stops it, or an interrupted run stopped it: it is started
  // again at the end, whatever happens in between.
  bool restart = false;
  // The services that depend on it and were stopped before it, in the order
  // they were stopped: they are started again after it, in reverse.
  std::vector<std::wstring> dependents = {};
};

}  // namespace brq_install
