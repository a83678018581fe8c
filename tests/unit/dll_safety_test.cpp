// Restricting the DLL search before the run: SetDefaultDllDirectories from
// kernel32 where it exists and works, SetDllDirectoryW(L"") otherwise.
#include "unit_prelude.hpp"

#include <string>
#include <vector>

#include "win/dll_safety.hpp"

namespace brq_install {
namespace {

HMODULE const fake_kernel32 = reinterpret_cast<HMODULE>(0x7E400000);
bool kernel32_found = true;
bool function_found = true;
BOOL function_result = TRUE;
std::vector<std::wstring> modules_asked;
std::vector<std::string> functions_asked;
std::vector<DWORD> default_flags;
std::vector<std::wstring> dll_directories;

HMODULE WINAPI fake_module(LPCWSTR name) {
  modules_asked.push_back(name);
  if (!kernel32_found) ::SetLastError(ERROR_MOD_NOT_FOUND);
  return kernel32_found ? fake_kernel32 : nullptr;
}

BOOL WINAPI fake_set_default(DWORD flags) {
  default_flags.push_back(flags);
  if (!function_result) ::SetLastError(ERROR_INVALID_PARAMETER);
  return function_result;
}

FARPROC WINAPI fake_lookup(HMODULE module, LPCSTR name) {
  functions_asked.push_back(name);
  if (module != fake_kernel32 || !function_found) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fake_set_default));
}

BOOL WINAPI fake_set_dll_directory(LPCWSTR path) {
  dll_directories.push_back(path == nullptr ? L"(null)" : path);
  return TRUE;
}

TEST(restrict_dll_search, prefers_system32_only_and_falls_back_to_no_current_directory) {
  struct {
    const char* label;
    bool kernel32_found, function_found;
    BOOL function_result;
    std::vector<DWORD> default_flags;
    std::vector<std::wstring> dll_directories;
  } cases[] = {
      {"available", true, true, TRUE, {LOAD_LIBRARY_SEARCH_SYSTEM32}, {}},
      {"refuses", true, true, FALSE, {LOAD_LIBRARY_SEARCH_SYSTEM32}, {L""}},
      {"missing", true, false, TRUE, {}, {L""}},
      {"no kernel32", false, true, TRUE, {}, {L""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    test::scoped_platform platform;
    win::api.GetModuleHandleW = &fake_module;
    win::api.GetProcAddress = &fake_lookup;
    win::api.SetDllDirectoryW = &fake_set_dll_directory;
    kernel32_found = c.kernel32_found;
    function_found = c.function_found;
    function_result = c.function_result;
    modules_asked.clear();
    functions_asked.clear();
    default_flags.clear();
    dll_directories.clear();

    win::restrict_dll_search();
    EXPECT_EQ(modules_asked, (std::vector<std::wstring>{L"kernel32.dll"}));
    if (c.kernel32_found) {
      EXPECT_EQ(functions_asked, (std::vector<std::string>{"SetDefaultDllDirectories"}));
    }
    EXPECT_EQ(default_flags, c.default_flags);
    EXPECT_EQ(dll_directories, c.dll_directories);
  }
}

}  // namespace
}  // namespace brq_install
