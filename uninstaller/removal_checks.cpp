// Before anything is deleted: no link leads out of the destination, every
// service has stopped and no file of the product is held open.
#include <string>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "removal.hpp"
#include "win/files.hpp"
#include "win/service_control.hpp"
#include "win/service_manager.hpp"

namespace brq_install {

bool check_no_links(const install_plan& plan) {
  // One that cannot be looked at may be one too.
  for (const std::wstring& level : product_directories(plan)) {
    DWORD attributes = 0;
    DWORD error = win::get_file_attributes(level, attributes);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
    if (error != ERROR_SUCCESS) {
      report_error({"Removal stopped: \"", level, "\" cannot be read\n"}, error);
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      report_error({"Removal stopped: \"", level, "\" is a junction or symbolic link\n"});
      return false;
    }
  }
  return true;
}

namespace {

// Whether a service whose stop was reported failed has stopped after all
// (its stop went through but a query failed), or does so in the time a stop
// is given: otherwise its error is the stop's.
DWORD stopped_after_all(const std::wstring& name, DWORD stop_error) {
  win::unique_sc_handle scm;
  DWORD state = SERVICE_RUNNING;
  if (win::connect_service_manager(SC_MANAGER_CONNECT, scm) != ERROR_SUCCESS ||
      win::query_service_state(scm.get(), name, state) != ERROR_SUCCESS) {
    return stop_error;
  }
  if (state == SERVICE_STOPPED) return ERROR_SUCCESS;
  if (state == SERVICE_STOP_PENDING && win::wait_for_stop(scm.get(), name) == ERROR_SUCCESS) return ERROR_SUCCESS;
  return stop_error;
}

}  // namespace

bool services_stopped(const install_plan& plan) {
  for (const auto& [file, records] : plan.services) {
    for (const service_record& record : records) {
      if (record.stop_error == ERROR_SUCCESS) continue;
      if (DWORD error = stopped_after_all(record.name, record.stop_error)) {
        report_error({"Cannot remove \"", file, "\": service \"", record.name, "\" did not stop\n"}, error);
        return false;
      }
    }
  }
  return true;
}

bool files_removable(const install_plan& plan, const std::wstring& self) {
  // Every file that the deletions will meet, so that none of them stops
  // half way; a read-only one has its attribute cleared on the way.
  for (const std::wstring& path : product_files(plan)) {
    if (path == self || !win::is_existing_file(path)) continue;  // moved out; or nothing, or not ours
    if (DWORD error = win::check_not_held(path)) {
      report_error(
          {"Cannot remove \"", std::wstring_view(path).substr(plan.destination.size() + 1), "\": it is in use\n"},
          error);
      return false;
    }
  }
  return true;
}

}  // namespace brq_install
