// The Windows version and its generation class: the thresholds, the names,
// which payload files apply where, and reading ntdll.dll's file version
// through the lazily bound version functions, with every way that can fail.
#include "unit_prelude.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "os_version.hpp"

namespace brq_install {
namespace {

std::string text_of(const os_version& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
         std::to_string(v.revision);
}

// The version read, with the error code of the read in `error`.
os_version read_version(DWORD* error = nullptr) {
  os_version v{1, 2, 3, 4};
  DWORD code = get_os_version(v);
  if (error) *error = code;
  return v;
}

TEST(os_class, classifies_at_and_around_every_threshold) {
  struct {
    os_version version;
    crt_flavour expected;
  } cases[] = {
      {{4, 65535, 65535, 65535}, crt_flavour::nt4}, {{5, 0, 0, 0}, crt_flavour::w2k},
      {{5, 1, 2599, 65535}, crt_flavour::w2k},      {{5, 1, 2600, 5511}, crt_flavour::w2k},
      {{5, 1, 2600, 5512}, crt_flavour::xpsp3},     {{6, 0, 65535, 65535}, crt_flavour::xpsp3},
      {{6, 1, 0, 0}, crt_flavour::current},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text_of(c.version));
    EXPECT_EQ(os_class(c.version), c.expected);
  }
}

TEST(applies_to_os, answers_for_every_generation_and_every_file_value) {
  // One character per file value 0 to 9: '1' where the file applies.
  struct {
    os_version version;
    const char* applies;
  } cases[] = {
      {{4, 0, 1381, 0}, "1110000000"},      // nt4
      {{5, 1, 2600, 5511}, "1011100000"},   // w2k
      {{6, 0, 6002, 18005}, "1010111000"},  // xpsp3
      {{10, 0, 19041, 1}, "1010101100"},    // current
  };
  for (const auto& c : cases) {
    install_plan plan;
    plan.os = c.version;
    plan.crt = crt_flavour::unknown;  // the answer follows the version itself
    for (uint32_t value = 0; value <= 9; ++value) {
      SCOPED_TRACE(text_of(c.version) + " file crt " + std::to_string(value));
      payload_file file;
      file.crt = static_cast<crt_flavour>(value);
      EXPECT_EQ(applies_to_os(file, plan), c.applies[value] == '1');
    }
  }
}

// Fakes of the three version functions, answering from a block that holds
// only a marker; the root query hands out `fixed`.
constexpr DWORD block_size = 64;
constexpr unsigned char block_marker = 0xA5;
VS_FIXEDFILEINFO fixed{};
DWORD failing_call = 0;  // 1 size, 2 read, 3 query; 0 none
std::vector<std::wstring> files_asked;
std::wstring sub_block_asked;
bool query_saw_the_block = false;

DWORD WINAPI fake_size(LPCWSTR file, LPDWORD) {
  files_asked.push_back(file);
  if (failing_call == 1) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return block_size;
}

BOOL WINAPI fake_read(LPCWSTR file, DWORD, DWORD size, LPVOID data) {
  files_asked.push_back(file);
  if (failing_call == 2 || size < block_size) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(data, block_marker, block_size);
  return TRUE;
}

BOOL WINAPI fake_query(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
  sub_block_asked = sub_block;
  query_saw_the_block = *static_cast<const unsigned char*>(block) == block_marker;
  if (failing_call == 3) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *value = &fixed;
  *length = sizeof fixed;
  return TRUE;
}

struct os_version_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    win::api.GetFileVersionInfoSizeW = &fake_size;
    win::api.GetFileVersionInfoW = &fake_read;
    win::api.VerQueryValueW = &fake_query;
    failing_call = 0;
    files_asked.clear();
    sub_block_asked.clear();
    query_saw_the_block = false;
    fixed = {};
    fixed.dwSignature = VS_FFI_SIGNATURE;
  }
};

TEST_F(os_version_test, takes_the_file_version_of_ntdll_word_by_word_and_prints_one_plain_line) {
  fixed.dwFileVersionMS = MAKELONG(0, 10);     // 10.0
  fixed.dwFileVersionLS = MAKELONG(1, 19041);  // .19041.1
  fixed.dwProductVersionMS = MAKELONG(3, 6);   // a product version that differs
  fixed.dwProductVersionLS = MAKELONG(17031, 9600);
  console_recorder console;
  install_plan plan = build_install_plan();
  detect_os(plan);
  EXPECT_EQ(text_of(plan.os), "10.0.19041.1");
  EXPECT_EQ(plan.crt, crt_flavour::current);
  EXPECT_EQ(console.runs(), (std::vector<run>{{"os 10.0.19041.1 => crt \"current\"\n", plain}}));
  EXPECT_EQ(files_asked, (std::vector<std::wstring>{L"ntdll.dll", L"ntdll.dll"}));
  EXPECT_EQ(sub_block_asked, L"\\");
  EXPECT_TRUE(query_saw_the_block);
}

TEST_F(os_version_test, any_failing_call_gives_zeros_and_the_run_goes_on_as_nt4) {
  fixed.dwFileVersionMS = MAKELONG(0, 10);
  for (DWORD call : {1, 2, 3}) {
    SCOPED_TRACE(call);
    failing_call = call;
    DWORD error = 0;
    EXPECT_EQ(text_of(read_version(&error)), "0.0.0.0");
    EXPECT_EQ(error, call == 2 ? ERROR_INSUFFICIENT_BUFFER : ERROR_RESOURCE_TYPE_NOT_FOUND);

    console_recorder console;
    install_plan plan = build_install_plan();
    plan.os = {6, 1, 0, 0};
    detect_os(plan);
    EXPECT_EQ(text_of(plan.os), "0.0.0.0");
    EXPECT_EQ(plan.crt, crt_flavour::nt4);
    EXPECT_EQ(console.runs(), (std::vector<run>{{"os 0.0.0.0 => crt \"nt4\"\n", plain}}));
  }
}

// The lazy entries: version.dll loaded from System32 alone at the first call.

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
