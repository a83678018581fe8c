#pragma once
// The stubs that the lazy entries of the platform table start with. Each one,
// at its first call, loads its DLL with LOAD_LIBRARY_SEARCH_SYSTEM32 (never
// from the installer's own folder), stores the real function in its entry of
// `api` (unless a test has put something else there), so that later calls go
// straight there, and forwards the call. When the DLL or the function cannot
// be found it fails as the real function would: it returns 0 or FALSE with
// the loader's error as the last error.
#include <windows.h>

namespace brq_install::win::lazy {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle);
BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length);

}  // namespace brq_install::win::lazy
