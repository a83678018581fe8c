#include "win/service_delete.hpp"

#include <string>

#include "win/last_error.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

DWORD delete_service(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service(api.OpenServiceW(scm, std::wstring(name).c_str(), DELETE));
  DWORD error = service && api.DeleteService(service.get()) ? ERROR_SUCCESS : last_error();
  return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_SERVICE_MARKED_FOR_DELETE ? ERROR_SUCCESS : error;
}

}  // namespace brq_install::win
