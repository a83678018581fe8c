// Whole runs of the installer with one platform call failing: for every call
// N of a first installation and of an update, the run is repeated with call N
// failing, once with the function's usual error code and once with the last
// error left at 0, and each time the run must fail cleanly: nothing thrown,
// everything released, the exit code matching what was printed, no failure
// reported as "ok", the installed files one set, the old one or the new one,
// and the next run completing the installation.
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

// Fails every call of a whole run in turn. With `last_held`, a program
// holds the developer tool's file through every retry, so that each run
// rolls back and the fault falls on the rollback too; the program has let
// go by the next run.
void sweep(bool update, const char* name, bool last_held = false) {
  auto hold = [last_held](test::sweep_case& machine, bool held) {
    if (last_held) machine.files().nodes[test::sweep_case::destination() + L"\\qzv.ua.brq.dev.exe"].held = held;
  };
  std::vector<test::fault_driver::call> clean_calls;
  {
    test::sweep_case machine(update);
    hold(machine, true);
    outcome clean = machine.run(1);
    ASSERT_EQ(clean.exit_code, last_held ? 1 : 0) << clean.output;
    test::expect_ended_well(clean, machine, 1);
    clean_calls = clean.calls;
  }
  test::sweep_calls(clean_calls, disruption::fault, name, [&](size_t n, DWORD error) {
    test::sweep_case machine(update);
    hold(machine, true);
    outcome r = machine.run(1, disruption::fault, n, error);
    test::expect_ended_well(r, machine, 1);
    expect_server_again(update, r, machine);
    hold(machine, false);
    test::expect_completed_by_next_run(machine);
    return r;
  });
}

TEST(fault_sweep, first_installation) { sweep(false, "first installation"); }
TEST(fault_sweep, update) { sweep(true, "update"); }
TEST(fault_sweep, update_rolled_back) { sweep(true, "update rolled back", true); }

}  // namespace
}  // namespace brq_install
