#pragma once
// A service manager in memory, installed through the platform table in place
// of the service functions the installer calls. Services have a configuration
// and a state that moves over the fake clock: a stop or a start may stay
// pending for a while, forever, or end in failure. Access rights are checked
// as the system checks them, every handle is counted, and at its end the fake
// checks that every handle it gave out was closed once.
#include <windows.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fake_clock.hpp"
#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

// What a service manager handle was opened for.
struct service_handle {
  bool manager;
  std::wstring name;  // of the service
  DWORD access;
};

class fake_service_manager : public fake_handles<SC_HANDLE, service_handle> {
 public:
  static constexpr DWORD never = INFINITE;           // a pending state that does not end
  static constexpr DWORD default_process_id = 3300;  // the process every service runs in

  struct service {
    // Configuration, as QueryServiceConfigW reports it.
    std::wstring name;          // the key name; compared without regard to case
    std::wstring display_name;  // the key name when left empty
    std::wstring command_line;  // the image path with its arguments
    DWORD service_type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start_type = SERVICE_AUTO_START;
    DWORD error_control = SERVICE_ERROR_NORMAL;
    std::wstring account = L"LocalSystem";
    std::wstring description;
    // Its recovery, as ChangeServiceConfig2W set it: "reset <s>", each
    // action ", restart <ms>" or ", none", and "; on error exit" when the
    // actions also follow a stop with an exit code other than 0.
    std::wstring recovery;
    std::wstring load_order_group;
    DWORD tag_id = 0;
    // The services it depends on, by name: EnumDependentServicesW lists it
    // among theirs, and none of them stops while it is active (1051).
    std::vector<std::wstring> dependencies;
    std::wstring password;  // as given to CreateServiceW

    // Status. While running or paused the service accepts
    // `controls_accepted`; while pending it reports `wait_hint` and a check
    // point that advances every `check_point_ms` (0: it stays at 1).
    DWORD state = SERVICE_STOPPED;
    DWORD controls_accepted = SERVICE_ACCEPT_STOP;
    DWORD wait_hint = 0;
    DWORD check_point_ms = 0;
    // The id QueryServiceStatusEx reports while the service is not stopped.
    // The fake keeps no process: a test that needs one to exist adds it to
    // a fake_process_table.
    DWORD process_id = default_process_id;

    // Script: how long a stop or a start stays pending (0: done at once,
    // `never`), and whether a start ends stopped instead of running. A
    // service added in a pending state ends it by the same times.
    DWORD stop_ms = 0;
    DWORD start_ms = 0;
    bool start_fails = false;
    // DeleteService marks it; it goes once stopped and closed. CreateServiceW
    // of its name then fails with 1072.
    bool marked_for_delete = false;

    // Calls that fail with the given code; 0: none. `denied_access` holds
    // the rights OpenServiceW refuses with ERROR_ACCESS_DENIED.
    DWORD open_error = 0;
    DWORD denied_access = 0;
    DWORD config_error = 0;  // the query with a big enough buffer
    DWORD status_error = 0;  // QueryServiceStatus and QueryServiceStatusEx
    DWORD control_error = 0;
    DWORD start_error = 0;
    DWORD dependents_error = 0;  // EnumDependentServicesW with a big enough buffer
    DWORD delete_error = 0;

    // Kept by the fake: the pending state's start, length and end state.
    DWORD pending_since = 0;
    DWORD pending_ms = 0;
    DWORD pending_end = 0;
  };

  // Replaces the service functions until the end of the scope. States move
  // by `clock`.
  explicit fake_service_manager(fake_clock& clock);
  ~fake_service_manager();
  fake_service_manager(const fake_service_manager&) = delete;
  fake_service_manager& operator=(const fake_service_manager&) = delete;

  // Appends a service, listed after those before it. A pending state starts
  // now. The reference stays valid until the next add or creation.
  service& add(service s);
  service* find(std::wstring_view name);  // null when there is none
  service& at(std::wstring_view name);    // fails the test when there is none

  std::vector<service> services;  // in the order EnumServicesStatusW lists them

  // Whole-manager behaviour.
  DWORD open_error = 0;      // OpenSCManagerW fails with this
  DWORD denied_access = 0;   // rights OpenSCManagerW refuses with ERROR_ACCESS_DENIED
  DWORD enum_error = 0;      // EnumServicesStatusW fails with this
  DWORD create_error = 0;    // CreateServiceW fails with this
  DWORD describe_error = 0;  // ChangeServiceConfig2W fails with this
  DWORD recover_error = 0;   // and this, for the failure actions
  // Wine's EnumServicesStatusW: it ignores the resume handle and leaves it
  // as it was, lists from the first service every time as many as fit, and
  // reports as needed the size of the whole list.
  bool wine_enumeration = false;

  // What was asked.
  std::vector<DWORD> manager_access;                           // every OpenSCManagerW
  std::vector<std::pair<std::wstring, DWORD>> service_access;  // every OpenServiceW: name, rights
  std::vector<DWORD> enum_sizes;                               // every EnumServicesStatusW: buffer size
  std::vector<DWORD> enum_resumes;                             // ... and resume handle passed in
  std::vector<std::wstring> requests;  // "stop NAME", "start NAME", "create NAME", "describe NAME", "delete NAME"

  static fake_service_manager* current;

  // For the fake's own functions.
  void settle(service& s);  // ends a pending state whose time is up
  SERVICE_STATUS status_of(service& s);
  void start_pending(service& s, DWORD state, DWORD ms, DWORD end_state);

 private:
  fake_clock& clock_;
  std::unordered_map<std::wstring, size_t> index_;  // upper-case name -> position
  scoped_platform saved_;
};

}  // namespace brq_install::test
