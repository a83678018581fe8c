// Whole runs of the installer ended at every call N of the platform table:
// the process killed there (it gives back what a dead process gives back,
// its mutex is abandoned, files and services stay as they are), or Ctrl+C
// pressed there. A killed run is followed by another that must complete the
// installation; a cancelled one must leave the previous installation
// running, or complete if the key came after its last step.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/console.hpp"
#include "sweep_runner.hpp"

namespace brq_install {
namespace {

using test::disruption;
using test::outcome;

const std::string cancelled_block = "Installation cancelled\n" + test::text_of(ERROR_CANCELLED) + "\n";

// A cancelled run ends with the cancellation as its last words and exit 1,
// the machine as it was or, after the copy, with the new files; or, when the
// key came after the last step, it completed.
void check_cancelled(bool update, const outcome& r, test::sweep_case& machine) {
  EXPECT_FALSE(r.threw);
  int version = machine.installed_version();
  if (r.exit_code == 0) {
    EXPECT_EQ(r.output.find("Installation cancelled"), std::string::npos) << r.output;
    EXPECT_EQ(version, 1);
    EXPECT_TRUE(machine.server_running());
  } else {
    EXPECT_EQ(r.exit_code, 1);
    ASSERT_FALSE(r.runs.empty());
    EXPECT_EQ(r.runs.back().text, cancelled_block) << r.output;
    EXPECT_EQ(r.runs.back().attribute, color_error);
    EXPECT_TRUE(version == 1 || version == (update ? 0 : -1)) << "files of version " << version;
    if (update) {
      EXPECT_TRUE(machine.server_running()) << r.output;
    }
  }
  for (const std::wstring& name : machine.others()) ADD_FAILURE() << "left behind: " << wide_to_utf8(name);
}

int failure_count() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

void sweep(bool update, disruption what, const char* name) {
  test::sweep_directory root;
  size_t calls = 0;
  {
    test::sweep_case machine(update);
    calls = machine.run(1).calls.size();
  }
  size_t failing_runs = 0;
  for (size_t n = 1; n <= calls && failing_runs <= 40; ++n) {
    SCOPED_TRACE(std::string(name) + ", at call " + std::to_string(n));
    int parts_before = failure_count();
    test::sweep_case machine(update);
    outcome r = machine.run(1, what, n);
    if (what == disruption::kill) {
      test::expect_completed_by_next_run(machine);
    } else {
      check_cancelled(update, r, machine);
    }
    if (failure_count() != parts_before) ++failing_runs;
  }
  std::printf("%s: %zu calls in the run\n", name, calls);
}

TEST(interrupt_sweep, first_installation_killed) { sweep(false, disruption::kill, "first installation killed"); }
TEST(interrupt_sweep, update_killed) { sweep(true, disruption::kill, "update killed"); }
TEST(interrupt_sweep, first_installation_cancelled) {
  sweep(false, disruption::cancel, "first installation cancelled");
}
TEST(interrupt_sweep, update_cancelled) { sweep(true, disruption::cancel, "update cancelled"); }

}  // namespace
}  // namespace brq_install
