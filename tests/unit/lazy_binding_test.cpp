// The lazy entries: version.dll from System32 alone, bound once, every failure.
#include "unit_prelude.hpp"

namespace brq_install {
namespace {

struct load_request {
  std::wstring name;
  HANDLE file;
  DWORD flags;
};
std::vector<load_request> loads;
std::vector<std::string> lookups;
std::vector<HMODULE> freed;
HMODULE const fake_module = reinterpret_cast<HMODULE>(0x7E570000);

HMODULE WINAPI failing_load(LPCWSTR name, HANDLE file, DWORD flags) {
  loads.push_back({name, file, flags});
  ::SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI fake_load(LPCWSTR name, HANDLE file, DWORD flags) {
  loads.push_back({name, file, flags});
  return fake_module;
}

HMODULE WINAPI counting_load(LPCWSTR name, HANDLE file, DWORD flags) {
  loads.push_back({name, file, flags});
  return win::real_api.LoadLibraryExW(name, file, flags);
}

FARPROC WINAPI failing_lookup(HMODULE, LPCSTR name) {
  lookups.push_back(name);
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

// Clears the last error, as a FreeLibrary that succeeds may: the binder must
// keep the loader's error across it.
BOOL WINAPI counting_free(HMODULE module) {
  freed.push_back(module);
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

struct lazy_binding_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    // Back to the stubs, whatever an earlier call in this process bound.
    win::api.GetFileVersionInfoSizeW = win::real_api.GetFileVersionInfoSizeW;
    win::api.GetFileVersionInfoW = win::real_api.GetFileVersionInfoW;
    win::api.VerQueryValueW = win::real_api.VerQueryValueW;
    win::api.FreeLibrary = &counting_free;
    loads.clear();
    lookups.clear();
    freed.clear();
  }
};

TEST_F(lazy_binding_test, every_stub_fails_like_its_function_with_the_loaders_error) {
  win::api.LoadLibraryExW = &failing_load;
  wchar_t buffer[8];
  void* value = nullptr;
  UINT length = 0;
  ::SetLastError(0);
  EXPECT_EQ(win::api.GetFileVersionInfoSizeW(L"ntdll.dll", nullptr), 0u);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  ::SetLastError(0);
  EXPECT_FALSE(win::api.GetFileVersionInfoW(L"ntdll.dll", 0, sizeof buffer, buffer));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  ::SetLastError(0);
  EXPECT_FALSE(win::api.VerQueryValueW(buffer, L"\\", &value, &length));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  ASSERT_EQ(loads.size(), 3u);
  // From System32 alone, and tried again at the next call.
  EXPECT_EQ(loads[0].name, L"version.dll");
  EXPECT_EQ(loads[0].file, nullptr);
  EXPECT_EQ(loads[0].flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_EQ(win::api.GetFileVersionInfoSizeW, win::real_api.GetFileVersionInfoSizeW);
}

TEST_F(lazy_binding_test, a_missing_function_frees_the_dll_and_reports_not_found) {
  win::api.LoadLibraryExW = &fake_load;
  win::api.GetProcAddress = &failing_lookup;
  ::SetLastError(0);
  EXPECT_EQ(win::api.GetFileVersionInfoSizeW(L"ntdll.dll", nullptr), 0u);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(lookups, (std::vector<std::string>{"GetFileVersionInfoSizeW"}));
  EXPECT_EQ(freed, (std::vector<HMODULE>{fake_module}));
  EXPECT_EQ(win::api.GetFileVersionInfoSizeW, win::real_api.GetFileVersionInfoSizeW);

  EXPECT_EQ(text_of(read_version()), "0.0.0.0");
}

TEST_F(lazy_binding_test, binds_each_function_once_and_reads_wines_ntdll) {
  win::api.LoadLibraryExW = &counting_load;
  os_version first = read_version();
  EXPECT_EQ(loads.size(), 3u);  // one per function
  for (const auto& load : loads) {
    EXPECT_EQ(load.name, L"version.dll");
    EXPECT_EQ(load.flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  }
  EXPECT_NE(win::api.GetFileVersionInfoSizeW, win::real_api.GetFileVersionInfoSizeW);
  EXPECT_NE(win::api.GetFileVersionInfoW, win::real_api.GetFileVersionInfoW);
  EXPECT_NE(win::api.VerQueryValueW, win::real_api.VerQueryValueW);
  EXPECT_TRUE(freed.empty());

  os_version second = read_version();
  EXPECT_EQ(loads.size(), 3u);  // later calls go straight to version.dll
  EXPECT_EQ(text_of(second), text_of(first));
  EXPECT_EQ(os_class(first), crt_flavour::current) << text_of(first);
}

// Windows 7 SP1 without KB2533623 refuses the System32-only flag; a full
// System32 path with the altered search order is the one way left.
HMODULE WINAPI windows7_load(LPCWSTR name, HANDLE file, DWORD flags) {
  loads.push_back({name, file, flags});
  if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return win::real_api.LoadLibraryExW(name, file, flags);
}

TEST_F(lazy_binding_test, without_the_system32_flag_the_dll_is_loaded_by_its_full_system32_path) {
  win::api.LoadLibraryExW = &windows7_load;
  EXPECT_EQ(os_class(read_version()), crt_flavour::current);
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GE(loads.size(), 2u);
  EXPECT_EQ(loads[0].name, L"version.dll");
  EXPECT_EQ(loads[1].name, std::wstring(system, length) + L"\\version.dll");
  EXPECT_EQ(loads[1].flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
}

TEST_F(lazy_binding_test, a_com_stub_that_cannot_load_never_answers_s_ok) {
  win::api.CoInitializeEx = win::real_api.CoInitializeEx;
  win::api.LoadLibraryExW = [](LPCWSTR, HANDLE, DWORD) -> HMODULE {
    ::SetLastError(ERROR_SUCCESS);  // a loader that fails without saying why
    return nullptr;
  };
  EXPECT_TRUE(FAILED(win::api.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}

}  // namespace
}  // namespace brq_install
