#pragma once
// Named mutexes: one owner at a time across every process of the machine.
#include <windows.h>

#include "win/unique.hpp"

namespace brq_install::win {

// Opens the mutex `name`, creating it when it does not exist, with just the
// rights to wait for it, release it and read its owner (so that a mutex
// created by another account opens too). `existed` tells whether the mutex
// was there already. Returns 0 or the code of the failed call.
[[nodiscard]] DWORD open_named_mutex(const wchar_t* name, unique_handle& mutex, bool& existed);

// Sets `trusted` when the owner of `mutex` is BUILTIN\Administrators or
// LocalSystem, owners that only an administrator's or the system's process
// gives an object. Returns 0 or the code of the failed read of its owner.
[[nodiscard]] DWORD mutex_owner_is_administrator(HANDLE mutex, bool& trusted);

// Waits up to `timeout_ms` to own `mutex`: 0 when owned, also when its last
// owner ended without releasing it (`abandoned` then set); WAIT_TIMEOUT
// (258) when the time ran out; or the code of the failed wait.
[[nodiscard]] DWORD own_mutex(HANDLE mutex, DWORD timeout_ms, bool& abandoned);

}  // namespace brq_install::win
