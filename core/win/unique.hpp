#pragma once
// Move-only owners of Windows resources. Each owner is defined by a traits
// class naming the value that means "nothing owned" and how to release a
// resource; releasing keeps the caller's last error intact, so a wrapper may
// read GetLastError after an owner went out of scope.
#include "win/last_error.hpp"
#include "win/platform.hpp"

#include <utility>

namespace brq_install::win {

template <typename Traits>
class unique_resource {
 public:
  using pointer = typename Traits::type;

  unique_resource() = default;
  explicit unique_resource(pointer value) : value_(value) {}
  unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  ~unique_resource() { reset(); }

  pointer get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::invalid(); }

  pointer release() { return std::exchange(value_, Traits::invalid()); }

  void reset(pointer value = Traits::invalid()) {
    pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) {
      DWORD last_error = api.GetLastError();
      Traits::close(old);
      api.SetLastError(last_error);
    }
  }

  // Releases what is owned and hands out the address for an API to fill.
  pointer* put() {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
};

struct handle_traits {  // kernel objects: processes, events; NULL means none
  using type = HANDLE;
  static type invalid() { return nullptr; }
  static void close(type h) { api.CloseHandle(h); }
};

struct file_handle_traits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
  using type = HANDLE;
  static type invalid() { return INVALID_HANDLE_VALUE; }
  static void close(type h) { api.CloseHandle(h); }
};

struct hlocal_traits {  // memory that the system allocated for the caller
  using type = HLOCAL;
  static type invalid() { return nullptr; }
  static void close(type h) { api.LocalFree(h); }
};

struct sc_handle_traits {  // connections to the service manager and services
  using type = SC_HANDLE;
  static type invalid() { return nullptr; }
  static void close(type h) { api.CloseServiceHandle(h); }
};

struct mutex_ownership_traits {  // a mutex this thread owns; releasing gives it up
  using type = HANDLE;
  static type invalid() { return nullptr; }
  static void close(type h) { api.ReleaseMutex(h); }
};

struct hkey_traits {  // open registry keys
  using type = HKEY;
  static type invalid() { return nullptr; }
  static void close(type h) { api.RegCloseKey(h); }
};

using unique_handle = unique_resource<handle_traits>;
using unique_file_handle = unique_resource<file_handle_traits>;
using unique_hlocal = unique_resource<hlocal_traits>;
using unique_sc_handle = unique_resource<sc_handle_traits>;
using unique_mutex_ownership = unique_resource<mutex_ownership_traits>;
using unique_hkey = unique_resource<hkey_traits>;

}  // namespace brq_install::win
