#pragma once
// Named mutexes in memory, installed through the platform table in place of
// the functions the installation's lock calls. As in Windows, a mutex lives
// while a handle to it is open, in this process or (`other_handles`) in
// others; one owner at a time, which may wait for it again; and what
// GetSecurityInfo reports as its owner is the account `owner` names.
#include <windows.h>

#include <map>
#include <string>

#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

class fake_named_mutex : public fake_handles<HANDLE, std::wstring> {
 public:
  struct object {
    WELL_KNOWN_SID_TYPE owner = WinBuiltinAdministratorsSid;
    int other_handles = 0;        // handles of other processes
    bool owned_by_other = false;  // a wait for it times out
    int owned = 0;                // by this process, how many times over
  };

  // Replaces CreateMutexExW, WaitForSingleObject, ReleaseMutex,
  // GetSecurityInfo and CloseHandle until the end of the scope; the last
  // three, given a handle not made here, go to the entry that was there.
  fake_named_mutex();
  ~fake_named_mutex();
  fake_named_mutex(const fake_named_mutex&) = delete;
  fake_named_mutex& operator=(const fake_named_mutex&) = delete;

  std::map<std::wstring, object> objects;  // by name

  static fake_named_mutex* current;
  const win::platform_table previous;  // the table as the fake found it

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
