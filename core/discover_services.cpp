#include "discover_services.hpp"

#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/service_manager.hpp"
#include "win/service_query.hpp"

namespace brq_install {

std::string_view service_state_name(DWORD state) {
  static constexpr std::string_view names[] = {"stopped",          "start pending", "stop pending", "running",
                                               "continue pending", "pause pending", "paused"};
  return state >= 1 && state <= std::size(names) ? names[state - 1] : "unknown";
}

void discover_services(install_plan& plan) {
  // The installed programs, a first installation has none. One that cannot
  // be told to be there or not may run as a service all the same.
  std::vector<const payload_file*> files;
  std::vector<std::wstring> paths;
  for (const auto& file : plan.files) {
    bool installed = false;
    if (DWORD error = find_installed_program(file, installed)) {
      print({"Discovering services for \"", file.name, "\"...\n"});
      report_warning({"failed to enum services\n"}, error);
      plan.undiscovered.emplace_back(file.name);
    } else if (installed) {
      files.push_back(&file);
      paths.push_back(file.path);
    }
  }
  if (files.empty()) return;

  // One pass over the services for all of them; what it found, or why it
  // failed, is then told file by file.
  std::vector<std::vector<win::found_service>> found;
  win::unique_sc_handle scm;
  DWORD error = win::connect_service_manager(SC_MANAGER_ENUMERATE_SERVICE, scm);
  if (error == ERROR_SUCCESS) error = win::find_image_services(scm.get(), paths, found);
  for (size_t i = 0; i < files.size(); ++i) {
    print({"Discovering services for \"", files[i]->name, "\"...\n"});
    if (error != ERROR_SUCCESS) {
      report_warning({"failed to enum services\n"}, error);
      plan.undiscovered.emplace_back(files[i]->name);
      continue;
    }
    if (found[i].empty()) continue;
    std::vector<service_record> records;
    for (win::found_service& service : found[i]) {
      print({"  ", service.name, " -> ", service_state_name(service.state), "\n"});
      records.push_back({.name = std::move(service.name), .state = service.state, .start_type = service.start_type});
    }
    plan.services.emplace(std::wstring(files[i]->name), std::move(records));
  }
}

}  // namespace brq_install
