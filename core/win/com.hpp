#pragma once
// Owners for COM: interface pointers, BSTRs and the thread's apartment.
#include "win/last_error.hpp"
#include "win/unique.hpp"

#include <utility>

namespace brq_install::win {

// Holds one reference to a COM interface and releases it when it goes.
template <typename T>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(com_ptr&& other) noexcept : value_(other.release()) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    reset(other.release());
    return *this;
  }
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  ~com_ptr() { reset(); }

  T* get() const { return value_; }
  T* operator->() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }

  T* release() { return std::exchange(value_, nullptr); }

  // Takes over a reference that the caller already holds.
  void reset(T* value = nullptr) {
    if (T* old = std::exchange(value_, value)) old->Release();
  }

  // Releases what is held and hands out the address for a call to fill.
  T** put() {
    reset();
    return &value_;
  }

  // put() as the untyped out pointer that CoCreateInstance takes.
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  T* value_ = nullptr;
};

struct bstr_traits {  // strings that COM calls take; NULL when none
  using type = BSTR;
  static type invalid() { return nullptr; }
  static void close(type s) { api.SysFreeString(s); }
};

using unique_bstr = unique_resource<bstr_traits>;

// Enters COM on this thread for the owner's lifetime. S_OK and S_FALSE (the
// thread had entered already) both count as entered and are left at the end;
// after a failure nothing is left.
class com_apartment {
 public:
  explicit com_apartment(DWORD flags) : result_(api.CoInitializeEx(nullptr, flags)) {}
  ~com_apartment() {
    if (SUCCEEDED(result_)) api.CoUninitialize();
  }
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;

  // 0 when entered, otherwise the failure's error code.
  DWORD error() const { return error_from_hresult(result_); }

 private:
  HRESULT result_;
};

}  // namespace brq_install::win
