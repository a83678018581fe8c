#pragma once
// The one rule by which every wrapper turns a failed call into its error code.
#include "win/platform.hpp"

namespace brq_install::win {

// A generic code for a call that failed without saying why.
inline constexpr DWORD error_unexplained_failure = ERROR_FUNCTION_FAILED;  // 1627

// The code of the call that has just failed: its last error, or `fallback`
// when the call set none. Some calls fail and leave the last error at 0 (or
// at a stale success value); reading it as it stands would report a failure
// as success.
inline DWORD last_error(DWORD fallback = error_unexplained_failure) {
  DWORD code = api.GetLastError();
  return code != ERROR_SUCCESS ? code : fallback;
}

// The error code of a COM call's result: 0 for S_OK and every other success
// code, otherwise the HRESULT's own bits, which the system's message table
// formats as it formats a Windows error code. COM results become error codes
// here, inside the wrappers, and nowhere else.
inline DWORD error_from_hresult(HRESULT result) {
  return SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

}  // namespace brq_install::win
