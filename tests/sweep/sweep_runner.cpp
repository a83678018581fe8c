#include "sweep_runner.hpp"

#include <winternl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

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

std::wstring destination() { return program_files + L"\\Quorvanta\\QZV.UA\\brq"; }
std::wstring installed_path(int i) { return destination() + L"\\" + file_names[i]; }

// Puts the destination as a case starts from: missing for a first
// installation, holding the three files of version 0 for an update. Only
// what the last case changed is made again.
void prepare_destination(bool update) {
  if (!update) {
    fs::remove_all(fs::path(program_files) / "Quorvanta");
    return;
  }
  fs::create_directories(fs::path(destination()));
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(destination()))) {
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
    const char* argv[] = {"qzv.ua.brq.install", nullptr};
    try {
      result.exit_code = brq_install::run(1, argv);
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
                     [&](const std::wstring& name) { return path == destination() + L"\\" + name; })) {
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

}  // namespace brq_install::test
