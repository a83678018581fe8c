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
#include "sweep_runner.hpp"

namespace brq_install {
namespace {

using test::disruption;
using test::outcome;

// Whatever failed, the server of an update runs again, unless its last
// line says it could not be started, or a file could not be put back:
// nothing starts on a mixed set.
void expect_server_again(bool update, const outcome& r, test::sweep_case& machine) {
  size_t last = r.output.rfind("  service \"QZVOPCUA.BRQ\"... ");
  bool reported_down = last != std::string::npos && r.output.compare(last + 28, 6, "failed") == 0;
  reported_down = reported_down || machine.installed_version() == -2;
  if (update && !reported_down) {
    EXPECT_TRUE(machine.server_running()) << r.output;
  }
}

int failure_count() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

// Fails every call of a whole run in turn, with its usual code and with 0.
void sweep(bool update, const char* name) {
  std::vector<test::fault_driver::call> clean_calls;
  {
    test::sweep_case machine(update);
    outcome clean = machine.run(1);
    ASSERT_EQ(clean.exit_code, 0) << clean.output;
    test::expect_ended_well(clean, machine, 1);
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
      test::expect_ended_well(r, machine, 1);
      expect_server_again(update, r, machine);
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
