#include "installation.hpp"

#include <windows.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <regex>

namespace brq_install::test {

std::wstring installed_path(const std::wstring& name) { return install_dir + L"\\" + name; }

void delete_service(const wchar_t* name) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return;
  SC_HANDLE service = OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (service != nullptr) {
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      for (int i = 0; i < 100 && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        Sleep(100);
      }
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

SERVICE_STATUS_PROCESS service_status(const wchar_t* name) {
  SERVICE_STATUS_PROCESS status{};
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
  DWORD needed = 0;
  if (service != nullptr && !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                  sizeof status, &needed)) {
    status = {};
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status;
}

bool wait_for_service_state(const wchar_t* name, DWORD state) {
  for (int i = 0; i < 100; ++i, Sleep(100)) {
    if (service_status(name).dwCurrentState == state) return true;
  }
  return false;
}

std::vector<DWORD> server_processes() {
  std::vector<DWORD> all(4096), found;
  DWORD size = 0;
  if (!K32EnumProcesses(all.data(), static_cast<DWORD>(all.size() * sizeof(DWORD)), &size)) return found;
  const std::wstring server = installed_path(L"qzv.ua.brq.exe");
  for (DWORD i = 0; i < size / sizeof(DWORD); ++i) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, all[i]);
    wchar_t module[MAX_PATH] = {};
    if (process != nullptr && K32GetModuleFileNameExW(process, nullptr, module, MAX_PATH) > 0 &&
        lstrcmpiW(module, server.c_str()) == 0) {
      found.push_back(all[i]);
    }
    if (process != nullptr) CloseHandle(process);
  }
  return found;
}

void remove_installation() {
  delete_service(L"QZVOPCUA.BRQ");
  for (const wchar_t* name : {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"}) {
    std::wstring path = installed_path(name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Gone already (its directory too: error 3) ends the loop; an ended
    // service's image may be held for a moment.
    for (int i = 0; i < 50 && !DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
                    GetLastError() != ERROR_PATH_NOT_FOUND;
         ++i) {
      Sleep(100);
    }
  }
  for (const wchar_t* level : {L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq", L"C:\\Program Files\\Quorvanta\\QZV.UA",
                               L"C:\\Program Files\\Quorvanta"}) {
    RemoveDirectoryW(level);
  }
}

std::string after_os_line(const std::string& out) {
  size_t end = out.find("\r\n");
  std::string first = out.substr(0, end);
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(os \d+\.\d+\.\d+\.\d+ => crt "current")"))) << first;
  return end == std::string::npos ? "" : out.substr(end + 2);
}

}  // namespace brq_install::test
