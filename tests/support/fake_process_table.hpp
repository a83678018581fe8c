#pragma once
// A table of processes in memory, installed through the platform table in
// place of the process functions the installer calls. Each process has an id
// and the path of its main module; the paths are best real files (a
// temp_tree), so that the installer's comparison by file identity works on
// them unchanged. Access rights are checked, every process handle is
// counted, and at its end the fake checks that each was closed once. The
// caller's token is faked too, for SeDebugPrivilege: as in Windows, another
// user's process opens only while the privilege is enabled.
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

// What a process handle was opened for.
struct process_handle {
  DWORD id;
  DWORD access;
};

class fake_process_table : public fake_handles<HANDLE, process_handle> {
 public:
  struct process {
    DWORD id = 0;
    std::wstring module;  // the main module's path
    // Calls that fail with the given code; 0: none. `denied_access` holds
    // the rights OpenProcess refuses with ERROR_ACCESS_DENIED.
    DWORD open_error = 0;
    DWORD denied_access = 0;
    DWORD module_error = 0;
    DWORD terminate_error = 0;
    bool other_user = false;  // another account's: needs SeDebugPrivilege
    // Kept by the fake: ended by TerminateProcess, with this exit code.
    bool ended = false;
    UINT exit_code = 0;
    // An ended process whose object another program still holds open (as
    // the service manager holds its services' processes): OpenProcess
    // succeeds, and a wait for it is satisfied at once.
    bool held = false;
  };

  // Replaces the process functions, CloseHandle and WaitForSingleObject
  // until the end of the scope; those two, given a handle not made here, go
  // to the entry that was in the table before. A process ends only by
  // TerminateProcess, so a wait for one still running times out at once.
  fake_process_table();
  ~fake_process_table();
  fake_process_table(const fake_process_table&) = delete;
  fake_process_table& operator=(const fake_process_table&) = delete;

  // Appends a process, listed after those before it. The reference stays
  // valid until the next add.
  process& add(DWORD id, std::wstring module);
  process* find(DWORD id);  // null when there is none

  std::vector<process> processes;  // in the order K32EnumProcesses lists them
  // The process that runs the test, as GetCurrentProcessId and
  // GetModuleFileNameW tell it: one of them, or (0) none of them, which
  // leaves GetModuleFileNameW to the real process.
  DWORD self = 0;
  bool holds_debug_privilege = true;  // as an elevated administrator's token does
  bool debug_enabled = false;         // SeDebugPrivilege, now
  DWORD enum_error = 0;               // K32EnumProcesses fails with this
  // Runs at every OpenProcess before it looks the id up, with the id and the
  // rights asked for: a test may change the table here, say to let an id be
  // reused by another program.
  std::function<void(DWORD id, DWORD access)> on_open;

  // What was asked.
  std::vector<DWORD> enum_sizes;                   // every K32EnumProcesses: buffer size in bytes
  std::vector<std::pair<DWORD, DWORD>> opens;      // every OpenProcess: id, rights
  std::vector<std::pair<DWORD, UINT>> terminated;  // every process ended: id, exit code

  static fake_process_table* current;

  decltype(win::api.CloseHandle) previous_close;
  decltype(win::api.WaitForSingleObject) previous_wait;

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
