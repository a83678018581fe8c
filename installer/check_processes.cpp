#include "check_processes.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/processes.hpp"

namespace brq_install {

namespace {

void end_process(DWORD id, const std::wstring& path) {
  bool other_program = false;
  DWORD error = win::terminate_image_process(id, path, other_program);
  if (other_program) return;  // the id was reused: not ours to end
  print_text("  will kill process ");
  print_text(std::to_string(id));
  print_text("... ");
  if (error != ERROR_SUCCESS) {
    report_warning({"failed\n"}, error);
  } else {
    print_text("ok\n");
  }
}

}  // namespace

bool check_processes(install_plan& plan) {
  for (const auto& file : plan.files) {
    std::optional<std::wstring> path = installed_program(plan, *file);
    if (!path || std::ranges::count(plan.undiscovered, file->name) != 0) continue;

    print_text("Checking processes for \"");
    print_wide(file->name);
    print_text("\"... ");
    std::vector<DWORD> ids;
    if (DWORD error = win::find_image_processes(*path, ids)) {
      report_warning({"failed\n"}, error);
      continue;
    }
    print_text("\n");
    for (DWORD id : ids) end_process(id, *path);
  }
  return true;
}

}  // namespace brq_install
