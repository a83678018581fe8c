// Scaling of the two passes that visit every service and every process:
// discovery (win::find_image_services) and the process check
// (win::find_image_processes), each one pass for the three installed
// programs as the installer runs them, in-process, with 1,000 and 10,000
// services and processes; every 500th runs one of the three programs, in
// turn. Two sets of fakes serve them through the platform table:
//   shared   the tests' fake service manager and process table
//            (tests/support); every image is a real (empty) file, so file
//            identities are the real file system's
//   minimal  the fakes below, which answer every call in constant time, the
//            file system included
// and, first, the prefix's real service manager and processes; beside the
// shared fakes, the file calls that they leave to Wine, alone. One line each:
//   KIND NAME ITEMS MIN_MS MEDIAN_MS MAX_MS
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "fake_clock.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "win/platform.hpp"
#include "win/processes.hpp"
#include "win/service_query.hpp"
#include "win/unique.hpp"

namespace {

using brq_install::win::api;

// The three installed programs, where the installer puts them.
const std::wstring install_dir = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\";
const std::array<std::wstring, 3> installed = {install_dir + L"qzv.ua.brq.exe", install_dir + L"qzv.ua.brq.ctrl.exe",
                                               install_dir + L"qzv.ua.brq.dev.exe"};
constexpr DWORD match_every = 500;
DWORD item_count = 0;

// Handles of the fakes: far above any handle Wine hands out. The installed
// files open as the indexes from `installed_index` on, items as their own.
const auto handle_base = static_cast<uintptr_t>(0x70000000);
constexpr DWORD installed_index = 0x100000;
HANDLE fake_handle(DWORD index) { return reinterpret_cast<HANDLE>(handle_base + index); }
bool is_fake(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) >= handle_base; }
DWORD index_of(const void* handle) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(handle) - handle_base); }

// The program of item `index` (from 1) among `programs`, the three installed
// ones: one of them, in turn, for every 500th item, else a file of its own
// in `dir`.
std::wstring program(DWORD index, const std::array<std::wstring, 3>& programs, const std::wstring& dir) {
  if (index % match_every == 0) return programs[(index / match_every) % programs.size()];
  return dir + L"item" + std::to_wstring(index) + L".exe";
}

const std::wstring minimal_dir = L"C:\\programs\\";
std::wstring minimal_program(DWORD index) { return program(index, installed, minimal_dir); }

// Files: an installed program opens as its own index, every item's program
// as the item; anything else goes to the real function.
HANDLE WINAPI fake_create_file(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition, DWORD flags, HANDLE template_file) {
  for (DWORD k = 0; k < installed.size(); ++k) {
    if (installed[k] == path) return fake_handle(installed_index + k);
  }
  if (std::wcsncmp(path, L"C:\\programs\\item", 16) == 0) return fake_handle(std::wcstoul(path + 16, nullptr, 10));
  return brq_install::win::real_api.CreateFileW(path, access, share, security, disposition, flags, template_file);
}

DWORD WINAPI fake_file_attributes(const wchar_t* path) {
  if (std::find(installed.begin(), installed.end(), path) != installed.end() ||
      std::wcsncmp(path, L"C:\\programs\\item", 16) == 0) {
    return FILE_ATTRIBUTE_NORMAL;
  }
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
  std::wstring command_line = L"\"" + minimal_program(index_of(service)) + L"\" --service";
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

BOOL WINAPI fake_image_name(HANDLE process, DWORD, wchar_t* name, DWORD* size) {
  std::wstring path = minimal_program(index_of(process));
  if (path.size() >= *size) return FALSE;
  std::wmemcpy(name, path.c_str(), path.size() + 1);
  *size = static_cast<DWORD>(path.size());
  return TRUE;
}

double now_ms() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The samples of each measurement (ms), in the order first measured, printed
// at the end: the samples of one measurement may be taken in several rounds.
struct samples {
  std::string kind, name;
  DWORD items;
  std::vector<double> times;
};
std::vector<samples> measured;

// Times `rounds` searches per sample, `repetitions` samples, and records the
// time of one search in each.
template <typename Search>
void measure(const char* kind, const char* name, DWORD items, int repetitions, int rounds, Search search) {
  auto entry = std::find_if(measured.begin(), measured.end(), [&](const samples& other) {
    return other.kind == kind && other.name == name && other.items == items;
  });
  if (entry == measured.end()) entry = measured.insert(measured.end(), {kind, name, items, {}});
  for (int k = 0; k < repetitions; ++k) {
    double start = now_ms();
    for (int round = 0; round < rounds; ++round) {
      if (DWORD error = search()) {
        std::fprintf(stderr, "scaling_bench: %s %s failed: %lu\n", kind, name, error);
        std::exit(1);
      }
    }
    entry->times.push_back((now_ms() - start) / rounds);
  }
}

// One line for each measurement: KIND NAME ITEMS MIN_MS MEDIAN_MS MAX_MS.
void print_measured() {
  for (samples& entry : measured) {
    std::vector<double>& times = entry.times;
    std::sort(times.begin(), times.end());
    std::printf("%s %s %lu %.3f %.3f %.3f\n", entry.kind.c_str(), entry.name.c_str(), entry.items, times.front(),
                times[times.size() / 2], times.back());
  }
}

// How many of `found` lists' entries there are, all files together.
template <typename Lists>
size_t total(const Lists& lists) {
  size_t count = 0;
  for (const auto& list : lists) count += list.size();
  return count;
}

// One pass of each for the three `programs` among `items` services and
// processes, whichever fakes are in the table, `rounds` passes per sample.
// Each pass must find every 500th item, each of the three programs' share.
void measure_searches(const char* kind, const std::array<std::wstring, 3>& programs, DWORD items, int repetitions,
                      int rounds) {
  namespace win = brq_install::win;
  const DWORD matches = items / match_every;
  win::unique_sc_handle scm(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<std::vector<win::found_service>> found;
  measure(kind, "discovery", items, repetitions, rounds, [&] {
    DWORD error = win::find_image_services(scm.get(), programs, found);
    return error != ERROR_SUCCESS || total(found) != matches ? (error ? error : DWORD{ERROR_INVALID_DATA}) : error;
  });
  std::vector<std::vector<DWORD>> ids;
  measure(kind, "process-check", items, repetitions, rounds, [&] {
    DWORD error = win::find_image_processes(programs, ids);
    return error != ERROR_SUCCESS || total(ids) != matches ? (error ? error : DWORD{ERROR_INVALID_DATA}) : error;
  });
}

void on_minimal_fakes(DWORD items, int repetitions) {
  const auto saved = api;
  item_count = items;
  api.GetFileAttributesW = &fake_file_attributes;
  api.CreateFileW = &fake_create_file;
  api.GetFileInformationByHandle = &fake_file_information;
  api.CloseHandle = &fake_close;
  api.OpenSCManagerW = [](const wchar_t*, const wchar_t*, DWORD) {
    return reinterpret_cast<SC_HANDLE>(fake_handle(0));
  };
  api.EnumServicesStatusW = &fake_enum_services;
  api.OpenServiceW = &fake_open_service;
  api.CloseServiceHandle = &fake_close_service;
  api.QueryServiceConfigW = &fake_query_config;
  api.K32EnumProcesses = &fake_enum_processes;
  api.OpenProcess = &fake_open_process;
  api.QueryFullProcessImageNameW = &fake_image_name;
  // The smaller table is searched ten times per sample, so that both sizes'
  // samples last as long and a shared machine's preemptions weigh on them
  // alike.
  measure_searches("minimal", installed, items, repetitions, static_cast<int>(10000 / items));
  api = saved;
}

// The shared fakes compare real files: every item's image and the three
// programs are files in `dir` (made by make_images).
void on_shared_fakes(DWORD items, int repetitions, const std::wstring& dir) {
  using namespace brq_install::test;
  const std::array<std::wstring, 3> programs = {dir + L"qzv.ua.brq.exe", dir + L"qzv.ua.brq.ctrl.exe",
                                                dir + L"qzv.ua.brq.dev.exe"};
  fake_clock clock;
  fake_service_manager services(clock);
  fake_process_table processes;
  for (DWORD index = 1; index <= items; ++index) {
    std::wstring image = program(index, programs, dir);
    fake_service_manager::service entry;
    entry.name = L"service" + std::to_wstring(index);
    entry.command_line = L"\"" + image + L"\" --service";
    entry.state = SERVICE_RUNNING;
    services.add(std::move(entry));
    processes.add(4 * index, image);
  }
  measure_searches("shared", programs, items, repetitions, 1);  // samples of a second or more
}

// What the shared fakes leave to Wine for one service or process whose image
// is the file `path`, in parts: the product's existence check (the file's
// attributes); an open for its identity (no access rights) and the close; and
// the file's information, volume serial number and index, read through that
// handle. Returns 0, or the code of the call that failed.
struct file_calls {
  bool attributes = true, open = true, information = true;
  DWORD operator()(const std::wstring& path) const {
    if (attributes && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return GetLastError();
    if (!open) return ERROR_SUCCESS;
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    BOOL read = !information || GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return read ? ERROR_SUCCESS : GetLastError();
  }
};

// Those calls alone on the shared fakes' images, item by item: the part of
// their per-item cost that is Wine's file system. All of them at both sizes;
// with `parts`, each part alone as well.
void on_file_calls(DWORD items, int repetitions, const std::wstring& dir, bool parts) {
  auto pass = [&](const char* name, file_calls calls) {
    measure("files", name, items, repetitions, 1, [&] {
      for (DWORD index = 1; index <= items; ++index) {
        if (DWORD error = calls(dir + L"item" + std::to_wstring(index) + L".exe")) return error;
      }
      return DWORD{ERROR_SUCCESS};
    });
  };
  pass("image-calls", {});
  if (!parts) return;
  pass("attributes", {.attributes = true, .open = false, .information = false});
  pass("open-close", {.attributes = false, .open = true, .information = false});
  pass("open-information-close", {.attributes = false, .open = true, .information = true});
}

// Creates (or, with `remove`, deletes) the empty files that the shared
// fakes' images name: item1.exe to itemN.exe and the three programs in `dir`.
void make_images(const std::wstring& dir, DWORD items, bool remove) {
  std::vector<std::wstring> names = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"};
  for (DWORD index = 1; index <= items; ++index) names.push_back(L"item" + std::to_wstring(index) + L".exe");
  if (!remove) CreateDirectoryW(dir.c_str(), nullptr);
  for (const std::wstring& name : names) {
    std::wstring path = dir + name;
    if (remove) {
      DeleteFileW(path.c_str());
      continue;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "scaling_bench: cannot create %ls: %lu\n", path.c_str(), GetLastError());
      std::exit(1);
    }
    CloseHandle(file);
  }
  if (remove) RemoveDirectoryW(dir.c_str());
}

// How many Win32 services the manager lists: one enumeration with a buffer of
// the size it asks for.
DWORD service_count(SC_HANDLE scm) {
  DWORD needed = 0, count = 0, resume = 0;
  EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume);
  std::vector<BYTE> buffer(needed);
  resume = 0;
  EnumServicesStatusW(scm, SERVICE_WIN32, SERVICE_STATE_ALL, reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data()),
                      needed, &needed, &count, &resume);
  return count;
}

// The searches on the prefix's own service manager and processes, with the
// three programs installed and the server running: the product's one pass
// for the three, as the installer runs it, the first discovery of the
// process apart from the later ones.
void on_real_system(int repetitions) {
  namespace win = brq_install::win;
  win::unique_sc_handle scm(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<std::vector<win::found_service>> found;
  std::vector<std::vector<DWORD>> ids;
  // The server's service must be found, or the prefix is not as bench/run left it.
  auto discover = [&] {
    DWORD error = win::find_image_services(scm.get(), installed, found);
    return error != ERROR_SUCCESS || found[0].empty() ? (error ? error : DWORD{ERROR_NOT_FOUND}) : error;
  };
  measure("real-first", "discovery", 0, 1, 1, discover);

  const DWORD services = service_count(scm.get());
  std::vector<DWORD> all;
  if (DWORD error = win::enum_process_ids(all)) {
    std::fprintf(stderr, "scaling_bench: the processes cannot be listed: %lu\n", error);
    std::exit(1);
  }
  const auto processes = static_cast<DWORD>(all.size());
  measure("real", "discovery", services, repetitions, 1, discover);
  measure("real", "process-check", processes, repetitions, 1, [&] {
    DWORD error = win::find_image_processes(installed, ids);
    return error != ERROR_SUCCESS || ids[0].empty() ? (error ? error : DWORD{ERROR_NOT_FOUND}) : error;
  });
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 9;
  int shared_repetitions = argc > 2 ? std::atoi(argv[2]) : 3;
  on_real_system(repetitions);

  // The shared fakes' images, made once for the larger table.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"brq-scaling\\";
  make_images(dir, 10000, false);
  // Both sizes sample by sample, one after the other: a slow spell of the
  // shared machine (or of the writing back of the new images) then weighs
  // on both alike, not on the size measured during it.
  for (int round = 0; round < repetitions; ++round) {
    for (DWORD items : {1000u, 10000u}) on_minimal_fakes(items, 1);
  }
  for (int round = 0; round < shared_repetitions; ++round) {
    for (DWORD items : {1000u, 10000u}) {
      on_file_calls(items, 1, dir, items == 1000u);
      on_shared_fakes(items, 1, dir);
    }
  }
  make_images(dir, 10000, true);
  print_measured();
  return 0;
}
