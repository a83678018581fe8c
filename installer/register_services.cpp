#include "register_services.hpp"

#include "console/console.hpp"
#include "install_plan.hpp"
#include "run_record.hpp"
#include "win/service_create.hpp"
#include "win/service_manager.hpp"

namespace brq_install {

namespace {

DWORD register_service(const payload_file& file) {
  win::unique_sc_handle scm;
  if (DWORD error = win::connect_service_manager(SC_MANAGER_CREATE_SERVICE, scm)) return error;
  return win::create_service(scm.get(), service_command_line(file), file.service_name, file.display_name,
                             file.description);
}

}  // namespace

std::wstring service_command_line(const payload_file& file) {
  std::wstring command_line = L"\"" + file.path + L"\"";
  if (!file.service_args.empty()) (command_line += L' ') += file.service_args;
  return command_line;
}

bool register_services(install_plan& plan) {
  for (const auto& file : plan.files) {
    if (!file.service) continue;
    if (plan.services.contains(std::wstring(file.name))) {
      // An existing registration is never changed: whatever runs this file
      // keeps its name and settings.
      report_warning({"Other services were already registered for \"", file.name, "\"\n"});
      continue;
    }
    // Written down before it exists: a run that dies right after creating
    // it leaves the next run a service to start.
    plan.registered.emplace_back(file.service_name);
    if (!save_record(plan)) {
      plan.registered.pop_back();
      return false;
    }
    print({"Registering service \"", file.service_name, "\"... "});
    if (end_line(register_service(file), failure_block::error) != ERROR_SUCCESS) {
      plan.registered.pop_back();
      return false;
    }
  }
  return true;
}

}  // namespace brq_install
