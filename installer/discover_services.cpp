#include "discover_services.hpp"

#include <optional>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/service_query.hpp"
#include "win/unique.hpp"

namespace brq_install {

namespace {

// The services of one installed program, or the code of the failed search.
DWORD find_services(const std::wstring& path, std::vector<service_record>& records) {
  win::unique_sc_handle scm(win::api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  if (!scm) return win::last_error();
  return win::find_image_services(scm.get(), path, records);
}

}  // namespace

std::string_view service_state_name(DWORD state) {
  static constexpr std::string_view names[] = {"stopped",          "start pending", "stop pending", "running",
                                               "continue pending", "pause pending", "paused"};
  return state >= 1 && state <= std::size(names) ? names[state - 1] : "unknown";
}

bool discover_services(install_plan& plan) {
  for (const auto& file : plan.files) {
    std::optional<std::wstring> path = installed_program(plan, *file);
    if (!path) continue;  // a first installation: nothing to find

    print_text("Discovering services for \"");
    print_wide(file->name);
    print_text("\"...\n");
    std::vector<service_record> records;
    if (DWORD error = find_services(*path, records)) {
      report_warning({"failed to enum services\n"}, error);
      plan.undiscovered.push_back(file->name);
      continue;  // what was matched so far is discarded
    }
    if (records.empty()) continue;
    for (const service_record& record : records) {
      print_text("  ");
      print_wide(record.name);
      print_text(" -> ");
      print_text(service_state_name(record.status.dwCurrentState));
      print_text("\n");
    }
    plan.services.emplace(file->name, std::move(records));
  }
  return true;
}

}  // namespace brq_install
