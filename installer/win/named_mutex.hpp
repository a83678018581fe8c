#pragma once
// Named mutexes: one owner at a time across every process of the machine.
#include <windows.h>

#include "win/unique.hpp"

namespace brq_install::win {

// Opens the mutex `name`, creating it when it does not exist, with just the
// rights to wait for it and release it (so that a mutex created by another
// account opens too). Returns 0 or the code of the failed call.
DWORD open_named_mutex(const wchar_t* name, unique_handle& mutex);

// Waits up to `timeout_ms` to own `mutex`: 0 when owned, also when its last
// owner ended without releasing it (abandoned); WAIT_TIMEOUT (258) when the
// time ran out; or the code of the failed wait.
DWORD own_mutex(HANDLE mutex, DWORD timeout_ms);

}  // namespace brq_install::win
