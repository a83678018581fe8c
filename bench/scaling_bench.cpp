// Scaling of the two passes that visit every service and every process:
// discovery (win::find_image_services) and the process check
// (win::find_image_processes), each one pass for the three installed
// programs as the installer runs them, in-process, among 1,000 and 10,000
// services and processes served by the tests' fake service manager and
// process table (tests/support). Every 500th item runs one of the three
// programs, in turn; every image is a real, empty file, so that each item
// costs the file system's real calls under Wine. One line per pass and size:
//   NAME ITEMS MIN_MS MEDIAN_MS MAX_MS
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_clock.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "win/platform.hpp"
#include "win/processes.hpp"
#include "win/service_query.hpp"
#include "win/unique.hpp"

namespace {

namespace win = brq_install::win;
constexpr DWORD match_every = 500;
const wchar_t* const program_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"};

// The image of item `index` (from 1): one of the three programs, in turn, for
// every 500th item, else a file of its own; all in `dir`.
std::wstring image(DWORD index, const std::wstring& dir) {
  if (index % match_every == 0) return dir + program_names[(index / match_every) % 3];
  return dir + L"item" + std::to_wstring(index) + L".exe";
}

double now_ms() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The samples (ms) of each pass and size.
std::map<std::pair<std::string, DWORD>, std::vector<double>> samples;

// Times one pass, which must find each of the three programs' share of the
// items. `search` fills `found`, one list per program.
template <typename Lists, typename Search>
void measure(const char* name, DWORD items, Lists& found, Search search) {
  double start = now_ms();
  DWORD error = search();
  samples[{name, items}].push_back(now_ms() - start);
  size_t count = 0;
  for (const auto& list : found) count += list.size();
  if (error == ERROR_SUCCESS && count != items / match_every) error = ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS) {
    std::fprintf(stderr, "scaling_bench: %s among %lu failed: %lu\n", name, items, error);
    std::exit(1);
  }
}

// One sample of each pass among `items` services and processes.
void sample(DWORD items, const std::wstring& dir) {
  using namespace brq_install::test;
  fake_clock clock;
  fake_service_manager services(clock);
  fake_process_table processes;
  for (DWORD index = 1; index <= items; ++index) {
    fake_service_manager::service entry;
    entry.name = L"service" + std::to_wstring(index);
    entry.command_line = L"\"" + image(index, dir) + L"\" --service";
    entry.state = SERVICE_RUNNING;
    services.add(std::move(entry));
    processes.add(4 * index, image(index, dir));
  }
  std::array<std::wstring, 3> programs;
  for (size_t k = 0; k < programs.size(); ++k) programs[k] = dir + program_names[k];
  win::unique_sc_handle scm(win::api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<std::vector<win::found_service>> found;
  measure("discovery", items, found, [&] { return win::find_image_services(scm.get(), programs, found); });
  std::vector<std::vector<DWORD>> ids;
  measure("process-check", items, ids, [&] { return win::find_image_processes(programs, ids); });
}

// Creates (or, with `remove`, deletes) the images of `items` items in `dir`.
void make_images(const std::wstring& dir, DWORD items, bool remove) {
  if (!remove) CreateDirectoryW(dir.c_str(), nullptr);
  for (DWORD index = 1; index <= items; ++index) {
    const std::wstring path = image(index, dir);
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

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"brq-scaling\\";
  make_images(dir, 10000, false);
  // The two sizes sample by sample, one after the other: a slow spell of the
  // shared machine then weighs on both alike.
  for (int round = 0; round < repetitions; ++round) {
    for (DWORD items : {1000u, 10000u}) sample(items, dir);
  }
  make_images(dir, 10000, true);
  for (auto& [key, times] : samples) {
    std::sort(times.begin(), times.end());
    std::printf("%s %lu %.3f %.3f %.3f\n", key.first.c_str(), key.second, times.front(), times[times.size() / 2],
                times.back());
  }
  return 0;
}
