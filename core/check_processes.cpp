#include "check_processes.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/privilege.hpp"
#include "win/processes.hpp"

namespace brq_install {

namespace {

void end_process(DWORD id, const std::wstring& path) {
  bool other_program = false;
  DWORD error = win::terminate_image_process(id, path, other_program);
  if (other_program) return;  // the id was reused: not ours to end
  print({"  will kill process ", id, "... "});
  end_line(error, failure_block::warning);
}

}  // namespace

void check_processes(install_plan& plan) {
  // The installed programs, but for those whose services could not be
  // discovered: a process of theirs may belong to a service that would not
  // be started again.
  std::vector<const payload_file*> files;
  std::vector<std::wstring> paths;
  for (const auto& file : plan.files) {
    bool installed = false;
    if (std::ranges::count(plan.undiscovered, file.name) != 0 || find_installed_program(file, installed) != 0 ||
        !installed) {
      continue;
    }
    files.push_back(&file);
    paths.push_back(file.path);
  }
  if (files.empty()) return;

  // One pass over the processes; then each file's line and its processes.
  std::vector<std::vector<DWORD>> ids;
  win::debug_privilege debug;  // so that other users' processes open too
  DWORD error = win::find_image_processes(paths, ids);
  for (size_t i = 0; i < files.size(); ++i) {
    print({"Checking processes for \"", files[i]->name, "\"... "});
    if (error != ERROR_SUCCESS) {
      report_warning({"failed\n"}, error);
      continue;
    }
    print_text("\n");
    for (DWORD id : ids[i]) end_process(id, paths[i]);
  }
}

}  // namespace brq_install
