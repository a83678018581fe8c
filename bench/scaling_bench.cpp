// Scaling of the two searches that visit every service and every process:
// discovery (win::find_image_services) and the process check
// (win::find_image_processes) for one file, in-process, with 1,000 and 10,000
// services and processes; every 500th runs the searched file. Two sets of
// fakes serve them through the platform table:
//   shared   the tests' fake service manager and process table
//            (tests/support); file identities are the real file system's
//   minimal  the fakes below, which answer every call in constant time, the
//            file system included
// and, first, the prefix's real service manager and processes, where one
// pass for all three installed programs is measured beside the installer's
// one search per program. One line each:
//   KIND NAME ITEMS MIN_MS MEDIAN_MS MAX_MS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "fake_clock.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "win/command_line.hpp"
#include "win/platform.hpp"
#include "win/processes.hpp"
#include "win/service_query.hpp"
#include "win/unique.hpp"

namespace {

using brq_install::win::api;

const std::wstring target = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe";
constexpr DWORD match_every = 500;
DWORD item_count = 0;

// Handles of the fakes: far above any handle Wine hands out.
const auto handle_base = static_cast<uintptr_t>(0x70000000);
HANDLE fake_handle(DWORD index) { return reinterpret_cast<HANDLE>(handle_base + index); }
bool is_fake(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) >= handle_base; }
DWORD index_of(const void* handle) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(handle) - handle_base); }

// The program of item `index`: the target for every 500th, else a file of its own.
std::wstring program(DWORD index) {
  return index % match_every == 0 ? target : L"C:\\programs\\item" + std::to_wstring(index) + L".exe";
}

// Files: the target opens as item 0, every other program of the fakes as its
// own item; anything else goes to the real function.
HANDLE WINAPI fake_create_file(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition, DWORD flags, HANDLE template_file) {
  if (target == path) return fake_handle(0);
  if (std::wcsncmp(path, L"C:\\programs\\item", 16) == 0) return fake_handle(std::wcstoul(path + 16, nullptr, 10));
  return brq_install::win::real_api.CreateFileW(path, access, share, security, disposition, flags, template_file);
}

DWORD WINAPI fake_file_attributes(const wchar_t* path) {
  if (target == path || std::wcsncmp(path, L"C:\\programs\\item", 16) == 0) return FILE_ATTRIBUTE_NORMAL;
  return brq_install::win::real_api.GetFileAttributesW(path);
}

BOOL WINAPI fake_file_information(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  *info = {};
  info->dwVolumeSerialNumber = 0x1234;
  info->nFileIndexLow = index_of(file);
  return TRUE;
}

BOOL WINAPI fake_close(HANDLE handle) { return is_fake(handle) || brq_install::win::real_api.CloseHandle(handle); }

// The service manager: services "service1" to "serviceN", in batches that
// fit the caller's buffer.
BOOL WINAPI fake_enum_services(SC_HANDLE, DWORD, DWORD, ENUM_SERVICE_STATUSW* buffer, DWORD size, DWORD* needed,
                               DWORD* returned, DWORD* resume) {
  auto* bytes = reinterpret_cast<BYTE*>(buffer);
  DWORD count = 0, strings = size;  // strings fill the buffer from its end
  for (; *resume < item_count; ++*resume, ++count) {
    std::wstring name = L"service" + std::to_wstring(*resume + 1);
    DWORD length = static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t));
    if ((count + 1) * sizeof(ENUM_SERVICE_STATUSW) + length > strings) break;
    strings -= length;
    auto* text = reinterpret_cast<wchar_t*>(bytes + strings);
    std::wmemcpy(text, name.c_str(), name.size() + 1);
    buffer[count] = {};
    buffer[count].lpServiceName = buffer[count].lpDisplayName = text;
    buffer[count].ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    buffer[count].ServiceStatus.dwCurrentState = SERVICE_RUNNING;
  }
  *returned = count;
  *needed = *resume < item_count ? 256 : 0;
  if (*resume < item_count) {
    api.SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  *resume = 0;
  return TRUE;
}

SC_HANDLE WINAPI fake_open_service(SC_HANDLE, const wchar_t* name, DWORD) {
  return reinterpret_cast<SC_HANDLE>(fake_handle(std::wcstoul(name + 7, nullptr, 10)));
}

BOOL WINAPI fake_close_service(SC_HANDLE) { return TRUE; }

BOOL WINAPI fake_query_config(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
  std::wstring command_line = L"\"" + program(index_of(service)) + L"\" --service";
  *needed = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + (command_line.size() + 1) * sizeof(wchar_t));
  if (config == nullptr || size < *needed) {
    api.SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *config = {};
  auto* text = reinterpret_cast<wchar_t*>(config + 1);
  std::wmemcpy(text, command_line.c_str(), command_line.size() + 1);
  config->lpBinaryPathName = text;
  return TRUE;
}

// The process table: processes 4, 8, ... with the items' programs.
BOOL WINAPI fake_enum_processes(DWORD* ids, DWORD size, DWORD* returned) {
  DWORD count = std::min<DWORD>(item_count, size / sizeof(DWORD));
  for (DWORD k = 0; k < count; ++k) ids[k] = 4 * (k + 1);
  *returned = count * sizeof(DWORD);
  return TRUE;
}

HANDLE WINAPI fake_open_process(DWORD, BOOL, DWORD id) { return fake_handle(id / 4); }

DWORD WINAPI fake_module_name(HANDLE process, HMODULE, wchar_t* name, DWORD size) {
  std::wstring path = program(index_of(process));
  if (path.size() >= size) return 0;
  std::wmemcpy(name, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

double now_ms() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Times `rounds` searches per sample, and reports the time of one search.
template <typename Search>
void measure(const char* kind, const char* name, DWORD items, int repetitions, int rounds, Search search) {
  std::vector<double> times;
  for (int k = 0; k < repetitions; ++k) {
    double start = now_ms();
    for (int round = 0; round < rounds; ++round) {
      if (search() != ERROR_SUCCESS) {
        std::fprintf(stderr, "scaling_bench: %s %s failed\n", kind, name);
        std::exit(1);
      }
    }
    times.push_back((now_ms() - start) / rounds);
  }
  std::sort(times.begin(), times.end());
  std::printf("%s %s %lu %.3f %.3f %.3f\n", kind, name, items, times.front(), times[times.size() / 2],
              times.back());
}

// The searches for `path` among `items` services and processes, whichever
// fakes are in the table, `rounds` searches per sample.
void measure_searches(const char* kind, const std::wstring& path, DWORD items, int repetitions, int rounds) {
  const DWORD matches = items / match_every;
  brq_install::win::unique_sc_handle scm(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  measure(kind, "discovery", items, repetitions, rounds, [&] {
    std::vector<brq_install::service_record> records;
    DWORD error = brq_install::win::find_image_services(scm.get(), path, records);
    return error != ERROR_SUCCESS || records.size() != matches ? ERROR_INVALID_DATA : error;
  });
  measure(kind, "process-check", items, repetitions, rounds, [&] {
    std::vector<DWORD> ids;
    DWORD error = brq_install::win::find_image_processes(path, ids);
    return error != ERROR_SUCCESS || ids.size() != matches ? ERROR_INVALID_DATA : error;
  });
}

void on_minimal_fakes(DWORD items, int repetitions) {
  const auto saved = api;
  item_count = items;
  api.GetFileAttributesW = &fake_file_attributes;
  api.CreateFileW = &fake_create_file;
  api.GetFileInformationByHandle = &fake_file_information;
  api.CloseHandle = &fake_close;
  api.OpenSCManagerW = [](const wchar_t*, const wchar_t*, DWORD) { return reinterpret_cast<SC_HANDLE>(fake_handle(0)); };
  api.EnumServicesStatusW = &fake_enum_services;
  api.OpenServiceW = &fake_open_service;
  api.CloseServiceHandle = &fake_close_service;
  api.QueryServiceConfigW = &fake_query_config;
  api.K32EnumProcesses = &fake_enum_processes;
  api.OpenProcess = &fake_open_process;
  api.K32GetModuleFileNameExW = &fake_module_name;
  // The smaller table is searched ten times per sample, so that both sizes
  // samples last as long and a shared machine's preemptions weigh on them
  // alike.
  measure_searches("minimal", target, items, repetitions, static_cast<int>(10000 / items));
  api = saved;
}

// The shared fakes need a real file to find: `path`.
void on_shared_fakes(DWORD items, int repetitions, const std::wstring& path) {
  using namespace brq_install::testing;
  fake_clock clock;
  fake_service_manager services(clock);
  fake_process_table processes;
  for (DWORD index = 1; index <= items; ++index) {
    std::wstring program = index % match_every == 0 ? path : L"C:\\programs\\item" + std::to_wstring(index) + L".exe";
    fake_service_manager::service entry;
    entry.name = L"service" + std::to_wstring(index);
    entry.command_line = L"\"" + program + L"\" --service";
    entry.state = SERVICE_RUNNING;
    services.add(std::move(entry));
    processes.add(4 * index, program);
  }
  measure_searches("shared", path, items, repetitions, 1);  // samples of a second or more
}

// Every service, enumerated in one call with a buffer of the size asked for.
std::vector<std::wstring> service_names(SC_HANDLE scm) {
  DWORD needed = 0, count = 0, resume = 0;
  EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
  std::vector<BYTE> buffer(needed);
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data());
  resume = 0;
  EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, entries, needed, &needed, &count, &resume);
  std::vector<std::wstring> names;
  for (DWORD i = 0; i < count; ++i) names.emplace_back(entries[i].lpServiceName);
  return names;
}

// A file's identity (volume serial number and file index), through a handle
// that is kept open, as the installer compares files; zeros when the file
// cannot be opened.
struct identity {
  brq_install::win::unique_file_handle file;
  DWORD volume = 0, high = 0, low = 0;
  explicit identity(const std::wstring& path)
      : file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (file && GetFileInformationByHandle(file.get(), &info)) {
      volume = info.dwVolumeSerialNumber, high = info.nFileIndexHigh, low = info.nFileIndexLow;
    }
  }
  bool same(const identity& other) const {
    return file && other.file && volume == other.volume && high == other.high && low == other.low;
  }
};

// How many of `installed` are the file `path`, opening it once.
DWORD matches(const std::wstring& path, const std::vector<identity>& installed) {
  identity candidate(path);
  DWORD count = 0;
  for (const identity& program : installed) count += candidate.same(program);
  return count;
}

// The searches on the prefix's own service manager and processes: as the
// installer runs them (one search per installed program), and, as a
// proposal measured, one pass over the services and the processes that
// compares each with all three programs.
void on_real_system(int repetitions) {
  namespace win = brq_install::win;
  const std::wstring dir = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\";
  const std::wstring programs[] = {dir + L"qzv.ua.brq.exe", dir + L"qzv.ua.brq.ctrl.exe", dir + L"qzv.ua.brq.dev.exe"};
  win::unique_sc_handle scm(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<DWORD> ids;
  std::vector<brq_install::service_record> records;
  // The first discovery of the process, apart from the later ones.
  measure("real-first", "discovery", 0, 1, 1, [&] { return win::find_image_services(scm.get(), target, records); });

  const auto services = static_cast<DWORD>(service_names(scm.get()).size());
  std::vector<DWORD> all;
  win::enum_process_ids(all);
  const auto processes = static_cast<DWORD>(all.size());
  measure("real", "discovery", services, repetitions, 1, [&] {
    records.clear();
    return win::find_image_services(scm.get(), target, records);
  });
  measure("real", "process-check", processes, repetitions, 1, [&] {
    ids.clear();
    return win::find_image_processes(target, ids);
  });
  measure("real-three-programs", "discovery", services, repetitions, 1, [&] {
    for (const std::wstring& program : programs) {
      if (DWORD error = win::find_image_services(scm.get(), program, records)) return error;
    }
    return DWORD{ERROR_SUCCESS};
  });
  // One pass: the three installed files opened once, each service's
  // configuration queried once and its program opened once.
  auto installed = [&] {
    std::vector<identity> identities;
    for (const std::wstring& program : programs) identities.emplace_back(program);
    return identities;
  };
  measure("real-one-pass", "discovery", services, repetitions, 1, [&] {
    const std::vector<identity> identities = installed();
    DWORD found = 0;
    for (const std::wstring& name : service_names(scm.get())) {
      brq_install::service_config config;
      if (DWORD error = win::query_service_config(scm.get(), name, config)) return error;
      found += matches(win::first_argument(config.command_line), identities);
    }
    return found >= 1 ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_NOT_FOUND};
  });
  // The same, each configuration read in one query into a buffer of 8 KiB,
  // the largest a configuration can take, instead of a size query first.
  measure("real-one-pass-one-query", "discovery", services, repetitions, 1, [&] {
    const std::vector<identity> identities = installed();
    DWORD found = 0;
    auto buffer = std::make_unique<std::byte[]>(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
    for (const std::wstring& name : service_names(scm.get())) {
      win::unique_sc_handle service(OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
      DWORD needed = 0;
      if (!service || !QueryServiceConfigW(service.get(), config, 8192, &needed)) return GetLastError();
      found += matches(win::first_argument(config->lpBinaryPathName), identities);
    }
    return found >= 1 ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_NOT_FOUND};
  });
  measure("real-three-programs", "process-check", processes, repetitions, 1, [&] {
    for (const std::wstring& program : programs) {
      if (DWORD error = win::find_image_processes(program, ids)) return error;
    }
    return DWORD{ERROR_SUCCESS};
  });
  measure("real-one-pass", "process-check", processes, repetitions, 1, [&] {
    const std::vector<identity> identities = installed();
    std::vector<DWORD> every;
    if (DWORD error = win::enum_process_ids(every)) return error;
    for (DWORD id : every) {
      HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
      if (process == nullptr) continue;
      wchar_t module[MAX_PATH] = {};
      if (K32GetModuleFileNameExW(process, nullptr, module, MAX_PATH) != 0 && matches(module, identities) > 0) {
        ids.push_back(id);
      }
      CloseHandle(process);
    }
    return DWORD{ERROR_SUCCESS};
  });
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 9;
  int shared_repetitions = argc > 2 ? std::atoi(argv[2]) : 3;
  on_real_system(repetitions);
  for (DWORD items : {1000u, 10000u}) on_minimal_fakes(items, repetitions);

  // A real file for the shared fakes to find.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring found = std::wstring(temp) + L"brq-scaling-target.exe";
  CloseHandle(CreateFileW(found.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  for (DWORD items : {1000u, 10000u}) on_shared_fakes(items, shared_repetitions, found);
  DeleteFileW(found.c_str());
  return 0;
}
