// Whole runs of the installer with one platform call failing: for every call
// N of a first installation and of an update, the run is repeated with call N
// failing, once with the function's usual error code and once with the last
// error left at 0, and each time the run must fail cleanly: nothing thrown,
// everything released, the exit code matching what was printed, no failure
// reported as "ok", the installed files one set, the old one or the new one,
// and the next run completing the installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "console/console.hpp"
#include "installation_lock.hpp"
#include "sweep_runner.hpp"

namespace brq_install {
namespace {

using test::disruption;
using test::outcome;

// After a failure the run only puts back what it changed: restore lines and
// the start step.
bool is_cleanup_line(std::string_view line) {
  for (std::string_view start : {"Restoring \"", "Removing \"", "Will start services...", "  service \"", "ok"}) {
    if (line.starts_with(start)) return true;
  }
  return line.empty();
}

// What the run printed agrees with how it ended, and the failed call is not
// reported as a success.
void check_output(const outcome& r) {
  EXPECT_FALSE(r.threw) << "an exception left run()";
  auto first_error = std::find_if(r.runs.begin(), r.runs.end(),
                                  [](const auto& run) { return run.attribute == color_error; });
  bool error_block = first_error != r.runs.end();
  // A service that cannot be started again ends the run with exit code 1
  // after its warning block.
  size_t start_step = r.output.find("Will start services...\n");
  bool start_failed = start_step != std::string::npos &&
                      r.output.find("Will attempt to continue...\n", start_step) != std::string::npos;
  EXPECT_EQ(r.exit_code, error_block || start_failed ? 1 : 0) << r.output;
  for (auto run = first_error; run != r.runs.end(); ++run) {
    if (run->attribute != test::console_recorder::plain) continue;
    for (size_t start = 0; start < run->text.size();) {
      size_t end = std::min(run->text.find('\n', start), run->text.size());
      EXPECT_TRUE(is_cleanup_line(std::string_view(run->text).substr(start, end - start)))
          << "printed after the error block: " << run->text;
      start = end + 1;
    }
  }
  if (r.failed_at == 0 || test::ignored_by_design(r.calls, r.failed_at)) return;
  EXPECT_EQ(r.attribute_after, test::console_recorder::plain) << "the console's colour was not restored";
  if (!error_block) {
    EXPECT_NE(start_step, std::string::npos) << "the run did not go on to the end:\n" << r.output;
  }

  expect_failure_not_reported_as_ok(r);
}

// The files after a failed run: the old set, or the whole new one; mixed
// only when a file could not be put back, which the run reported.
void check_files(bool update, const outcome& r, const test::sweep_case& machine) {
  int version = machine.installed_version();
  if (r.exit_code == 0) {
    EXPECT_EQ(version, 1) << "after exit code 0";
    // A temporary file, backup or record that cannot be deleted is left to
    // the next run.
    bool delete_failed = r.failed_at != 0 && std::string_view(r.calls[r.failed_at - 1].function) == "DeleteFileW";
    EXPECT_TRUE(delete_failed || machine.others().empty()) << "left behind after exit code 0";
  }
  bool restore_failed = r.output.find("Restoring \"") != std::string::npos ||
                        r.output.find("Removing \"") != std::string::npos;
  restore_failed = restore_failed && r.output.find("... failed\n") != std::string::npos;
  if (!restore_failed) {
    EXPECT_TRUE(version == 1 || version == (update ? 0 : -1)) << "files of version " << version;
  }
  // Whatever failed, the server runs again, unless its last line says it
  // could not be started.
  size_t last = r.output.rfind("  service \"QZVOPCUA.BRQ\"... ");
  bool reported_down = last != std::string::npos && r.output.compare(last + 28, 6, "failed") == 0;
  if (update && !reported_down) {
    EXPECT_TRUE(machine.server_running()) << r.output;
  }
}

int failure_count() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

// Fails every call of a whole run in turn, with its usual code and with 0.
// An update finds the installation's mutex there already, held open (not
// owned) by another process as it were, so that reading its owner is swept.
void sweep(bool update, const char* name) {
  test::sweep_directory root;
  win::unique_handle other_run(update ? CreateMutexW(nullptr, FALSE, installation_mutex_name) : nullptr);
  std::vector<test::fault_driver::call> clean_calls;
  {
    test::sweep_case machine(update);
    outcome clean = machine.run(1);
    ASSERT_EQ(clean.exit_code, 0) << clean.output;
    check_output(clean);
    check_files(update, clean, machine);
    clean_calls = clean.calls;
  }
  size_t failed = 0, failing_runs = 0;
  for (size_t n = 1;; ++n) {
    if (n <= clean_calls.size() && !clean_calls[n - 1].can_fail) continue;
    const char* function = n <= clean_calls.size() ? clean_calls[n - 1].function : "";
    DWORD usual = test::fault_driver::usual_error(function);
    bool reached = true;
    for (DWORD error : {usual, DWORD{0}}) {
      SCOPED_TRACE(std::string(name) + ", call " + std::to_string(n) + " (" + function + ") failing with " +
                   std::to_string(error));
      int parts_before = failure_count();
      test::sweep_case machine(update);
      outcome r = machine.run(1, disruption::fault, n, error);
      reached = r.calls.size() >= n;
      if (!reached) break;
      failed += r.failures;
      check_output(r);
      check_files(update, r, machine);
      test::expect_completed_by_next_run(machine);
      if (failure_count() != parts_before) ++failing_runs;
      if (usual == 0) break;
    }
    if (!reached || failing_runs > 40) break;
  }
  std::printf("%s: %zu calls in the run, %zu calls failed\n", name, clean_calls.size(), failed);
}

TEST(fault_sweep, first_installation) { sweep(false, "first installation"); }
TEST(fault_sweep, update) { sweep(true, "update"); }

}  // namespace
}  // namespace brq_install
