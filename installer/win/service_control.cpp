#include "win/service_control.hpp"

#include <algorithm>
#include <string>

#include "win/unique.hpp"

namespace brq_install::win {

namespace {

constexpr DWORD stop_timeout_ms = 30000;

// A tenth of the service's own estimate, kept between one and ten seconds.
DWORD poll_interval(const SERVICE_STATUS& status) {
  return std::clamp<DWORD>(status.dwWaitHint / 10, 1000, 10000);
}

// Milliseconds since `start`; unsigned arithmetic stays right across the
// wrap of the 32-bit tick counter.
DWORD elapsed_since(DWORD start) { return api.GetTickCount() - start; }

}  // namespace

DWORD stop_service(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service(
      api.OpenServiceW(scm, std::wstring(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return api.GetLastError();

  SERVICE_STATUS status{};
  if (!api.ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return api.GetLastError();
  DWORD start = api.GetTickCount();
  while (status.dwCurrentState != SERVICE_STOPPED) {
    api.Sleep(poll_interval(status));
    if (!api.QueryServiceStatus(service.get(), &status)) return api.GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    if (elapsed_since(start) > stop_timeout_ms) return error_state_not_reached;
  }
  return ERROR_SUCCESS;
}

DWORD start_service(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service(
      api.OpenServiceW(scm, std::wstring(name).c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) return api.GetLastError();

  if (!api.StartServiceW(service.get(), 0, nullptr)) return api.GetLastError();
  SERVICE_STATUS status{};
  if (!api.QueryServiceStatus(service.get(), &status)) return api.GetLastError();
  DWORD start = api.GetTickCount();
  DWORD check_point = status.dwCheckPoint;
  while (status.dwCurrentState == SERVICE_START_PENDING) {
    api.Sleep(poll_interval(status));
    if (!api.QueryServiceStatus(service.get(), &status)) return api.GetLastError();
    if (status.dwCheckPoint > check_point) {
      // The service made progress: its wait hint counts anew from here.
      start = api.GetTickCount();
      check_point = status.dwCheckPoint;
    } else if (elapsed_since(start) > status.dwWaitHint) {
      break;
    }
  }
  return status.dwCurrentState == SERVICE_RUNNING ? ERROR_SUCCESS : error_state_not_reached;
}

}  // namespace brq_install::win
