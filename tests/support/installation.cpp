#include "installation.hpp"

#include <windows.h>
#include <gtest/gtest.h>
#include <psapi.h>

#include <cstring>
#include <regex>

#include "product.h"

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
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, uninstall_key.c_str(), KEY_WOW64_64KEY, 0);
  for (const wchar_t* name : {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe",
                              L"qzv.ua.brq.uninstall.exe", L"qzv.ua.brq.run"}) {
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

std::vector<BYTE> machine_value(const std::wstring& key, const wchar_t* name) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<BYTE> data(size);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY, nullptr, data.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  data.resize(size);
  return data;
}

std::wstring machine_text(const std::wstring& key, const wchar_t* name) {
  std::vector<BYTE> data = machine_value(key, name);
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

DWORD machine_number(const std::wstring& key, const wchar_t* name) {
  std::vector<BYTE> data = machine_value(key, name);
  DWORD number = 0;
  if (data.size() == sizeof number) std::memcpy(&number, data.data(), sizeof number);
  return number;
}

bool detected_installed() {
  return machine_text(uninstall_key, L"DisplayVersion") == L"" BRQ_VERSION_TEXT &&
         service_status(L"QZVOPCUA.BRQ").dwCurrentState != 0 &&
         GetFileAttributesW(installed_path(L"qzv.ua.brq.run").c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string after_os_line(const std::string& out) {
  size_t end = out.find("\r\n");
  std::string first = out.substr(0, end);
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(os \d+\.\d+\.\d+\.\d+ => crt "current")"))) << first;
  return end == std::string::npos ? "" : out.substr(end + 2);
}

}  // namespace brq_install::test
