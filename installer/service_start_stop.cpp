#include "service_start_stop.hpp"

#include <string>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "run_record.hpp"
#include "win/service_control.hpp"
#include "win/unique.hpp"

namespace brq_install {

namespace {

using service_action = DWORD (*)(SC_HANDLE, std::wstring_view);

// "  service \"name\"... " then "ok" or a warning block; every service gets
// a connection of its own. True for "ok".
bool report_service(const std::wstring& name, service_action action) {
  print_text("  service \"");
  print_wide(name);
  print_text("\"... ");
  win::unique_sc_handle scm(win::api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  DWORD error = scm ? action(scm.get(), name) : win::last_error();
  if (error != ERROR_SUCCESS) {
    report_warning({"failed\n"}, error);
    return false;
  }
  print_text("ok\n");
  return true;
}

// Every discovered record, in the map's order and each list's order.
template <typename Plan, typename Visit>
void for_each_record(Plan& plan, Visit visit) {
  for (auto& [file, records] : plan.services) {
    for (auto& record : records) visit(record);
  }
}

// Marks `record` to be started again and writes that down before anything
// stops it. False, after an error block, when it cannot be written; the
// service is then left as it is.
bool mark_restart(install_plan& plan, service_record& record) {
  if (record.restart) return true;
  record.restart = true;
  if (save_record(plan)) return true;
  record.restart = false;
  return false;
}

}  // namespace

bool stop_services(install_plan& plan) {
  bool recorded = true;
  for_each_record(plan, [&](service_record& record) {
    if (!recorded) return;
    DWORD state = record.status.dwCurrentState;
    if (win::is_active_state(state)) {
      recorded = mark_restart(plan, record);
      if (recorded) report_service(record.name, &win::stop_service);
    } else if (state == SERVICE_STOP_PENDING) {
      // Someone else is stopping it: it is awaited, so that its file is free,
      // and left stopped as that someone intended.
      report_service(record.name, &win::wait_for_stop);
    }
  });
  return recorded;
}

bool start_services(install_plan& plan) {
  if (plan.services.empty() && plan.registered.empty()) return true;
  print_text("Will start services...\n");
  // Every service is tried, whatever happened to the one before; but a run
  // that leaves one of them down has not done its job.
  bool all_running = true;
  for_each_record(plan, [&all_running](const service_record& record) {
    if (record.restart) all_running &= report_service(record.name, &win::start_service);
  });
  for (const std::wstring& name : plan.registered) all_running &= report_service(name, &win::start_service);
  return all_running;
}

}  // namespace brq_install
