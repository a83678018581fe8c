#include "win/lazy_binding.hpp"

#include "win/platform.hpp"

namespace brq_install::win::lazy {

namespace {

// Finds `name` in `dll`, loaded from System32 alone, and returns it, or null
// with the loader's error as the last error. The function replaces `stub` in
// its table entry `slot`; an entry that a test has replaced stays as it is. A
// DLL that served a function stays loaded for the rest of the run, since the
// table points into it.
template <typename Function>
Function bind(Function& slot, Function stub, const wchar_t* dll, const char* name) {
  HMODULE module = api.LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  FARPROC address = api.GetProcAddress(module, name);
  if (address == nullptr) {
    DWORD error = api.GetLastError();
    api.FreeLibrary(module);
    api.SetLastError(error);
    return nullptr;
  }
  // Through void(*)(), the one function pointer type that converts to any
  // other without a warning.
  auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  if (slot == stub) slot = function;
  return function;
}

constexpr const wchar_t* version_dll = L"version.dll";

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  auto real = bind(api.GetFileVersionInfoSizeW, &GetFileVersionInfoSizeW, version_dll,
                   "GetFileVersionInfoSizeW");
  return real ? real(file, handle) : 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
  auto real =
      bind(api.GetFileVersionInfoW, &GetFileVersionInfoW, version_dll, "GetFileVersionInfoW");
  return real ? real(file, handle, size, data) : FALSE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
  auto real = bind(api.VerQueryValueW, &VerQueryValueW, version_dll, "VerQueryValueW");
  return real ? real(block, sub_block, value, length) : FALSE;
}

}  // namespace brq_install::win::lazy
