#include "copy_files.hpp"

#include "cancellation.hpp"
#include "console/console.hpp"
#include "destination.hpp"
#include "file_set.hpp"
#include "install_plan.hpp"
#include "os_version.hpp"
#include "payload/inflate.hpp"
#include "win/payload_resource.hpp"
#include "win/platform.hpp"

namespace brq_install {

namespace {

constexpr int max_retries = 3;
constexpr int retry_seconds = 5;

// "\n  retry in 5 sec..... ": one dot for each second waited.
void wait_before_retry() {
  print({"\n  retry in ", std::to_string(retry_seconds), " sec"});
  for (int second = 0; second < retry_seconds; ++second) {
    win::api.Sleep(1000);
    print_text(".");
  }
  print_text(" ");
}

// Writes one file through `buffer`, retrying while it is held; a
// cancellation during a wait ends the attempts. Records the file as replaced
// once its old bytes are in its backup.
DWORD copy_file(install_plan& plan, const payload_file& file, std::span<uint8_t> buffer) {
  const std::wstring& path = file.path;
  bool kept_old = false;
  DWORD error = win::extract_resource_to_file(file.resource_id, path, buffer, kept_old);
  for (int retries = 0; error == ERROR_SHARING_VIOLATION && retries < max_retries; ++retries) {
    wait_before_retry();
    if (cancel_requested()) return ERROR_CANCELLED;
    error = win::extract_resource_to_file(file.resource_id, path, buffer, kept_old);
  }
  // A file whose old bytes could not be moved back after a failed attempt
  // is the set's to restore as well.
  if (error == ERROR_SUCCESS || kept_old) plan.replaced.push_back({&file, path, kept_old});
  return error;
}

// "Copying \"name\"... " and the file written: "ok", or an error block.
bool copy_one(install_plan& plan, const payload_file& file, std::span<uint8_t> buffer) {
  print({"Copying \"", file.name, "\"... "});
  if (!create_directories(file.path)) return false;
  if (DWORD error = copy_file(plan, file, buffer)) {
    report_error({"failed\n"}, error);
    return false;
  }
  print_text("ok\n");
  return true;
}

}  // namespace

bool copy_files(install_plan& plan) {
  // One buffer for every file and every attempt of the step.
  inflate_buffer buffer;
  bool copied = true;
  for (const auto& file : plan.files) {
    // No file is replaced once the run is cancelled.
    if (cancel_requested() || !copy_one(plan, file, buffer.bytes())) {
      copied = false;
      break;
    }
  }
  if (copied && !cancel_requested() && keep_new_files(plan)) return true;
  restore_files(plan);
  return false;
}

}  // namespace brq_install
