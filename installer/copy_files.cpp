#include "copy_files.hpp"

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "win/payload_resource.hpp"
#include "win/platform.hpp"

namespace brq_install {

namespace {

constexpr int max_retries = 3;
constexpr int retry_seconds = 5;

// "\n  retry in 5 sec..... ": one dot for each second waited.
void wait_before_retry() {
  print_text("\n  retry in ");
  print_text(std::to_string(retry_seconds));
  print_text(" sec");
  for (int second = 0; second < retry_seconds; ++second) {
    win::api.Sleep(1000);
    print_text(".");
  }
  print_text(" ");
}

}  // namespace

bool copy_files(install_plan& plan) {
  for (const auto& file : plan.files) {
    if (!applies_to_os(*file, plan)) continue;
    print_text("Copying \"");
    print_wide(file->name);
    print_text("\"... ");

    std::wstring path = target_path(plan, *file);
    if (!create_directories(path)) return false;

    DWORD error = win::extract_resource_to_file(file->resource_id, path);
    for (int retries = 0; error == ERROR_SHARING_VIOLATION && retries < max_retries; ++retries) {
      wait_before_retry();
      error = win::extract_resource_to_file(file->resource_id, path);
    }
    if (error != ERROR_SUCCESS) {
      report_error({"failed\n"}, error);
      return false;
    }
    print_text("ok\n");
  }
  return true;
}

}  // namespace brq_install
