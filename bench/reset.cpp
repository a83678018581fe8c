// Puts the prefix back to "never installed" before a first installation is
// timed: the service stopped and deleted, the installed files and their
// directories removed. Polls fast; its own time is not measured.
#include <windows.h>

#include <string>

int main() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = scm ? OpenServiceW(scm, L"QZVOPCUA.BRQ", SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE) : nullptr;
  if (service != nullptr) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      for (int i = 0; i < 500 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        Sleep(10);
      }
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  if (scm != nullptr) CloseServiceHandle(scm);

  wchar_t program_files[MAX_PATH];
  if (GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH) == 0) return 1;
  const std::wstring top = std::wstring(program_files) + L"\\Quorvanta";
  const std::wstring dir = top + L"\\QZV.UA\\brq";
  for (const wchar_t* name : {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"}) {
    std::wstring path = dir + L"\\" + name;
    // An ended service's image may be held for a moment.
    for (int i = 0; i < 500 && !DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                    GetLastError() != ERROR_PATH_NOT_FOUND;
         ++i) {
      Sleep(10);
    }
  }
  RemoveDirectoryW(dir.c_str());
  RemoveDirectoryW((top + L"\\QZV.UA").c_str());
  RemoveDirectoryW(top.c_str());
  return GetFileAttributesW(top.c_str()) == INVALID_FILE_ATTRIBUTES ? 0 : 1;
}
