// Stand-in for the OPC UA server: a real Windows service program that reports
// running and stops when asked. It serves the installer's tests; the product
// installs the real server in its place.
//
// Arguments given when the service is started (not on its command line)
// shape that one run, for tests of services that are not simply running:
//   --pausable           accepts pause and continue as well
//   --start-pending=N    reports start pending for N seconds, one wait hint
//                        of 3 s and a check point that never advances, and
//                        accepts stop meanwhile; then reports running
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_event = nullptr;
DWORD accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

void report(DWORD state, DWORD wait_hint = 0, DWORD controls = 0) {
  static DWORD check_point = 0;
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING || state == SERVICE_PAUSED ? accepted : controls;
  status.dwWaitHint = wait_hint;
  status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : ++check_point;
  SetServiceStatus(status_handle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
  if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
    report(SERVICE_STOP_PENDING, 3000);
    SetEvent(stop_event);
    return NO_ERROR;
  }
  if ((accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0 &&
      (code == SERVICE_CONTROL_PAUSE || code == SERVICE_CONTROL_CONTINUE)) {
    report(code == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING);
    return NO_ERROR;
  }
  return code == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI service_main(DWORD argc, wchar_t** argv) {
  DWORD pending_seconds = 0;
  for (DWORD i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--pausable") == 0) accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    std::swscanf(argv[i], L"--start-pending=%lu", &pending_seconds);
  }
  status_handle = RegisterServiceCtrlHandlerExW(L"", &control, nullptr);
  if (status_handle == nullptr) return;
  stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (pending_seconds > 0) {
    report(SERVICE_START_PENDING, 3000, SERVICE_ACCEPT_STOP);
    if (WaitForSingleObject(stop_event, pending_seconds * 1000) == WAIT_OBJECT_0) {
      report(SERVICE_STOPPED);
      return;
    }
  } else {
    report(SERVICE_START_PENDING, 3000);
  }
  report(SERVICE_RUNNING);
  WaitForSingleObject(stop_event, INFINITE);
  report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  SERVICE_TABLE_ENTRYW services[] = {{const_cast<wchar_t*>(L""), &service_main}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherW(services)) return 0;
  if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::puts(
        "qzv.ua.brq.exe: stand-in for the qzv OPC UA server for BRQ.\n"
        "It is meant to run as a Windows service, started by the service control manager.");
  } else {
    std::printf("qzv.ua.brq.exe: cannot reach the service control manager, error %lu\n", GetLastError());
  }
  return 2;
}
