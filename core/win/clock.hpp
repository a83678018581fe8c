#pragma once
// The system's clock and pauses, through the platform table, so that the
// tests run timed loops on a clock of their own.
#include "win/platform.hpp"

namespace brq_install::win {

// Milliseconds since the system started; wraps after 49.7 days, so only
// differences of two readings mean anything.
inline DWORD tick_count() { return api.GetTickCount(); }

// Suspends the calling thread; INFINITE never returns.
inline void sleep_ms(DWORD milliseconds) { api.Sleep(milliseconds); }

}  // namespace brq_install::win
