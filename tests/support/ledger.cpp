#include "ledger.hpp"

#include <gtest/gtest.h>

#include <type_traits>

#include "fault_driver.hpp"

namespace brq_install::test {

namespace {

using win::api;
ledger* books = nullptr;

template <typename Function>
struct counted;

template <typename Result, typename... Args>
struct counted<Result (*)(Args...)> {
  // A call that hands out a value, `failure` when it fails.
  template <auto slot, ledger::values ledger::*held, uintptr_t failure>
  static Result WINAPI take(Args... args) {
    Result value = (books->driver.*slot)(args...);
    if (value != reinterpret_cast<Result>(failure)) books->taken(books->*held, value);
    return value;
  }
  // A call that gives a value back.
  template <auto slot, ledger::values ledger::*held>
  static Result WINAPI give_back(Args... args) {
    size_t failures = books->faults ? books->faults->failures : 0;
    Result result = (books->driver.*slot)(args...);
    if (books->faults && books->faults->failures != failures) (books->faults->below.*slot)(args...);
    books->given_back(books->*held, args...);
    return result;
  }
};

template <auto slot, ledger::values ledger::*held, uintptr_t failure = 0>
void takes() {
  api.*slot = &counted<std::remove_reference_t<decltype(api.*slot)>>::template take<slot, held, failure>;
}

template <auto slot, ledger::values ledger::*held>
void gives_back() {
  api.*slot = &counted<std::remove_reference_t<decltype(api.*slot)>>::template give_back<slot, held>;
}

}  // namespace

ledger::ledger() : faults(fault_driver::active) { install(); }

ledger::~ledger() {
  api = driver;
  books = nullptr;
}

void ledger::install() {
  EXPECT_EQ(books, nullptr) << "two ledgers at once";
  using table = win::platform_table;
  books = this;
  driver = api;
  takes<&table::CreateFileW, &ledger::handles, static_cast<uintptr_t>(-1)>();
  takes<&table::CreateMutexExW, &ledger::handles>();
  takes<&table::OpenProcess, &ledger::handles>();
  gives_back<&table::CloseHandle, &ledger::handles>();
  takes<&table::OpenSCManagerW, &ledger::service_handles>();
  takes<&table::OpenServiceW, &ledger::service_handles>();
  takes<&table::CreateServiceW, &ledger::service_handles>();
  gives_back<&table::CloseServiceHandle, &ledger::service_handles>();
  gives_back<&table::LocalFree, &ledger::locals>();
  gives_back<&table::RegCloseKey, &ledger::registry_keys>();
  api.RegCreateKeyExW = [](HKEY root, const wchar_t* path, DWORD reserved, wchar_t* class_name, DWORD options,
                           REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* key, DWORD* disposition) {
    LSTATUS error = books->driver.RegCreateKeyExW(root, path, reserved, class_name, options, access, security, key,
                                                  disposition);
    if (error == ERROR_SUCCESS) books->taken(books->registry_keys, *key);
    return error;
  };
  api.FormatMessageW = [](DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size,
                          va_list* arguments) {
    DWORD length = books->driver.FormatMessageW(flags, source, id, language, buffer, size, arguments);
    if (length != 0 && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
      books->taken(books->locals, *reinterpret_cast<wchar_t**>(buffer));
    }
    return length;
  };
  api.GetSecurityInfo = [](HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID* group,
                           PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    DWORD error = books->driver.GetSecurityInfo(handle, type, what, owner, group, dacl, sacl, descriptor);
    if (error == ERROR_SUCCESS && *descriptor != nullptr) books->taken(books->locals, *descriptor);
    return error;
  };
  api.ConvertStringSecurityDescriptorToSecurityDescriptorW = [](const wchar_t* text, DWORD revision,
                                                                PSECURITY_DESCRIPTOR* descriptor, ULONG* size) {
    BOOL made = books->driver.ConvertStringSecurityDescriptorToSecurityDescriptorW(text, revision, descriptor, size);
    if (made) books->taken(books->locals, *descriptor);
    return made;
  };
  api.OpenProcessToken = [](HANDLE process, DWORD access, HANDLE* token) {
    BOOL opened = books->driver.OpenProcessToken(process, access, token);
    if (opened) books->taken(books->handles, *token);
    return opened;
  };
  api.NtCreateFile = [](HANDLE* file, ACCESS_MASK access, OBJECT_ATTRIBUTES* object, IO_STATUS_BLOCK* status_block,
                        LARGE_INTEGER* size, ULONG attributes, ULONG share, ULONG disposition, ULONG options, void* ea,
                        ULONG ea_size) {
    NTSTATUS status = books->driver.NtCreateFile(file, access, object, status_block, size, attributes, share,
                                                 disposition, options, ea, ea_size);
    if (NT_SUCCESS(status)) books->taken(books->handles, *file);
    return status;
  };
  api.CoInitializeEx = [](LPVOID reserved, DWORD flags) {
    HRESULT result = books->driver.CoInitializeEx(reserved, flags);
    if (SUCCEEDED(result)) ++books->apartments;
    return result;
  };
  api.CoUninitialize = [] {
    books->driver.CoUninitialize();
    --books->apartments;
  };
  counted_ = api;
}

const win::platform_table& beneath() { return books ? books->counted_ : win::real_api; }

void ledger::taken(values& held, const void* value) {
  held.insert(value);
  released_.erase(value);
}

void ledger::given_back(values& held, const void* value) {
  auto it = held.find(value);
  if (it != held.end()) {
    held.erase(it);
    if (held.count(value) == 0) released_.insert(value);
  } else if (released_.count(value) != 0) {
    ++double_releases;
  }
}

std::string ledger::unbalanced() const {
  std::string text;
  auto add = [&](size_t count, const char* what) {
    if (count != 0) text += std::to_string(count) + " " + what + "; ";
  };
  add(handles.size(), "kernel handles held");
  add(service_handles.size(), "service handles held");
  add(locals.size(), "local allocations held");
  add(registry_keys.size(), "registry keys held");
  add(static_cast<size_t>(apartments < 0 ? -apartments : apartments), "COM apartments unbalanced");
  add(static_cast<size_t>(double_releases), "values given back twice");
  return text;
}

}  // namespace brq_install::test
