#pragma once
// Named mutexes in memory, installed through the platform table in place of
// the functions the installation's lock calls. As in Windows, a mutex lives
// while a handle to it is open, in this process or (`other_handles`) in
// others; one process owns it at a time, and may wait for it again. Its
// security is an owner and a DACL: a creator may name as owner only a SID of
// its token (else ERROR_INVALID_OWNER), without a descriptor it gets its
// token's defaults, and opening it checks the DACL as the system does, with
// the mutex's generic mapping and READ_CONTROL for its owner.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "fake_clock.hpp"
#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

class fake_named_mutex : public fake_handles<HANDLE, std::wstring> {
 public:
  // Who runs the program, as its access token says: the SIDs it may name as
  // an owner (Everyone is implied too), and the owner and DACL its objects
  // get by default, in SDDL.
  struct account {
    std::vector<std::wstring> sids;
    std::wstring default_security;
  };
  static const account elevated_administrator;  // default owner BUILTIN\Administrators
  static const account object_creator;          // another administrator, under the policy "Object creator"
  static const account local_system;            // an agent's service, in session 0

  struct object {
    std::wstring security = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";  // no "O:": no owner, as Wine tells
    int other_handles = 0;                                      // handles of other processes
    int owner_process = 0;  // the process that owns it (0: none); others' waits time out
    int owned = 0;          // how many times over
  };

  // Replaces CreateMutexExW, WaitForSingleObject, ReleaseMutex,
  // GetSecurityInfo and CloseHandle until the end of the scope; the last
  // three, given a handle not made here, go to the entry that was there.
  fake_named_mutex();
  ~fake_named_mutex();
  fake_named_mutex(const fake_named_mutex&) = delete;
  fake_named_mutex& operator=(const fake_named_mutex&) = delete;

  std::map<std::wstring, object> objects;  // by name
  account caller = elevated_administrator;
  int process = 1;              // the process that calls
  fake_clock* clock = nullptr;  // when set, a wait that times out advances it

  static fake_named_mutex* current;
  const win::platform_table previous;  // the table as the fake found it

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
