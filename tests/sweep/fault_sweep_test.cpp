// Whole runs of the installer with one platform call failing: for every call
// N of a first installation and of an update, the run is repeated with call N
// failing, once with the function's usual error code and once with the last
// error left at 0, and each time the run must fail cleanly: nothing thrown,
// everything released, the exit code matching what was printed, no failure
// reported as "ok", every installed file whole.
#include <gtest/gtest.h>
#include <winternl.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "fake_clock.hpp"
#include "fake_firewall.hpp"
#include "fake_payloads.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "fault_driver.hpp"
#include "files.hpp"
#include "run.hpp"

namespace brq_install {
namespace {

using win::api;
namespace fs = std::filesystem;

// The calls whose failure the product ignores by design: a progress line
// open while one of them fails may still end in "ok".
const std::map<std::string_view, std::string_view> ignored_by_design = {
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
    // And a DLL loaded for a function that returns nothing (ignored() below).
};

// Whether call n of the log fails by design without a trace on the console:
// listed above, or part of binding a lazy function that returns nothing (a
// BSTR freed, COM left), whose caller cannot tell.
bool ignored(const std::vector<testing::fault_driver::call>& calls, size_t n) {
  static const std::set<std::string_view> binding = {"LoadLibraryExW", "GetProcAddress", "GetSystemDirectoryW",
                                                     "GetLastError", "SetLastError"};
  std::string_view function = calls[n - 1].function;
  if (ignored_by_design.contains(function)) return true;
  if (!binding.contains(function)) return false;
  size_t bound = n - 1;
  while (bound > 0 && binding.contains(calls[bound - 1].function)) --bound;
  return bound > 0 && !calls[bound - 1].can_fail;
}

// The failures the product answers by making the same call again, by their
// code: the line open while one of them fails may end in "ok" once a later
// call succeeds.
const std::map<std::string_view, DWORD> retried_by_design = {
    {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},  // a service that takes no control for now
};

const std::string old_bytes[] = {"old server", "old control tool", "old developer tool"};
const std::string new_bytes[] = {"server 1.0.0.0", "control tool 1.0.0.0", "developer tool 1.0.0.0"};
const std::wstring file_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe"};

// What the product acquires, counted against what it gives back, by value.
// It lies over the fault driver, so that a release the driver failed counts
// as given back; that release is then done for real below the driver, so
// that the test process keeps nothing.
struct ledger {
  using values = std::multiset<const void*>;
  values handles, service_handles, locals;
  int bad_releases = 0;
  win::platform_table below_driver;  // the fakes and the real functions
  win::platform_table driver;        // the driver's shims
  testing::fault_driver* faults = nullptr;

  bool empty() const { return handles.empty() && service_handles.empty() && locals.empty(); }
  void released(values& set, const void* value) {
    auto it = set.find(value);
    if (it == set.end()) {
      ++bad_releases;
    } else {
      set.erase(it);
    }
  }
};
ledger* books = nullptr;

template <typename Function>
struct counted;

template <typename Result, typename... Args>
struct counted<Result (*)(Args...)> {
  // A call that hands out a value, `failure` when it fails.
  template <auto slot, ledger::values ledger::*set, uintptr_t failure>
  static Result WINAPI acquire(Args... args) {
    Result value = (books->driver.*slot)(args...);
    if (value != reinterpret_cast<Result>(failure)) (books->*set).insert(value);
    return value;
  }
  // A call that gives a value back.
  template <auto slot, ledger::values ledger::*set>
  static Result WINAPI release(Args... args) {
    size_t failures = books->faults->failures;
    Result result = (books->driver.*slot)(args...);
    if (books->faults->failures != failures) (books->below_driver.*slot)(args...);
    books->released(books->*set, args...);
    return result;
  }
};

template <auto slot, ledger::values ledger::*set, uintptr_t failure = 0>
void acquires() {
  api.*slot = &counted<std::remove_reference_t<decltype(api.*slot)>>::template acquire<slot, set, failure>;
}

template <auto slot, ledger::values ledger::*set>
void releases() {
  api.*slot = &counted<std::remove_reference_t<decltype(api.*slot)>>::template release<slot, set>;
}

void install_ledger(ledger& l) {
  using table = win::platform_table;
  books = &l;
  l.driver = api;
  acquires<&table::CreateFileW, &ledger::handles, static_cast<uintptr_t>(-1)>();
  acquires<&table::CreateMutexExW, &ledger::handles>();
  acquires<&table::OpenProcess, &ledger::handles>();
  releases<&table::CloseHandle, &ledger::handles>();
  acquires<&table::OpenSCManagerW, &ledger::service_handles>();
  acquires<&table::OpenServiceW, &ledger::service_handles>();
  acquires<&table::CreateServiceW, &ledger::service_handles>();
  releases<&table::CloseServiceHandle, &ledger::service_handles>();
  acquires<&table::CommandLineToArgvW, &ledger::locals>();
  releases<&table::LocalFree, &ledger::locals>();
  api.FormatMessageW = [](DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size,
                          va_list* arguments) {
    DWORD length = books->driver.FormatMessageW(flags, source, id, language, buffer, size, arguments);
    if (length != 0 && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
      books->locals.insert(*reinterpret_cast<wchar_t**>(buffer));
    }
    return length;
  };
}

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

// The sweep's "ProgramFiles": in memory (Linux's tmpfs at /dev/shm, on
// Wine's drive Z:) where there is one, since a disk's flushes of the files
// that every run writes and moves would take most of the sweep's time;
// otherwise in the temporary directory.
class sweep_directory {
 public:
  sweep_directory() {
    DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
    if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      program_files = L"Z:\\dev\\shm\\brq-sweep-" + std::to_wstring(GetCurrentProcessId());
      CreateDirectoryW(program_files.c_str(), nullptr);
    } else {
      fallback_.emplace();
      program_files = fallback_->path();
    }
  }
  ~sweep_directory() {
    if (!fallback_) fs::remove_all(fs::path(program_files));
  }

 private:
  std::optional<testing::temp_tree> fallback_;
};

// Puts the destination as a run of the scenario finds it: missing for a
// first installation, holding the three old files for an update. Only what
// the last run changed is made again.
void restore(bool update, const std::wstring& destination) {
  if (!update) {
    fs::remove_all(fs::path(program_files) / "Quorvanta");
    return;
  }
  fs::create_directories(fs::path(destination));
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(destination))) {
    if (std::find(std::begin(file_names), std::end(file_names), entry.path().filename().wstring()) ==
        std::end(file_names)) {
      fs::remove_all(entry.path());
    }
  }
  for (int i = 0; i < 3; ++i) {
    std::wstring path = destination + L"\\" + file_names[i];
    if (testing::read_file(path) != old_bytes[i]) std::ofstream(fs::path(path), std::ios::binary) << old_bytes[i];
  }
}

struct outcome {
  int exit_code = -1;
  bool threw = false;
  std::string output;
  std::vector<testing::console_recorder::run> runs;
  WORD attribute_after = 0;  // the console's attribute when the run ended
  size_t output_at_failure = 0;  // how much had been printed when the call failed
  size_t failed_at = 0;          // its number, from 1; 0: none failed
  DWORD error = 0;               // the last error it failed with
  std::vector<testing::fault_driver::call> calls;
  size_t failures = 0;
};

// One whole run on a system in the state of a first installation or of an
// update, with call `n` failing (0: none). Checks that everything acquired
// was given back and that every installed file is whole.
outcome run_with_fault(bool update, size_t n, DWORD error) {
  const std::wstring destination = program_files + L"\\Quorvanta\\QZV.UA\\brq";
  auto installed = [&](int i) { return destination + L"\\" + file_names[i]; };
  restore(update, destination);

  testing::console_recorder console;
  testing::fake_clock clock;
  testing::fake_payloads payloads;
  for (int i = 0; i < 3; ++i) payloads.add(static_cast<uint16_t>(101 + i), testing::zlib_stream(new_bytes[i]));
  testing::fake_firewall firewall;
  testing::fake_service_manager services(clock);
  testing::fake_process_table processes;
  testing::scoped_override environment(api.GetEnvironmentVariableW, &fake_environment);

  testing::scoped_override identity(api.GetFileInformationByHandle, &file_identity);
  if (update) {
    services.add({.name = L"QZVOPCUA.BRQ",
                  .display_name = L"qzv OPCUA server for BRQ",
                  .command_line = L"\"" + installed(0) + L"\"",
                  .state = SERVICE_RUNNING,
                  .wait_hint = 2000,
                  .stop_ms = 3000,
                  .start_ms = 2000});
    processes.add(4242, installed(1));
    firewall.existing = testing::fake_firewall::entry::enabled;
  }

  ledger books_of_run;
  books_of_run.below_driver = api;
  outcome result;
  {
    testing::fault_driver faults;
    books_of_run.faults = &faults;
    install_ledger(books_of_run);
    faults.fail(n, error);
    faults.on_failure = [&](const char*) {
      result.output_at_failure = console.text().size();
      result.failed_at = faults.calls.size();
      result.error = error;
    };
    const char* argv[] = {"qzv.ua.brq.install", nullptr};
    try {
      result.exit_code = run(1, argv);
    } catch (...) {
      result.threw = true;
    }
    result.calls = std::move(faults.calls);
    result.failures = faults.failures;
  }
  result.output = console.text();
  result.runs = console.runs();
  result.attribute_after = console.attribute();

  EXPECT_TRUE(books_of_run.empty()) << "kernel handles " << books_of_run.handles.size() << ", service handles "
                                    << books_of_run.service_handles.size() << ", local memory "
                                    << books_of_run.locals.size() << " still held";
  EXPECT_EQ(books_of_run.bad_releases, 0) << "released what was not acquired";
  EXPECT_EQ(firewall.co_initialize_calls, firewall.co_uninitialize_calls) << "COM apartment not left";

  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fs::path(program_files))) {
    if (entry.is_directory()) continue;
    std::wstring path = entry.path().wstring();
    int i = 0;
    while (i < 3 && path != installed(i)) ++i;
    if (i == 3) {
      ADD_FAILURE() << "left behind: " << entry.path().string();
      continue;
    }
    std::string bytes = testing::read_file(path);
    EXPECT_TRUE(bytes == new_bytes[i] || (update && bytes == old_bytes[i]))
        << entry.path().string() << " holds \"" << bytes << "\"";
    if (result.exit_code == 0) {
      EXPECT_EQ(bytes, new_bytes[i]) << "after exit code 0";
    }
  }
  return result;
}

// What the run printed agrees with how it ended, and the failed call is not
// reported as a success.
void check_output(const outcome& r) {
  EXPECT_FALSE(r.threw) << "an exception left run()";
  auto first_error = std::find_if(r.runs.begin(), r.runs.end(), [](const auto& run) { return run.attribute == color_error; });
  bool error_block = first_error != r.runs.end();
  // A service that cannot be started again ends the run with exit code 1
  // after its warning block.
  size_t start_step = r.output.find("Will start services...\n");
  bool start_failed = start_step != std::string::npos &&
                      r.output.find("Will attempt to continue...\n", start_step) != std::string::npos;
  EXPECT_EQ(r.exit_code, error_block || start_failed ? 1 : 0) << r.output;
  for (auto run = first_error; run != r.runs.end(); ++run) {
    EXPECT_EQ(run->attribute, color_error) << "printed after the error block: " << run->text;
  }
  if (r.failed_at == 0 || ignored(r.calls, r.failed_at)) return;
  EXPECT_EQ(r.attribute_after, testing::console_recorder::plain) << "the console's colour was not restored";
  if (!error_block) {
    EXPECT_NE(start_step, std::string::npos) << "the run did not go on to the end:\n" << r.output;
  }

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

int failure_count() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

// Fails every call of a whole run in turn, with its usual code and with 0.
void sweep(bool update, const char* name) {
  sweep_directory root;
  outcome clean = run_with_fault(update, 0, 0);
  ASSERT_EQ(clean.exit_code, 0) << clean.output;
  check_output(clean);
  size_t failed = 0, failing_runs = 0;
  for (size_t n = 1;; ++n) {
    if (n <= clean.calls.size() && !clean.calls[n - 1].can_fail) continue;
    const char* function = n <= clean.calls.size() ? clean.calls[n - 1].function : "";
    DWORD usual = testing::fault_driver::usual_error(function);
    bool reached = true;
    for (DWORD error : {usual, DWORD{0}}) {
      SCOPED_TRACE(std::string(name) + ", call " + std::to_string(n) + " (" + function + ") failing with " +
                   std::to_string(error));
      int parts_before = failure_count();
      outcome r = run_with_fault(update, n, error);
      reached = r.calls.size() >= n;
      if (!reached) break;
      failed += r.failures;
      check_output(r);
      if (failure_count() != parts_before) ++failing_runs;
      if (usual == 0) break;
    }
    if (!reached || failing_runs > 40) break;
  }
  std::printf("%s: %zu calls in the run, %zu calls failed\n", name, clean.calls.size(), failed);
}

TEST(fault_sweep, first_installation) { sweep(false, "first installation"); }
TEST(fault_sweep, update) { sweep(true, "update"); }

}  // namespace
}  // namespace brq_install
