#include "sweep_runner.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include "fake_clock.hpp"
#include "fake_file_system.hpp"
#include "fake_firewall.hpp"
#include "fake_named_mutex.hpp"
#include "fake_payloads.hpp"
#include "fake_process_table.hpp"
#include "fake_registry.hpp"
#include "fake_service_manager.hpp"
#include "installation_lock.hpp"
#include "ledger.hpp"
#include "product.h"
#include "run.hpp"
#include "uninstall.hpp"
#include "uninstall_key.hpp"

namespace brq_install::test {

namespace {

using win::api;

const std::wstring file_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe",
                                   L"qzv.ua.brq.uninstall.exe"};
constexpr int file_count = static_cast<int>(std::size(file_names));
constexpr int removal_program = 3;
// The removal program's process, while a removal runs from the destination.
constexpr DWORD removal_process_id = 5151;
const std::wstring entry_key = std::wstring(uninstall_key_path);

// "ProgramFiles" names the sweep's directory, in memory; every other
// variable is real.
const std::wstring program_files = L"C:\\Program Files (sweep)";
DWORD WINAPI fake_environment(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (std::wstring_view(name) != L"ProgramFiles") return win::real_api.GetEnvironmentVariableW(name, buffer, size);
  auto length = static_cast<DWORD>(program_files.size());
  if (size <= length) return length + 1;
  std::copy(program_files.begin(), program_files.end(), buffer);
  buffer[length] = L'\0';
  return length;
}

std::wstring destination_path() { return program_files + L"\\Quorvanta\\QZV.UA\\brq"; }
std::wstring installed_path(int i) { return destination_path() + L"\\" + file_names[i]; }
std::wstring temp_path() { return program_files + L"\\Windows\\Temp"; }

// The calls whose failure the product ignores by design: a progress line
// open while one of them fails may still end in "ok".
const std::map<std::string_view, std::string_view> calls_ignored_by_design = {
    {"GetStdHandle", "console handle: without it the text goes out as UTF-8 bytes, without colour"},
    {"GetConsoleMode", "console test: without a console the text goes out as UTF-8 bytes"},
    {"GetConsoleScreenBufferInfo", "console attribute: without it the text goes out without colour"},
    {"SetConsoleTextAttribute", "console attribute: a failure only loses the colour"},
    {"WriteConsoleW", "output write: there is nowhere left to report it"},
    {"WideCharToMultiByte", "output conversion: there is nowhere left to report it"},
    {"fwrite", "output write: there is nowhere left to report it"},
    {"fflush", "output write: there is nowhere left to report it"},
    {"CloseHandle", "closing: the work is done, nothing is left to undo"},
    {"CloseServiceHandle", "closing: the work is done, nothing is left to undo"},
    {"RegCloseKey", "closing: the work is done, nothing is left to undo"},
    {"SetCurrentDirectoryW", "a directory the removal still holds is reported when it cannot be removed"},
    {"GetTickCount", "a time, not a result: 0 only makes a wait end sooner"},
    {"ChangeServiceConfig2W", "a service without its description is registered all the same"},
    {"SetConsoleCtrlHandler", "without the handler Ctrl+C ends the process; the record lets the next run finish"},
    {"DeleteFileW", "a temporary file or record left behind: the next run deletes it"},
    // And a DLL loaded for a function that returns nothing (ignored_by_design()).
};

// The failures the product answers by making the same call again, by their
// code: the line open while one of them fails may end in "ok" once a later
// call succeeds.
const std::map<std::string_view, DWORD> retried_by_design = {
    {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},  // a service that takes no control for now
    {"CreateFileW", ERROR_SHARING_VIOLATION},              // a file held: the copy waits and asks again
    {"MoveFileExW", ERROR_SHARING_VIOLATION},
};

}  // namespace

std::string payload_bytes(int file, int version) {
  static const char* const programs[] = {"server", "control tool", "developer tool", "removal program"};
  return std::string(programs[file]) + " version " + std::to_string(version);
}

struct sweep_case::system {
  fake_clock clock;
  fake_firewall firewall;
  fake_file_system files{program_files};
  fake_named_mutex mutexes;
  fake_service_manager services{clock};
  fake_process_table processes;
  fake_registry registry;
  scoped_override<decltype(api.GetEnvironmentVariableW)> environment{api.GetEnvironmentVariableW, &fake_environment};
};

sweep_case::sweep_case(bool update) : system_(std::make_unique<system>()) {
  // A program's file is its image while it runs: the server's while its
  // service is not stopped, and each process's.
  system_->files.image_running = [s = system_.get()](const std::wstring& path) {
    auto same = [&](const std::wstring& other) {
      return !case_blind_less()(path, other) && !case_blind_less()(other, path);
    };
    fake_service_manager::service* server = s->services.find(L"QZVOPCUA.BRQ");
    if (server != nullptr && same(installed_path(0))) s->services.settle(*server);
    return (server != nullptr && same(installed_path(0)) && server->state != SERVICE_STOPPED) ||
           std::ranges::any_of(s->processes.processes, [&](const auto& p) { return !p.ended && same(p.module); });
  };
  system_->files.make_directories(temp_path());
  if (update) {
    // Another process holds the installation's mutex open (not owned), so
    // that reading its owner is swept too.
    system_->mutexes.objects[installation_mutex_name].other_handles = 1;
    for (int i = 0; i < file_count; ++i) system_->files.write(installed_path(i), payload_bytes(i, 0));
    system_->registry.keys[entry_key] = {{L"DisplayVersion", L"0.9.0.0"}};
    system_->services.add({.name = L"QZVOPCUA.BRQ",
                           .display_name = L"qzv OPCUA server for BRQ",
                           .command_line = L"\"" + installed_path(0) + L"\"",
                           .state = SERVICE_RUNNING,
                           .wait_hint = 2000,
                           .stop_ms = 3000,
                           .start_ms = 2000});
    // A service of the developer tool that an administrator keeps stopped.
    system_->services.add(
        {.name = L"QZV.Idle", .command_line = L"\"" + installed_path(2) + L"\"", .start_type = SERVICE_DEMAND_START});
    system_->processes.add(4242, installed_path(1));
    system_->firewall.existing = fake_firewall::entry::enabled;
  }
}

sweep_case::~sweep_case() = default;

outcome sweep_case::run(int version, disruption what, size_t n, DWORD error,
                        const std::function<void(size_t)>& each_call) {
  return run_program(&brq_install::run, version, what, n, error, each_call);
}

outcome sweep_case::remove(disruption what, size_t n, DWORD error) {
  return run_program(&brq_install::uninstall, 2, what, n, error, {});
}

machine_state sweep_case::save() const {
  machine_state state{.files = system_->files.nodes,
                      .services = system_->services.services,
                      .processes = system_->processes.processes,
                      .firewall = system_->firewall.existing,
                      .registry = system_->registry.keys,
                      .deleted_at_restart = system_->files.deleted_at_restart};
  for (fake_service_manager::service& s : state.services) {
    bool pending = s.state == SERVICE_START_PENDING || s.state == SERVICE_STOP_PENDING ||
                   s.state == SERVICE_CONTINUE_PENDING || s.state == SERVICE_PAUSE_PENDING;
    if (pending && s.pending_ms != fake_service_manager::never) s.state = s.pending_end;
  }
  return state;
}

void sweep_case::load(const machine_state& state) {
  system_->files.nodes = state.files;
  system_->services.services = state.services;
  system_->processes.processes = state.processes;
  system_->firewall.existing = state.firewall;
  system_->registry.keys = state.registry;
  system_->files.deleted_at_restart = state.deleted_at_restart;
}

std::string machine_state::key() const {
  std::string key;
  for (const auto& [path, node] : files) {
    // A staging file, whole, in part or none, is written anew or deleted
    // alike.
    if (path.ends_with(L".new")) continue;
    key += wide_to_utf8(path) + (node.directory ? "\n" : "=" + node.bytes + (node.held ? " held" : "")) +
           ((node.attributes & FILE_ATTRIBUTE_READONLY) != 0 ? " read-only\n" : "\n");
  }
  for (const fake_service_manager::service& s : services) {
    key += wide_to_utf8(s.name) + " " + std::to_string(s.state) + (s.marked_for_delete ? " deleted" : "") +
           (s.start_type == SERVICE_DISABLED ? " disabled\n" : "\n");
  }
  for (const fake_process_table::process& p : processes) key += std::to_string(p.id) + (p.ended ? " ended\n" : "\n");
  // The product writes the entry's values and never reads them: states that
  // differ only in them run alike.
  for (const auto& [name, values] : registry) key += wide_to_utf8(name) + "\n";
  for (const std::wstring& path : deleted_at_restart) key += "deleted at restart " + wide_to_utf8(path) + "\n";
  return key + "firewall " + std::to_string(static_cast<int>(firewall));
}

std::wstring sweep_case::destination() { return destination_path(); }
fake_file_system& sweep_case::files() { return system_->files; }
fake_service_manager& sweep_case::services() { return system_->services; }
fake_process_table& sweep_case::processes() { return system_->processes; }
fake_firewall& sweep_case::firewall() { return system_->firewall; }

std::string sweep_case::remains() const {
  std::string left;
  if (system_->files.nodes.contains(program_files + L"\\Quorvanta")) left += "the Quorvanta directory; ";
  if (system_->services.find(L"QZVOPCUA.BRQ") != nullptr) left += "the service QZVOPCUA.BRQ; ";
  if (system_->firewall.existing != fake_firewall::entry::absent) left += "the firewall exception; ";
  if (system_->registry.keys.contains(entry_key)) left += "the uninstall entry; ";
  const std::vector<std::wstring>& doomed = system_->files.deleted_at_restart;
  for (const auto& [path, node] : system_->files.nodes) {
    // An empty one only reserved a name, as temporary files do.
    bool in_temp = path.size() > temp_path().size() && path.starts_with(temp_path() + L"\\");
    if (in_temp && !node.bytes.empty() && std::ranges::count(doomed, path) == 0) {
      left += "a file in Temp not deleted at restart; ";
    }
  }
  for (const std::wstring& path : doomed) {
    if (path.starts_with(destination_path())) left += "a deletion at restart in the destination; ";
  }
  return left;
}

outcome sweep_case::run_program(int (*program)(int, const char* const*), int version, disruption what, size_t n,
                                DWORD error, const std::function<void(size_t)>& each_call) {
  console_recorder console;
  fake_payloads payloads;
  for (int i = 0; i < file_count; ++i) {
    payloads.add(static_cast<uint16_t>(101 + i), zlib_stream(payload_bytes(i, version)));
  }
  // The removal runs as the installed removal program when there is one,
  // as from Programs and Features; otherwise from the release media.
  bool from_destination = program == &brq_install::uninstall &&
                          system_->files.nodes.contains(installed_path(removal_program));
  if (from_destination) system_->processes.add(removal_process_id, installed_path(removal_program));
  system_->processes.self = from_destination ? removal_process_id : 0;

  // The steps in their order: a run that ends processes does so only once
  // the services of their files are stopped.
  system_->processes.on_open = [this, what](DWORD, DWORD access) {
    fake_service_manager::service* server = system_->services.find(L"QZVOPCUA.BRQ");
    if ((access & PROCESS_TERMINATE) == 0 || what != disruption::none || server == nullptr) return;
    system_->services.settle(*server);
    EXPECT_EQ(server->state, static_cast<DWORD>(SERVICE_STOPPED)) << "a process ended while its service runs";
  };
  std::string unbalanced;
  outcome result;
  {
    fault_driver faults;
    ledger books;
    if (what == disruption::fault) {
      faults.fail(n, error);
      faults.on_failure = [&](const char*) {
        result.output_at_failure = console.text().size();
        result.failed_at = faults.calls.size();
        result.error = error;
      };
    } else if (what == disruption::kill) {
      faults.kill(n);
    } else {
      faults.fail(0, 0);
      DWORD event = what == disruption::cancel ? CTRL_C_EVENT : CTRL_LOGOFF_EVENT;
      faults.before_call = [&console, n, event](size_t k) {
        if (k == n && console.handler != nullptr) console.handler(event);  // as the system delivers it
      };
    }
    if (each_call) faults.before_call = each_call;
    const char* argv[] = {"qzv.ua.brq", nullptr};
    try {
      result.exit_code = program(1, argv);
    } catch (...) {
      result.threw = true;
    }
    result.calls = std::move(faults.calls);
    result.failures = faults.failures;
    unbalanced = books.unbalanced();
  }
  if (from_destination) {  // it has ended, killed or not
    std::erase_if(system_->processes.processes, [](const auto& p) { return p.id == removal_process_id; });
    system_->processes.self = 0;
  }
  result.output = console.text();
  result.runs = console.runs();
  result.attribute_after = console.attribute();

  EXPECT_EQ(unbalanced, "");
  EXPECT_EQ(system_->firewall.co_initialize_calls, system_->firewall.co_uninitialize_calls) << "COM apartment not left";
  return result;
}

namespace {

// The payload version that the file at `path` holds: -1 when none is
// there, -2 when it is none of them.
int version_at(const fake_file_system& files, int i, const std::wstring& path) {
  if (!files.nodes.contains(path)) return -1;
  for (int v = 0; v <= 2; ++v) {
    if (files.read(path) == payload_bytes(i, v)) return v;
  }
  return -2;
}

int one_set(const std::set<int>& versions) { return versions.size() == 1 ? *versions.begin() : -2; }

}  // namespace

int sweep_case::installed_version() const {
  std::set<int> versions;
  for (int i = 0; i < file_count; ++i) versions.insert(version_at(system_->files, i, installed_path(i)));
  return one_set(versions);
}

int sweep_case::recovered_version() const {
  const fake_file_system& files = system_->files;
  bool open = files.nodes.contains(destination_path() + L"\\qzv.ua.brq.run") &&
              !files.nodes.contains(destination_path() + L"\\qzv.ua.brq.done");
  std::set<int> versions;
  for (int i = 0; i < file_count; ++i) {
    std::wstring stem = installed_path(i).substr(0, installed_path(i).size() - 4);
    if (open && files.nodes.contains(stem + L".old")) {
      versions.insert(version_at(files, i, stem + L".old"));
    } else if (open && files.nodes.contains(stem + L".add")) {
      versions.insert(-1);
    } else {
      versions.insert(version_at(files, i, installed_path(i)));
    }
  }
  return one_set(versions);
}

bool sweep_case::has_entry() const { return system_->registry.keys.contains(entry_key); }
std::wstring sweep_case::entry_text(const std::wstring& name) const { return system_->registry.text(entry_key, name); }
bool sweep_case::has_record() const { return system_->files.nodes.contains(destination_path() + L"\\qzv.ua.brq.run"); }

bool sweep_case::server_as_left() const {
  // The service manager never starts a disabled service: stopped, or
  // still running when its stop failed, it is as the administrator left it.
  fake_service_manager::service* server = system_->services.find(L"QZVOPCUA.BRQ");
  return (server != nullptr && server->start_type == SERVICE_DISABLED) || server_running();
}

std::vector<std::wstring> sweep_case::others() const {
  std::vector<std::wstring> found;
  for (const auto& [path, node] : system_->files.nodes) {
    bool installed = std::any_of(std::begin(file_names), std::end(file_names),
                                 [&](const std::wstring& name) { return path == destination_path() + L"\\" + name; });
    bool in_destination = path.starts_with(destination_path() + L"\\");
    if (!node.directory && in_destination && !installed) found.push_back(path.substr(path.rfind(L'\\') + 1));
  }
  return found;
}

bool sweep_case::server_running() const {
  fake_service_manager::service* server = system_->services.find(L"QZVOPCUA.BRQ");
  if (server == nullptr) return false;
  system_->services.settle(*server);
  return server->state == SERVICE_RUNNING;
}

namespace {

// After a failure the run only puts back what it changed: restore lines and
// the start step.
bool is_cleanup_line(std::string_view line) {
  for (std::string_view start : {"Restoring \"", "Removing \"", "Deleting \"", "Will start services...", "  service \"",
                                 "  services of \"", "ok"}) {
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
  // A console that fails loses the colours that these checks read.
  bool console_failed = r.failed_at != 0 && ignored_by_design(r.calls, r.failed_at);
  EXPECT_TRUE(console_failed || r.exit_code == (error_block || start_failed ? 1 : 0)) << r.output;
  // Every line whole: no step's progress line opens inside another's.
  for (size_t start = 0, end; start < r.output.size() && !console_failed; start = end + 1) {
    end = std::min(r.output.find('\n', start), r.output.size());
    std::string_view line = std::string_view(r.output).substr(start, end - start);
    size_t first = line.find("\"... ");
    EXPECT_TRUE(first == line.npos || line.find("\"... ", first + 1) == line.npos) << "a split line: " << line;
  }
  for (auto run = first_error; run != r.runs.end() && !console_failed; ++run) {
    if (run->attribute != console_recorder::plain) continue;
    for (size_t start = 0; start < run->text.size();) {
      size_t end = std::min(run->text.find('\n', start), run->text.size());
      EXPECT_TRUE(is_cleanup_line(std::string_view(run->text).substr(start, end - start)))
          << "printed after the error block: " << run->text;
      start = end + 1;
    }
  }
  if (r.failed_at == 0 || console_failed) return;
  EXPECT_EQ(r.attribute_after, console_recorder::plain) << "the console's colour was not restored";
  if (!error_block) {
    EXPECT_NE(start_step, std::string::npos) << "the run did not go on to the end:\n" << r.output;
  }

  expect_failure_not_reported_as_ok(r);
}

}  // namespace

void expect_ended_well(const outcome& r, sweep_case& machine, int version) {
  check_output(r);
  int found = machine.installed_version();
  if (r.exit_code == 0) {
    EXPECT_EQ(found, version) << "after exit code 0";
    EXPECT_TRUE(machine.server_as_left()) << "after exit code 0\n" << r.output;
    // A temporary file, backup or record that cannot be deleted is left to
    // the next run.
    bool delete_failed = r.failed_at != 0 && std::string_view(r.calls[r.failed_at - 1].function) == "DeleteFileW";
    EXPECT_TRUE(delete_failed || machine.others().empty()) << "left behind after exit code 0";
  }
  // The set the disk stands for, as the next run will complete or undo it,
  // is one set, whatever failed.
  EXPECT_NE(machine.recovered_version(), -2) << "not one set of files\n" << r.output;
  // Nothing starts on installed files that are not one set.
  EXPECT_TRUE(found != -2 || r.output.find("Will start services...") == std::string::npos) << r.output;
  // The entry in Programs and Features names a whole set; with no record
  // left, the one installed.
  if (machine.has_entry()) {
    EXPECT_GE(machine.recovered_version(), 0) << "an entry without its files\n" << r.output;
    EXPECT_TRUE(machine.has_record() || found >= 0) << "an entry over files not whole\n" << r.output;
  }
  if (r.exit_code == 0) {
    EXPECT_EQ(machine.entry_text(L"DisplayVersion"), L"" BRQ_VERSION_TEXT);
    EXPECT_EQ(machine.entry_text(L"QuietUninstallString"), L"\"" + installed_path(removal_program) + L"\"");
  }
  if (const fake_service_manager::service* idle = machine.services().find(L"QZV.Idle")) {
    EXPECT_EQ(idle->state, static_cast<DWORD>(SERVICE_STOPPED)) << "a stopped service started\n" << r.output;
  }
}

int failure_count() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

void sweep_calls(const std::vector<fault_driver::call>& clean, disruption what, const std::string& name,
                 const std::function<outcome(size_t n, DWORD error)>& disrupted) {
  bool fault = what == disruption::fault;
  size_t failing_runs = 0, failed = 0, reached = 0;
  for (size_t n = 1; n <= clean.size() && failing_runs <= 40; ++n) {
    if (fault && !clean[n - 1].can_fail) continue;
    DWORD usual = fault ? fault_driver::usual_error(clean[n - 1].function) : 0;
    for (DWORD error : {usual, DWORD{0}}) {
      SCOPED_TRACE(name + ", call " + std::to_string(n) + " (" + clean[n - 1].function + ")" +
                   (fault ? " failing with " + std::to_string(error) : ""));
      int parts_before = failure_count();
      outcome r = disrupted(n, error);
      failed += r.failures;
      reached += error == usual && r.calls.size() >= n;
      if (failure_count() != parts_before) ++failing_runs;
      if (usual == 0) break;
    }
  }
  // Every call it falls on was disrupted, in a run that got as far as it.
  auto calls = fault ? std::ranges::count_if(clean, &fault_driver::call::can_fail) : std::ssize(clean);
  EXPECT_TRUE(failing_runs > 40 || reached == static_cast<size_t>(calls))
      << "calls disrupted: " << reached << " of " << calls;
  std::printf("%s: %zu calls in the run, %zu calls failed\n", name.c_str(), clean.size(), failed);
}

void expect_completed_by_next_run(sweep_case& machine) {
  outcome next = machine.run(2);
  EXPECT_EQ(next.exit_code, 0) << next.output;
  EXPECT_EQ(machine.installed_version(), 2);
  EXPECT_TRUE(machine.server_as_left()) << next.output;
  for (const std::wstring& name : machine.others()) ADD_FAILURE() << "left behind: " << wide_to_utf8(name);
}

bool ignored_by_design(const std::vector<fault_driver::call>& calls, size_t n) {
  static const std::set<std::string_view> binding = {"LoadLibraryExW", "GetProcAddress", "GetSystemDirectoryW",
                                                     "GetLastError", "SetLastError"};
  std::string_view function = calls[n - 1].function;
  if (calls_ignored_by_design.contains(function)) return true;
  if (!binding.contains(function)) return false;
  size_t bound = n - 1;
  while (bound > 0 && binding.contains(calls[bound - 1].function)) --bound;
  return bound > 0 && !calls[bound - 1].can_fail;
}

void expect_failure_not_reported_as_ok(const outcome& r) {
  size_t line_start = r.output.rfind('\n', r.output_at_failure == 0 ? 0 : r.output_at_failure - 1);
  line_start = line_start == std::string::npos ? 0 : line_start + 1;
  if (line_start == r.output_at_failure) return;  // no line was open
  size_t line_end = r.output.find('\n', r.output_at_failure);
  std::string line = r.output.substr(line_start, line_end - line_start);
  // Asked again, and the later call succeeded where the failed one did not.
  std::string_view function = r.calls[r.failed_at - 1].function;
  auto retry = retried_by_design.find(function);
  bool asked_again = retry != retried_by_design.end() && retry->second == r.error &&
                     std::any_of(r.calls.begin() + static_cast<std::ptrdiff_t>(r.failed_at), r.calls.end(),
                                 [&](const auto& call) { return function == call.function; });
  if (asked_again) return;
  EXPECT_FALSE(line.ends_with("ok")) << "reported as a success: \"" << line << "\"\n" << r.output;
}

}  // namespace brq_install::test
