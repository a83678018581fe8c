#include "win/dll_safety.hpp"

#include "win/platform.hpp"

namespace brq_install::win {

void restrict_dll_search() {
  using set_default_dll_directories = BOOL(WINAPI*)(DWORD);
  HMODULE kernel32 = api.GetModuleHandleW(L"kernel32.dll");
  FARPROC address = kernel32 != nullptr ? api.GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
  if (address != nullptr) {
    auto set_default = reinterpret_cast<set_default_dll_directories>(reinterpret_cast<void (*)()>(address));
    if (set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  }
  api.SetDllDirectoryW(L"");
}

}  // namespace brq_install::win
