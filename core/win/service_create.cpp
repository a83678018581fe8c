#include "win/service_create.hpp"

#include <iterator>
#include <string>

#include "win/unique.hpp"

namespace brq_install::win {

namespace {

constexpr DWORD restart_delay_ms = 60 * 1000;
constexpr DWORD failure_count_reset_s = 24 * 60 * 60;

// Restarts the service after its first and second failure; and, like the
// description, asks as well for stops with an exit code other than 0 to
// count as failures, which only that request's own refusal leaves out.
DWORD set_recovery(SC_HANDLE service) {
  SC_ACTION actions[] = {
      {SC_ACTION_RESTART, restart_delay_ms}, {SC_ACTION_RESTART, restart_delay_ms}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure{.dwResetPeriod = failure_count_reset_s,
                                   .lpRebootMsg = nullptr,
                                   .lpCommand = nullptr,
                                   .cActions = static_cast<DWORD>(std::size(actions)),
                                   .lpsaActions = actions};
  if (!api.ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) return last_error();
  SERVICE_FAILURE_ACTIONS_FLAG on_error_exit{TRUE};
  api.ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &on_error_exit);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD create_service(SC_HANDLE scm, std::wstring_view command_line, std::wstring_view name,
                     std::wstring_view display_name, std::wstring_view description) {
  unique_sc_handle service(api.CreateServiceW(scm, std::wstring(name).c_str(), std::wstring(display_name).c_str(),
                                              SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                              SERVICE_ERROR_NORMAL, std::wstring(command_line).c_str(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
  if (!service) return last_error();

  std::wstring text(description);
  SERVICE_DESCRIPTIONW info{text.data()};
  api.ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);  // a missing description is no failure
  DWORD error = set_recovery(service.get());
  if (error != ERROR_SUCCESS) api.DeleteService(service.get());  // never started: it goes at once
  return error;
}

}  // namespace brq_install::win
