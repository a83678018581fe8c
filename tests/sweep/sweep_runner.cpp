#include "sweep_runner.hpp"

#include <winternl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string_view>

#include "cancellation.hpp"
#include "console/console.hpp"
#include "fake_clock.hpp"
#include "fake_firewall.hpp"
#include "fake_payloads.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "files.hpp"
#include "ledger.hpp"
#include "run.hpp"
#include "uninstall.hpp"

namespace brq_install::test {

namespace {

using win::api;
namespace fs = std::filesystem;

const std::wstring file_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"};

// "ProgramFiles" names the sweep's directory; every other variable is real.
std::wstring program_files;
DWORD WINAPI fake_environment(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (std::wstring_view(name) != L"ProgramFiles") return win::real_api.GetEnvironmentVariableW(name, buffer, size);
  auto length = static_cast<DWORD>(program_files.size());
  if (size <= length) return length + 1;
  std::copy(program_files.begin(), program_files.end(), buffer);
  buffer[length] = L'\0';
  return length;
}

// The identity of a file from its index alone: Wine reads the volume's serial
// number at every GetFileInformationByHandle, which costs milliseconds, and
// every file of the sweep is on one volume.
BOOL WINAPI file_identity(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  IO_STATUS_BLOCK status{};
  FILE_INTERNAL_INFORMATION index{};
  if (NtQueryInformationFile(file, &status, &index, sizeof index, FileInternalInformation) != 0) {
    return win::real_api.GetFileInformationByHandle(file, info);
  }
  *info = {};
  info->dwVolumeSerialNumber = 0x5EE9;
  info->nFileIndexHigh = static_cast<DWORD>(index.IndexNumber.QuadPart >> 32);
  info->nFileIndexLow = static_cast<DWORD>(index.IndexNumber.QuadPart);
  return TRUE;
}

std::wstring destination_path() { return program_files + L"\\Quorvanta\\QZV.UA\\brq"; }
std::wstring installed_path(int i) { return destination_path() + L"\\" + file_names[i]; }

// Puts the destination as a case starts from: missing for a first
// installation, holding the three files of version 0 for an update. Only
// what the last case changed is made again.
void prepare_destination(bool update) {
  if (!update) {
    fs::remove_all(fs::path(program_files) / "Quorvanta");
    return;
  }
  fs::create_directories(fs::path(destination_path()));
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(destination_path()))) {
    if (std::find(std::begin(file_names), std::end(file_names), entry.path().filename().wstring()) ==
        std::end(file_names)) {
      fs::remove_all(entry.path());
    }
  }
  for (int i = 0; i < 3; ++i) {
    std::string old = payload_bytes(i, 0);
    if (read_file(installed_path(i)) != old) std::ofstream(fs::path(installed_path(i)), std::ios::binary) << old;
  }
}

// The calls whose failure the product ignores by design: a progress line
// open while one of them fails may still end in "ok".
const std::map<std::string_view, std::string_view> calls_ignored_by_design = {
    {"GetStdHandle", "console handle: without it the text goes out as UTF-8 bytes, without colour"},
    {"GetConsoleMode", "console test: without a console the text goes out as UTF-8 bytes"},
    {"SetConsoleTextAttribute", "console attribute: a failure only loses the colour"},
    {"WriteConsoleW", "output write: there is nowhere left to report it"},
    {"WideCharToMultiByte", "output conversion: there is nowhere left to report it"},
    {"fwrite", "output write: there is nowhere left to report it"},
    {"fflush", "output write: there is nowhere left to report it"},
    {"CloseHandle", "closing: the work is done, nothing is left to undo"},
    {"CloseServiceHandle", "closing: the work is done, nothing is left to undo"},
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
};

}  // namespace

std::string payload_bytes(int file, int version) {
  static const char* const programs[] = {"server", "control tool", "developer tool"};
  return std::string(programs[file]) + " version " + std::to_string(version);
}

struct sweep_case::system {
  fake_clock clock;
  fake_firewall firewall;
  fake_service_manager services{clock};
  fake_process_table processes;
  scoped_override<decltype(api.GetEnvironmentVariableW)> environment{api.GetEnvironmentVariableW, &fake_environment};
  scoped_override<decltype(api.GetFileInformationByHandle)> identity{api.GetFileInformationByHandle, &file_identity};
};

sweep_case::sweep_case(bool update) {
  prepare_destination(update);
  system_ = std::make_unique<system>();
  if (update) {
    system_->services.add({.name = L"QZVOPCUA.BRQ",
                           .display_name = L"qzv OPCUA server for BRQ",
                           .command_line = L"\"" + installed_path(0) + L"\"",
                           .state = SERVICE_RUNNING,
                           .wait_hint = 2000,
                           .stop_ms = 3000,
                           .start_ms = 2000});
    system_->processes.add(4242, installed_path(1));
    system_->firewall.existing = fake_firewall::entry::enabled;
  }
}

sweep_case::~sweep_case() = default;

outcome sweep_case::run(int version, disruption what, size_t n, DWORD error) {
  return run_program(&brq_install::run, version, what, n, error);
}

outcome sweep_case::remove(disruption what, size_t n, DWORD error) {
  return run_program(&brq_install::uninstall, 2, what, n, error);
}

std::wstring sweep_case::destination() { return destination_path(); }
fake_service_manager& sweep_case::services() { return system_->services; }
fake_process_table& sweep_case::processes() { return system_->processes; }
fake_firewall& sweep_case::firewall() { return system_->firewall; }

std::string sweep_case::remains() const {
  std::string left;
  if (fs::exists(fs::path(program_files) / "Quorvanta")) left += "the Quorvanta directory; ";
  if (system_->services.find(L"QZVOPCUA.BRQ") != nullptr) left += "the service QZVOPCUA.BRQ; ";
  if (system_->firewall.existing != fake_firewall::entry::absent) left += "the firewall exception; ";
  return left;
}

outcome sweep_case::run_program(int (*program)(int, const char* const*), int version, disruption what, size_t n,
                                DWORD error) {
  console_recorder console;
  fake_payloads payloads;
  for (int i = 0; i < 3; ++i) payloads.add(static_cast<uint16_t>(101 + i), zlib_stream(payload_bytes(i, version)));

  // The steps in their order: a run that ends processes does so only once
  // the services of their files are stopped.
  system_->processes.on_open = [this, what](DWORD, DWORD access) {
    fake_service_manager::service* server = system_->services.find(L"QZVOPCUA.BRQ");
    if ((access & PROCESS_TERMINATE) == 0 || what != disruption::none || server == nullptr) return;
    system_->services.settle(*server);
    EXPECT_EQ(server->state, static_cast<DWORD>(SERVICE_STOPPED)) << "a process ended while its service runs";
  };
  win::platform_table below_driver = api;
  std::string unbalanced;
  outcome result;
  {
    fault_driver faults;
    ledger books(faults, below_driver);
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
      if (what == disruption::cancel) faults.at_call(n, &brq_install::request_cancel);
    }
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
  result.output = console.text();
  result.runs = console.runs();
  result.attribute_after = console.attribute();

  EXPECT_EQ(unbalanced, "");
  EXPECT_EQ(system_->firewall.co_initialize_calls, system_->firewall.co_uninitialize_calls) << "COM apartment not left";
  return result;
}

int sweep_case::installed_version() const {
  std::set<int> versions;
  for (int i = 0; i < 3; ++i) {
    std::string bytes = read_file(installed_path(i));
    int version = -1;
    for (int v = 0; v <= 2; ++v) {
      if (bytes == payload_bytes(i, v)) version = v;
    }
    if (version == -1 && GetFileAttributesW(installed_path(i).c_str()) != INVALID_FILE_ATTRIBUTES) return -2;
    versions.insert(version);
  }
  return versions.size() == 1 ? *versions.begin() : -2;
}

std::vector<std::wstring> sweep_case::others() const {
  std::vector<std::wstring> found;
  if (!fs::exists(fs::path(program_files))) return found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fs::path(program_files))) {
    if (entry.is_directory()) continue;
    std::wstring path = entry.path().wstring();
    if (std::none_of(std::begin(file_names), std::end(file_names),
                     [&](const std::wstring& name) { return path == destination_path() + L"\\" + name; })) {
      found.push_back(entry.path().filename().wstring());
    }
  }
  return found;
}

bool sweep_case::server_running() const {
  fake_service_manager::service* server = system_->services.find(L"QZVOPCUA.BRQ");
  if (server == nullptr) return false;
  system_->services.settle(*server);
  return server->state == SERVICE_RUNNING;
}

void expect_completed_by_next_run(sweep_case& machine) {
  outcome next = machine.run(2);
  EXPECT_EQ(next.exit_code, 0) << next.output;
  EXPECT_EQ(machine.installed_version(), 2);
  EXPECT_TRUE(machine.server_running()) << next.output;
  for (const std::wstring& name : machine.others()) ADD_FAILURE() << "left behind: " << wide_to_utf8(name);
}

// The sweep's "ProgramFiles": in memory (Linux's tmpfs at /dev/shm, on
// Wine's drive Z:) where there is one, since a disk's flushes of the files
// that every run writes and moves would take most of the sweep's time;
// otherwise in the temporary directory.
sweep_directory::sweep_directory() {
  DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
  in_memory_ = shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY) != 0;
  program_files = in_memory_ ? L"Z:\\dev\\shm\\brq-sweep-" + std::to_wstring(GetCurrentProcessId())
                             : temp_file_path() + L".d";
  CreateDirectoryW(program_files.c_str(), nullptr);
}

sweep_directory::~sweep_directory() {
  std::error_code ignored;
  fs::remove_all(fs::path(program_files), ignored);
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
