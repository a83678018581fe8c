#include "win/lazy_binding.hpp"

namespace brq_install::win::lazy {

// A DLL that served a function stays loaded for the rest of the run, since
// the table points into it; one that did not is freed again.
void (*find(const wchar_t* dll, const char* name))() {
  HMODULE module = api.LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
