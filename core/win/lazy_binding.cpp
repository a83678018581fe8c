#include "win/lazy_binding.hpp"

#include <string>

namespace brq_install::win::lazy {

namespace {

// Loads `dll` from System32 and nowhere else. Windows 7 without the update
// KB2533623 does not know LOAD_LIBRARY_SEARCH_SYSTEM32 and refuses it with
// ERROR_INVALID_PARAMETER; there the DLL is loaded by its full System32 path,
// with its own dependencies searched from that folder. Never by bare name.
HMODULE load_system_dll(const wchar_t* dll) {
  HMODULE module = api.LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || api.GetLastError() != ERROR_INVALID_PARAMETER) return module;
  wchar_t system[MAX_PATH];
  UINT length = api.GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path = std::wstring(system, length) + L"\\" + dll;
  return api.LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

// A DLL that served a function stays loaded for the rest of the run, since
// the table points into it; one that did not is freed again.
void (*find(const wchar_t* dll, const char* name))() {
  HMODULE module = load_system_dll(dll);
  if (module == nullptr) return nullptr;
  FARPROC address = api.GetProcAddress(module, name);
  if (address == nullptr) {
    DWORD error = api.GetLastError();
    api.FreeLibrary(module);
    api.SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<void (*)()>(address);
}

}  // namespace brq_install::win::lazy
