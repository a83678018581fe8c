// The services: the installer's own are deleted, others are left.
#include <algorithm>
#include <cwctype>
#include <string>
#include <string_view>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "win/service_control.hpp"
#include "win/service_delete.hpp"
#include "win/service_manager.hpp"
#include "win/service_query.hpp"

namespace brq_install {

namespace {

// Names and paths as Windows compares them, without regard to case.
bool same_text(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The file whose service the installer registers under `name`, if any.
const payload_file* registered_for(const install_plan& plan, const std::wstring& file, const std::wstring& name) {
  for (const payload_file& candidate : plan.files) {
    if (candidate.service && candidate.name == file && same_text(candidate.service_name, name)) return &candidate;
  }
  return nullptr;
}

}  // namespace

void find_orphaned_services(install_plan& plan) {
  win::unique_sc_handle scm;
  for (const payload_file& file : plan.files) {
    if (!file.service || plan.services.contains(std::wstring(file.name))) continue;
    if (!scm && win::connect_service_manager(SC_MANAGER_CONNECT, scm) != ERROR_SUCCESS) return;
    std::wstring program;
    DWORD state = SERVICE_STOPPED;
    if (win::query_service_program(scm.get(), file.service_name, program) != ERROR_SUCCESS ||
        !same_text(program, file.path)) {
      continue;  // none, or another program's: not the installer's to touch
    }
    (void)win::query_service_state(scm.get(), file.service_name, state);  // unread, it counts as stopped
    plan.services[std::wstring(file.name)].push_back({.name = std::wstring(file.service_name), .state = state});
  }
}

bool delete_services(const install_plan& plan, removal_tally& tally) {
  bool ok = true;
  for (const auto& [file, records] : plan.services) {
    for (const service_record& record : records) {
      if (registered_for(plan, file, record.name) == nullptr) {
        report_notice({"Leaving service \"", record.name, "\" registered: the installer did not register it\n"});
        continue;
      }
      print({"Deleting service \"", record.name, "\"... "});
      win::unique_sc_handle scm;
      DWORD error = win::connect_service_manager(SC_MANAGER_CONNECT, scm);
      if (error == ERROR_SUCCESS) error = win::delete_service(scm.get(), record.name);
      ok &= end_removal_line(error, tally);
    }
  }
  return ok;
}

}  // namespace brq_install
