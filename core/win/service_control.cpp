#include "win/service_control.hpp"

#include <algorithm>
#include <memory>
#include <string>

#include "win/unique.hpp"

namespace brq_install::win {

namespace {

constexpr DWORD stop_timeout_ms = 30000;
// A start that keeps reporting progress is still given up after this long.
constexpr DWORD start_limit_ms = 10 * 60 * 1000;
// The service manager's own bound on a list of dependents; a size asked
// beyond it is not believed.
constexpr DWORD dependents_size_limit = 256 * 1024;

// A tenth of the service's own estimate, kept between one and ten seconds.
DWORD poll_interval(const SERVICE_STATUS& status) { return std::clamp<DWORD>(status.dwWaitHint / 10, 1000, 10000); }

// Milliseconds since `start`; unsigned arithmetic stays right across the
// wrap of the 32-bit tick counter.
DWORD elapsed_since(DWORD start) { return api.GetTickCount() - start; }

unique_sc_handle open_service(SC_HANDLE scm, std::wstring_view name, DWORD access) {
  return unique_sc_handle(api.OpenServiceW(scm, std::wstring(name).c_str(), access));
}

// Polls `service`, last seen as `status`, until it has stopped: 0, or 1287
// at the first poll that ends more than 30 s after `start`, or the code of
// a failed query.
DWORD wait_until_stopped(SC_HANDLE service, SERVICE_STATUS& status, DWORD start) {
  while (status.dwCurrentState != SERVICE_STOPPED) {
    api.Sleep(poll_interval(status));
    if (!api.QueryServiceStatus(service, &status)) return last_error();
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    if (elapsed_since(start) > stop_timeout_ms) return error_state_not_reached;
  }
  return ERROR_SUCCESS;
}

// Whether the process that `service` reports still exists: 0, 1067 when
// it reports none or one that has ended, or the code of the failed call.
// Wine goes on reporting a service running after its process was ended.
DWORD check_service_process(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!api.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed)) {
    return last_error();
  }
  if (status.dwProcessId == 0) return ERROR_PROCESS_ABORTED;
  unique_handle process(api.OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
  if (!process) {
    // An id that names no process (any more) is refused as a bad parameter.
    DWORD error = last_error();
    return error == ERROR_INVALID_PARAMETER ? ERROR_PROCESS_ABORTED : error;
  }
  DWORD waited = api.WaitForSingleObject(process.get(), 0);
  if (waited == WAIT_TIMEOUT) return ERROR_SUCCESS;
  return waited == WAIT_FAILED ? last_error() : ERROR_PROCESS_ABORTED;
}

}  // namespace

bool is_active_state(DWORD state) {
  switch (state) {
    case SERVICE_RUNNING:
    case SERVICE_PAUSED:
    case SERVICE_START_PENDING:
    case SERVICE_PAUSE_PENDING:
    case SERVICE_CONTINUE_PENDING: return true;
    default: return false;
  }
}

DWORD stop_service(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service = open_service(scm, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return last_error();

  SERVICE_STATUS status{};
  DWORD asked = api.GetTickCount();
  while (!api.ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    // A service that takes no control for now (1061) is on its way into
    // running or paused, or was when it was asked and is there by the query:
    // it is asked again, for the time a stop would get. One that is
    // stopping already needs no request and is awaited.
    DWORD error = last_error();
    if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return error;
    if (!api.QueryServiceStatus(service.get(), &status)) return last_error();
    DWORD state = status.dwCurrentState;
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) break;
    if (elapsed_since(asked) > stop_timeout_ms) return error;
    api.Sleep(poll_interval(status));
  }
  return wait_until_stopped(service.get(), status, api.GetTickCount());
}

DWORD wait_for_stop(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service = open_service(scm, name, SERVICE_QUERY_STATUS);
  if (!service) return last_error();

  SERVICE_STATUS status{};
  if (!api.QueryServiceStatus(service.get(), &status)) return last_error();
  return wait_until_stopped(service.get(), status, api.GetTickCount());
}

DWORD start_service(SC_HANDLE scm, std::wstring_view name) {
  unique_sc_handle service = open_service(scm, name, SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return last_error();

  // A service that runs already (started by someone else, or one whose stop
  // failed) is where it should be, as long as its process does: one whose
  // stop failed may have had its process ended since. Its state is awaited
  // like any other.
  if (!api.StartServiceW(service.get(), 0, nullptr)) {
    DWORD error = last_error();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return error;
    if (DWORD gone = check_service_process(service.get())) return gone;
  }
  SERVICE_STATUS status{};
  if (!api.QueryServiceStatus(service.get(), &status)) return last_error();
  DWORD first_query = api.GetTickCount();
  DWORD start = first_query;
  DWORD check_point = status.dwCheckPoint;
  while (status.dwCurrentState == SERVICE_START_PENDING) {
    api.Sleep(poll_interval(status));
    if (!api.QueryServiceStatus(service.get(), &status)) return last_error();
    if (status.dwCurrentState != SERVICE_START_PENDING) break;
    if (elapsed_since(first_query) > start_limit_ms) return ERROR_SERVICE_REQUEST_TIMEOUT;
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

DWORD list_dependents(SC_HANDLE scm, std::wstring_view name, DWORD state, std::vector<std::wstring>& names) {
  names.clear();
  unique_sc_handle service = open_service(scm, name, SERVICE_ENUMERATE_DEPENDENTS);
  if (!service) return last_error();

  // The size first: success means there are none. (Wine's function is a
  // stub that always answers so.)
  DWORD needed = 0, count = 0;
  if (api.EnumDependentServicesW(service.get(), state, nullptr, 0, &needed, &count)) return ERROR_SUCCESS;
  if (DWORD error = last_error(); error != ERROR_MORE_DATA) return error;
  if (needed == 0 || needed > dependents_size_limit) return ERROR_MORE_DATA;
  // Entries from the buffer's start, their names from its end; operator
  // new's alignment suits ENUM_SERVICE_STATUSW.
  auto buffer = std::make_unique<std::byte[]>(needed);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.get());
  DWORD size = needed;
  count = 0;
  if (!api.EnumDependentServicesW(service.get(), state, entries, size, &needed, &count)) return last_error();
  std::vector<std::wstring> listed;
  listed.reserve(count);
  for (DWORD i = 0; i < count; ++i) listed.emplace_back(entries[i].lpServiceName);
  names = std::move(listed);
  return ERROR_SUCCESS;
}

DWORD query_service_state(SC_HANDLE scm, std::wstring_view name, DWORD& state) {
  unique_sc_handle service = open_service(scm, name, SERVICE_QUERY_STATUS);
  if (!service) return last_error();
  SERVICE_STATUS status{};
  if (!api.QueryServiceStatus(service.get(), &status)) return last_error();
  state = status.dwCurrentState;
  return ERROR_SUCCESS;
}

}  // namespace brq_install::win
