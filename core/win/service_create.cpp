#include "win/service_create.hpp"

#include <string>

#include "win/unique.hpp"

namespace brq_install::win {

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
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
