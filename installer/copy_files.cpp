#include "copy_files.hpp"

#include "cancellation.hpp"
#include "console/console.hpp"
#include "destination.hpp"
#include "file_transaction.hpp"
#include "inflate/inflate.hpp"
#include "install_plan.hpp"
#include "win/clock.hpp"

namespace brq_install {

namespace {

constexpr int max_retries = 3;
constexpr DWORD retry_seconds = 5;

// "\n  retry in 5 sec..... ": one dot for each second waited.
void wait_before_retry() {
  print({"\n  retry in ", retry_seconds, " sec"});
  for (DWORD second = 0; second < retry_seconds; ++second) {
    win::sleep_ms(1000);
    print_text(".");
  }
  print_text(" ");
}

// Puts one file in its place through `buffer`, retrying while it is held;
// a cancellation during a wait ends the attempts.
DWORD copy_file(payload_file& file, std::span<uint8_t> buffer) {
  DWORD error = advance_file(file, buffer);
  for (int retries = 0; error == ERROR_SHARING_VIOLATION && retries < max_retries; ++retries) {
    wait_before_retry();
    if (cancel_requested()) return ERROR_CANCELLED;
    error = advance_file(file, buffer);
  }
  return error;
}

// "Copying \"name\"... " and the file written: "ok", or an error block. The
// first file also starts the replacement, once its directory is there to
// hold the record.
bool copy_one(install_plan& plan, payload_file& file, bool first, std::span<uint8_t> buffer) {
  print({"Copying \"", file.name, "\"... "});
  if (!create_directories(file.path) || (first && !begin_replacement(plan))) return false;
  return end_line(copy_file(file, buffer), failure_block::error) == ERROR_SUCCESS;
}

}  // namespace

bool copy_files(install_plan& plan) {
  // What recovery left until the services were stopped comes first, on
  // lines of its own; a backup of a committed run that is still there
  // would be taken for this run's, so nothing is replaced while it is.
  if (!finish_recovery(plan)) return false;
  if (plan.journal.recovery_left_over) {
    report_error({"The files cannot be replaced while a backup of the last installation is left\n"});
    return false;
  }
  // One buffer for every file and every attempt of the step.
  inflate_buffer buffer;
  bool copied = true;
  for (payload_file& file : plan.files) {
    // No file is replaced once the run is cancelled.
    if (cancel_requested() || !copy_one(plan, file, &file == &plan.files.front(), buffer.bytes())) {
      copied = false;
      break;
    }
  }
  if (copied && !cancel_requested() && commit_files(plan)) return true;
  roll_back_files(plan);
  return false;
}

}  // namespace brq_install
