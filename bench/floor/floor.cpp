// The floor of the benchmark: the Windows work of an installation and nothing
// else. It inflates the three embedded payloads into their files, registers
// and starts the service, and adds the firewall exception; on an update (the
// service exists) it stops the service, writes the files and starts it again.
// It waits for the service the way the installer must (a poll of at least one
// second), so that the installer's time above it is the installer's own.
// It writes each file in place and flushes nothing: it keeps no backup, no
// record of the run and no staging file, so a crash in the middle leaves a
// broken installation (the installer's durability is not part of the floor).
// No output but a failure on standard error; exit code 0 or 1. With
// `--stamps` it prints, flushed on standard output, "stopping" just before
// the stop request, "stopped" once the service and its process have ended,
// "written" after the three files, "firewall" after the exception and
// "running" once the service reports running again: bench/downtime.py takes
// the server's downtime from the arrival of "stopping" and "running".
#include <windows.h>
#include <netfw.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// mingw's import libraries do not define the firewall's class identifiers.
constexpr CLSID clsid_fw_mgr = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
constexpr CLSID clsid_fw_application = {0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};

const wchar_t* const file_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"};
const wchar_t service_name[] = L"QZVOPCUA.BRQ";
bool stamps = false;  // --stamps

// One line for --stamps, flushed so that it arrives when printed.
void stamp(const char* line) {
  if (!stamps) return;
  std::fputs(line, stdout);
  std::fflush(stdout);
}

bool failed(const char* what, unsigned long code) {
  std::fprintf(stderr, "floor: %s failed: %lu\n", what, code);
  return false;
}

// Inflates resource `id` (type 1001) into `path`, chunk by chunk.
bool write_payload(WORD id, const std::wstring& path) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(1001));
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  if (loaded == nullptr) return failed("LoadResource", GetLastError());
  z_stream stream{};
  stream.next_in = static_cast<Bytef*>(LockResource(loaded));
  stream.avail_in = SizeofResource(nullptr, found);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed("CreateFileW", GetLastError());
  static Bytef chunk[65536];
  int result = inflateInit(&stream);
  while (result == Z_OK) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    DWORD length = sizeof chunk - stream.avail_out, written = 0;
    if ((result == Z_OK || result == Z_STREAM_END) &&
        (!WriteFile(file, chunk, length, &written, nullptr) || written != length)) {
      result = Z_ERRNO;
    }
  }
  inflateEnd(&stream);
  CloseHandle(file);
  return result == Z_STREAM_END || failed("inflate", static_cast<unsigned long>(-result));
}

// Polls like the installer: a tenth of the wait hint, from one to ten seconds.
void wait_while(SC_HANDLE service, SERVICE_STATUS& status, DWORD state) {
  for (int polls = 0; status.dwCurrentState == state && polls < 30; ++polls) {
    Sleep(std::clamp<DWORD>(status.dwWaitHint / 10, 1000, 10000));
    if (!QueryServiceStatus(service, &status)) return;
  }
}

bool start(SC_HANDLE service) {
  if (!StartServiceW(service, 0, nullptr)) return failed("StartServiceW", GetLastError());
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status)) return failed("QueryServiceStatus", GetLastError());
  wait_while(service, status, SERVICE_START_PENDING);
  if (status.dwCurrentState != SERVICE_RUNNING) return failed("start", status.dwCurrentState);
  stamp("running\n");
  return true;
}

// Stops the service and waits until its process has ended as well: until
// then the process holds its image, and the service cannot start again.
bool stop(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS running{};
  DWORD size = 0;
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running), sizeof running, &size);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
  SERVICE_STATUS status{};
  stamp("stopping\n");
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return failed("ControlService", GetLastError());
  wait_while(service, status, SERVICE_STOP_PENDING);
  if (process != nullptr) {
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  return status.dwCurrentState == SERVICE_STOPPED || failed("stop", status.dwCurrentState);
}

bool add_firewall_exception(const std::wstring& image) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) return false;
  INetFwMgr* manager = nullptr;
  INetFwPolicy* policy = nullptr;
  INetFwProfile* profile = nullptr;
  INetFwAuthorizedApplications* applications = nullptr;
  INetFwAuthorizedApplication* application = nullptr;
  BSTR path = SysAllocString(image.c_str()), name = SysAllocString(L"qzv OPCUA");
  HRESULT hr = CoCreateInstance(clsid_fw_mgr, nullptr, CLSCTX_ALL, __uuidof(INetFwMgr),
                                reinterpret_cast<void**>(&manager));
  if (SUCCEEDED(hr)) hr = manager->get_LocalPolicy(&policy);
  if (SUCCEEDED(hr)) hr = policy->get_CurrentProfile(&profile);
  if (SUCCEEDED(hr)) hr = profile->get_AuthorizedApplications(&applications);
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid_fw_application, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwAuthorizedApplication),
                          reinterpret_cast<void**>(&application));
  }
  if (SUCCEEDED(hr)) hr = application->put_ProcessImageFileName(path);
  if (SUCCEEDED(hr)) hr = application->put_Name(name);
  if (SUCCEEDED(hr)) hr = application->put_Enabled(VARIANT_TRUE);
  if (SUCCEEDED(hr)) hr = applications->Add(application);
  for (IUnknown* object : std::initializer_list<IUnknown*>{application, applications, profile, policy, manager}) {
    if (object != nullptr) object->Release();
  }
  SysFreeString(path);
  SysFreeString(name);
  CoUninitialize();
  return SUCCEEDED(hr) || failed("firewall", static_cast<unsigned long>(hr));
}

}  // namespace

int main(int argc, char** argv) {
  stamps = argc > 1 && std::string(argv[1]) == "--stamps";
  wchar_t program_files[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return failed("GetEnvironmentVariableW", GetLastError()), 1;
  std::wstring dir = program_files;
  for (const wchar_t* level : {L"\\Quorvanta", L"\\QZV.UA", L"\\brq"}) {
    dir += level;
    if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return failed("CreateDirectoryW", GetLastError()), 1;
    }
  }
  const std::wstring server = dir + L"\\" + file_names[0];

  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (scm == nullptr) return failed("OpenSCManagerW", GetLastError()), 1;
  SC_HANDLE service = OpenServiceW(scm, service_name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  const bool update = service != nullptr;
  if (update && !stop(service)) return 1;
  if (update) stamp("stopped\n");

  for (WORD k = 0; k < 3; ++k) {
    if (!write_payload(101 + k, dir + L"\\" + file_names[k])) return 1;
  }
  stamp("written\n");
  if (!update) {
    service = CreateServiceW(scm, service_name, L"qzv OPCUA server for BRQ", SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                             (L"\"" + server + L"\"").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) return failed("CreateServiceW", GetLastError()), 1;
    wchar_t description[] = L"qzv BRQ opcua server 1.0.0.0, 64-bit";
    SERVICE_DESCRIPTIONW info{description};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info);
  }
  add_firewall_exception(server);  // reported, but no failure: as in the installer
  stamp("firewall\n");
  bool ok = start(service);
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return ok ? 0 : 1;
}
