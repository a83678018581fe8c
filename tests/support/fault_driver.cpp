#include "fault_driver.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace brq_install::test {

fault_driver* fault_driver::active = nullptr;

namespace {

struct function_faults {
  std::string_view function;
  DWORD usual_error;
  uintptr_t failure_value = 0;  // what a failed call returns, as an integer
};

constexpr auto invalid_handle = static_cast<uintptr_t>(-1);

// The functions whose failure is not simply 0, FALSE or NULL with access
// denied (5), and the functions that fail in a way of their own.
constexpr function_faults faults[] = {
    {"CreateFileW", ERROR_SHARING_VIOLATION, invalid_handle},
    {"MoveFileExW", ERROR_SHARING_VIOLATION},  // a scanner holding the staged file: the copy asks again
    {"GetStdHandle", ERROR_INVALID_HANDLE, invalid_handle},
    {"GetFileAttributesW", ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES},
    {"WaitForSingleObject", ERROR_INVALID_HANDLE, WAIT_FAILED},
    {"fflush", 0, static_cast<uintptr_t>(EOF)},
    {"fwrite", 0},
    {"WriteFile", ERROR_DISK_FULL},
    {"GetConsoleMode", ERROR_INVALID_HANDLE},
    {"GetConsoleScreenBufferInfo", ERROR_INVALID_HANDLE},
    {"SetConsoleTextAttribute", ERROR_INVALID_HANDLE},
    {"WriteConsoleW", ERROR_INVALID_HANDLE},
    {"CloseHandle", ERROR_INVALID_HANDLE},
    {"CloseServiceHandle", ERROR_INVALID_HANDLE},
    {"LocalFree", ERROR_INVALID_HANDLE},
    {"FreeLibrary", ERROR_INVALID_HANDLE},
    {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
    {"MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION},
    {"WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER},
    {"GetEnvironmentVariableW", ERROR_ENVVAR_NOT_FOUND},
    {"ExpandEnvironmentStringsW", ERROR_NOT_ENOUGH_MEMORY},
    {"GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
    {"GetModuleHandleW", ERROR_MOD_NOT_FOUND},
    {"LoadLibraryExW", ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
    {"FindResourceW", ERROR_RESOURCE_NAME_NOT_FOUND},
    {"LoadResource", ERROR_RESOURCE_DATA_NOT_FOUND},
    {"LockResource", ERROR_RESOURCE_DATA_NOT_FOUND},
    {"SizeofResource", ERROR_RESOURCE_DATA_NOT_FOUND},
    {"GetFileVersionInfoSizeW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"GetFileVersionInfoW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"VerQueryValueW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"GetFileInformationByHandle", ERROR_INVALID_HANDLE},
    {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
    {"StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT},
    {"QueryServiceStatus", ERROR_INVALID_HANDLE},
    {"QueryServiceStatusEx", ERROR_INVALID_HANDLE},
    {"QueryServiceConfigW", ERROR_ACCESS_DENIED},
    {"QueryFullProcessImageNameW", ERROR_PARTIAL_COPY},
    {"LookupPrivilegeValueW", ERROR_NO_SUCH_PRIVILEGE},
    {"ReleaseMutex", ERROR_NOT_OWNER},
    {"GetSecurityInfo", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},  // returns its code
    {"SysAllocString", ERROR_OUTOFMEMORY},
    {"CoInitializeEx", ERROR_OUTOFMEMORY},
    // The registry's functions return their code.
    {"RegCreateKeyExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {"RegSetValueExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {"RegDeleteKeyExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {"RegCloseKey", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
    {"GetTempFileNameW", ERROR_DIRECTORY},
};

const function_faults* faults_of(std::string_view function) {
  for (const function_faults& entry : faults) {
    if (entry.function == function) return &entry;
  }
  return nullptr;
}

template <typename Result>
Result failure_value(std::string_view function, DWORD code) {
  if constexpr (std::is_same_v<Result, HRESULT>) {
    return code != 0 ? HRESULT_FROM_WIN32(code) : E_FAIL;
  } else {
    const function_faults* entry = faults_of(function);
    uintptr_t value = entry != nullptr ? entry->failure_value : 0;
    if constexpr (std::is_pointer_v<Result>) {
      return reinterpret_cast<Result>(value);
    } else {
      return static_cast<Result>(value);
    }
  }
}

// One type per table entry: its slot and its name.
#define BRQ_FAULT_ENTRY(function)                                            \
  struct function##_fault {                                                  \
    static auto& slot(win::platform_table& table) { return table.function; } \
    static constexpr const char* name = #function;                           \
  };
#define BRQ_LAZY_FAULT_ENTRY(function, dll) BRQ_FAULT_ENTRY(function)
BRQ_PLATFORM_FUNCTIONS(BRQ_FAULT_ENTRY)
BRQ_LAZY_FUNCTIONS(BRQ_LAZY_FAULT_ENTRY)
#undef BRQ_LAZY_FAULT_ENTRY
#undef BRQ_FAULT_ENTRY

template <typename Entry, typename Function = std::remove_reference_t<decltype(Entry::slot(win::api))>>
struct shim;

template <typename Entry, typename Result, typename... Args>
struct shim<Entry, Result (*)(Args...)> {
  static inline Result (*next)(Args...) = nullptr;
  // GetLastError and SetLastError are the injection's own means; a function
  // that returns nothing has no way to fail.
  // GetCurrentProcessId reads the process's own block and has no failure.
  static constexpr bool can_fail = !std::is_void_v<Result> && std::string_view(Entry::name) != "GetLastError" &&
                                   std::string_view(Entry::name) != "SetLastError" &&
                                   std::string_view(Entry::name) != "GetCurrentProcessId";

  static Result WINAPI call(Args... args) {
    fault_driver& driver = *fault_driver::active;
    if (!driver.should_fail(Entry::name, can_fail)) return next(args...);
    ::SetLastError(driver.error());
    if (driver.on_failure) driver.on_failure(Entry::name);
    if constexpr (!std::is_void_v<Result>) {
      // LocalFree tells a failure by handing its argument back.
      if constexpr (sizeof...(Args) == 1 && (std::is_same_v<Args, Result> && ...)) {
        if (std::string_view(Entry::name) == "LocalFree") return (args, ...);
      }
      return failure_value<Result>(Entry::name, driver.error());
    }
  }

  static void install() {
    next = Entry::slot(win::api);
    Entry::slot(win::api) = &call;
  }
};

}  // namespace

fault_driver::fault_driver() {
  active = this;
#define BRQ_WRAP(function) shim<function##_fault>::install();
#define BRQ_LAZY_WRAP(function, dll) BRQ_WRAP(function)
  BRQ_PLATFORM_FUNCTIONS(BRQ_WRAP)
  BRQ_LAZY_FUNCTIONS(BRQ_LAZY_WRAP)
#undef BRQ_LAZY_WRAP
#undef BRQ_WRAP
}

fault_driver::~fault_driver() {
  win::api = below;
  active = nullptr;
}

void fault_driver::fail(size_t n, DWORD error, bool sticky) {
  calls.clear();
  failures = 0;
  fail_at_ = n;
  error_ = error;
  sticky_ = sticky;
  failed_function_ = nullptr;
  killed_at_ = 0;
}

void fault_driver::kill(size_t n) {
  fail(0, ERROR_ACCESS_DENIED);
  killed_at_ = n;
}

bool fault_driver::should_fail(const char* function, bool can_fail) {
  calls.push_back({function, can_fail});
  if (before_call) before_call(calls.size());
  if (killed_at_ != 0 && calls.size() >= killed_at_) {
    static const std::string_view releases[] = {"CloseHandle", "CloseServiceHandle", "LocalFree",
                                                "FreeLibrary", "SysFreeString",      "RegCloseKey"};
    return can_fail && std::find(std::begin(releases), std::end(releases), function) == std::end(releases);
  }
  bool fails = calls.size() == fail_at_ ||
               (sticky_ && failed_function_ != nullptr && std::string_view(failed_function_) == function);
  if (!fails || !can_fail) return false;
  failed_function_ = function;
  ++failures;
  return true;
}

DWORD fault_driver::usual_error(std::string_view function) {
  const function_faults* entry = faults_of(function);
  return entry != nullptr ? entry->usual_error : ERROR_ACCESS_DENIED;
}

}  // namespace brq_install::test
