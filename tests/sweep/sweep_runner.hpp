#pragma once
// Whole runs of the installer in-process, on the shared fakes, with one
// disruption at call N of the platform table: the call failing, the process
// killed there, or Ctrl+C pressed there. The system a case starts from (an
// empty machine, or an installation with its service running, a control tool
// open and the firewall exception present) lives across the disrupted run and
// the run after it, so that a case can check that the next run completes
// what the disrupted one left. Everything a run acquires is counted against
// what it releases.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "fake_file_system.hpp"
#include "fake_firewall.hpp"
#include "fake_process_table.hpp"
#include "fake_registry.hpp"
#include "fake_service_manager.hpp"
#include "fault_driver.hpp"

namespace brq_install::test {

// A logoff is a user's, which reaches the run as a console event.
enum class disruption { none, fault, kill, cancel, logoff };

struct outcome {
  int exit_code = -1;
  bool threw = false;
  std::string output;
  std::vector<console_recorder::run> runs;
  WORD attribute_after = 0;      // the console's attribute when the run ended
  size_t output_at_failure = 0;  // how much had been printed when the call failed
  size_t failed_at = 0;          // its number, from 1; 0: none failed
  DWORD error = 0;               // the last error it failed with
  std::vector<fault_driver::call> calls;
  size_t failures = 0;
};

// The payload bytes of installer `version` (0: the installation found before
// the first run, 1: the disrupted run's, 2: the run after it).
std::string payload_bytes(int file, int version);

// Everything a run can change, to start other runs from: the files, the
// services, the processes and the firewall exception.
struct machine_state {
  fake_file_system::tree files;
  std::vector<fake_service_manager::service> services;
  std::vector<fake_process_table::process> processes;
  fake_firewall::entry firewall = fake_firewall::entry::absent;
  fake_registry::tree registry;
  std::vector<std::wstring> deleted_at_restart;
  // What tells two states apart.
  std::string key() const;
};

class sweep_case {
 public:
  // A machine as a first installation or an update finds it.
  explicit sweep_case(bool update);
  ~sweep_case();
  sweep_case(const sweep_case&) = delete;
  sweep_case& operator=(const sweep_case&) = delete;

  // One whole run of the installer carrying payloads `version`, with call
  // `n` disrupted (n = 0: none). A fault fails it with `error` as its last
  // error. `each_call` runs as each call is made, with its number. Checks
  // that everything acquired was given back.
  outcome run(int version, disruption what = disruption::none, size_t n = 0, DWORD error = 0,
              const std::function<void(size_t)>& each_call = {});
  // The same with the uninstaller.
  outcome remove(disruption what = disruption::none, size_t n = 0, DWORD error = 0);

  // The machine as it is, a pending service state as it ends; and the
  // machine put into such a state.
  machine_state save() const;
  void load(const machine_state& state);

  // The payload version that all four installed files hold: 0 to 2, -1
  // when none is there, -2 when they are not one set.
  int installed_version() const;
  // The files in the destination that are not installed files.
  std::vector<std::wstring> others() const;
  // The version the installed files stand for once the next run puts them
  // in order, from the facts on disk alone: with a record and no commit
  // point, a backup's, or none for a file with a marker. -2 when mixed.
  int recovered_version() const;
  // Whether the entry in Programs and Features is there, one of its string
  // values, and whether the record of an unfinished run is there.
  bool has_entry() const;
  std::wstring entry_text(const std::wstring& name) const;
  bool has_record() const;
  // Whether the server's service runs.
  bool server_running() const;
  // Whether it is as the administrator left it: running unless disabled.
  bool server_as_left() const;
  // What is left of the product: empty when nothing, or else what.
  std::string remains() const;

  // The system the runs see.
  static std::wstring destination();
  fake_file_system& files();
  fake_service_manager& services();
  fake_process_table& processes();
  fake_firewall& firewall();

 private:
  struct system;
  std::unique_ptr<system> system_;
  outcome run_program(int (*program)(int, const char* const*), int version, disruption what, size_t n, DWORD error,
                      const std::function<void(size_t)>& each_call);
};

// The failed call is not reported as a success: the line open while it
// failed does not end in "ok", unless the product ignores that call's
// failure by design or asks again and succeeds.
void expect_failure_not_reported_as_ok(const outcome& r);

// Whether call `n` of the log fails by design without a trace on the
// console.
bool ignored_by_design(const std::vector<fault_driver::call>& calls, size_t n);

// What a run of payloads `version` that was not killed leaves, whatever
// disrupted it: its output agrees with its exit code, no failure is
// reported as "ok", and after an error block only what puts back follows;
// the files stand for one set (of any version, or none) once the next run
// puts them in order; exit code 0 only with the files of `version`, the
// server as the administrator left it and nothing else in the destination;
// and a service that was stopped before the first run is stopped still.
void expect_ended_well(const outcome& r, sweep_case& machine, int version);

// How many checks have failed so far in the test that runs.
int failure_count();

// Call `n` of a run disrupted in turn for every call of `clean` (the same
// run's calls, undisrupted): `disrupted(n, error)` makes the run on a machine
// of its own, checks what it left and returns its outcome. A fault falls
// only on a call that can fail, once with the function's usual error and
// once with the last error at 0 (once when the usual one is 0); a kill,
// Ctrl+C or logoff falls on every call. Each call must be reached by the
// run disrupted there. After 40 runs that failed a check the sweep stops:
// the first ones tell what is wrong.
void sweep_calls(const std::vector<fault_driver::call>& clean, disruption what, const std::string& name,
                 const std::function<outcome(size_t n, DWORD error)>& disrupted);

// The run after a disrupted one completes the installation, whatever that
// one left: exit code 0, the files of version 2, the server running, and
// nothing else in the destination.
void expect_completed_by_next_run(sweep_case& machine);

}  // namespace brq_install::test
