#pragma once
// Named mutexes: one owner at a time across every process of the machine.
#include <windows.h>

#include "win/unique.hpp"

namespace brq_install::win {

// Opens the mutex `name`, creating it when it does not exist (owned by
// Administrators, for LocalSystem and Administrators only), with just the
// rights to wait for it, release it and read its owner (so that a mutex
// created by another account opens too). `existed` tells whether the mutex
// was there already. Returns 0 or the code of the failed call.
[[nodiscard]] DWORD open_named_mutex(const wchar_t* name, unique_handle& mutex, bool& existed);

// Sets `trusted` when the owner of `mutex` is BUILTIN\Administrators or
// LocalSystem, owners that only an administrator's or the system's process
// gives an object. Returns 0 or the code of the failed read of its owner.
[[nodiscard]] DWORD mutex_owner_is_administrator(HANDLE mutex, bool& trusted);

// How a wait for a mutex ended: owned; owned after its last owner ended
// without releasing it; or still held by another owner when the time ran out.
enum class mutex_wait { owned, abandoned, busy };

// Waits up to `timeout_ms` to own `mutex` and says how the wait ended in
// `outcome`. Returns 0 or the code of the failed wait.
[[nodiscard]] DWORD own_mutex(HANDLE mutex, DWORD timeout_ms, mutex_wait& outcome);

}  // namespace brq_install::win
