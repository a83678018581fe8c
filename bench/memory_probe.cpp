// Where the memory of an installation goes: the installer's own pieces run
// one after another in-process, in the order of an update (the Windows
// version, the pass over the services and the one over the processes, the
// three files, the firewall step, the last piece by piece first), with the
// working set and its peak read after each (K32GetProcessMemoryInfo; under
// Wine these are the process's resident set and its high-water mark). The installer's output goes to standard
// output as usual; the probe's lines start with "memory ":
//   memory STEP WORKING_SET_KIB PEAK_KIB
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "destination.hpp"
#include "firewall.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "payload/inflate.hpp"
#include "win/firewall.hpp"
#include "win/payload_resource.hpp"
#include "win/processes.hpp"
#include "win/service_query.hpp"
#include "win/unique.hpp"

namespace {

void report(const char* step) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  std::fflush(stdout);
  std::fprintf(stderr, "memory %s %zu %zu\n", step, counters.WorkingSetSize / 1024, counters.PeakWorkingSetSize / 1024);
}

// Reads every byte of the three streams, so that their pages of the image
// are resident.
void touch_streams() {
  unsigned sum = 0;
  for (int id = 101; id <= 103; ++id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(1001));
    const auto* data = static_cast<const volatile unsigned char*>(LockResource(LoadResource(nullptr, found)));
    for (DWORD k = 0, size = SizeofResource(nullptr, found); k < size; k += 512) sum += data[k];
  }
  std::fprintf(stderr, "memory-touch-sum %u\n", sum);
}

}  // namespace

int main() {
  namespace win = brq_install::win;
  report("start");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  brq_install::install_plan plan = brq_install::build_install_plan();
  brq_install::detect_os(plan);  // version.dll, as every run loads it
  report("after-detecting-the-os");
  plan.destination = std::wstring(temp) + L"brq-memory-probe";
  brq_install::place_files(plan);  // each file's path, under the probe's directory
  CreateDirectoryW(plan.destination.c_str(), nullptr);
  // The two passes of an update, for the three files. They are not there
  // yet, so nothing matches; every service and process is still visited.
  std::vector<std::wstring> paths;
  for (const auto& file : plan.files) paths.push_back(file.path);
  {
    win::unique_sc_handle scm(win::api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    std::vector<std::vector<win::found_service>> found;
    if (!scm || win::find_image_services(scm.get(), paths, found) != 0) return 1;
  }
  report("after-discovery-pass");
  {
    std::vector<std::vector<DWORD>> ids;
    if (win::find_image_processes(paths, ids) != 0) return 1;
  }
  report("after-process-pass");
  touch_streams();
  report("after-touching-streams");
  // As the copy step does: one inflate buffer for the three files.
  {
    brq_install::inflate_buffer buffer;
    for (const auto& file : plan.files) {
      if (win::extract_resource_to_file(file.resource_id, file.path, buffer.bytes()) != 0) return 1;
      report(("after-extracting-" + std::to_string(file.resource_id)).c_str());
    }
  }
  // The firewall step piece by piece, then as the installer runs it.
  LoadLibraryW(L"ole32.dll");
  LoadLibraryW(L"oleaut32.dll");
  report("after-loading-ole32-oleaut32");
  win::api.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  report("after-CoInitializeEx");
  {
    win::com_ptr<INetFwProfile> profile;
    if (win::open_current_firewall_profile(profile) != 0) return 1;
    report("after-opening-firewall-profile");
  }
  win::api.CoUninitialize();
  report("after-CoUninitialize");
  brq_install::configure_firewall(plan);
  report("after-firewall-step");
  for (const auto& file : plan.files) DeleteFileW(file.path.c_str());
  RemoveDirectoryW(plan.destination.c_str());
  return 0;
}
