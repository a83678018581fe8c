#pragma once
// The stubs that the lazy entries of the platform table start with. Each one,
// at its first call, loads its DLL from System32 (never from the installer's
// own folder), stores the real function in its entry of
// `api` (unless a test has put something else there), so that later calls go
// straight there, and forwards the call. When the DLL or the function cannot
// be found it fails as the real function would: 0, FALSE or null with the
// loader's error as the last error, or that error as an HRESULT.
#include <type_traits>

#include "win/last_error.hpp"

namespace brq_install::win::lazy {

// Loads `dll` from System32 and finds `name` in it; null, with the loader's
// error as the last error, when either fails. A failure that left no error
// still fails: an HRESULT stub answers with a failure code, never S_OK.
void (*find(const wchar_t* dll, const char* name))();

template <typename Entry, typename Function = std::remove_reference_t<decltype(Entry::slot(api))>>
struct stub;

template <typename Entry, typename Result, typename... Args>
struct stub<Entry, Result (*)(Args...)> {
  static Result WINAPI call(Args... args) {
    auto& slot = Entry::slot(api);
    // Through void(*)(), the one function pointer type that converts to any
    // other without a warning.
    auto real = reinterpret_cast<Result (*)(Args...)>(find(Entry::dll, Entry::name));
    if (real != nullptr) {
      if (slot == &call) slot = real;
      return real(args...);
    }
    if constexpr (std::is_same_v<Result, HRESULT>) {
      return HRESULT_FROM_WIN32(last_error());
    } else if constexpr (!std::is_void_v<Result>) {
      return Result{};
    }
  }
};

// One entry type per lazy function: its table slot, its DLL and its name.
#define BRQ_LAZY_ENTRY(function, dll_name)                              \
  struct function##_entry {                                             \
    static auto& slot(platform_table& table) { return table.function; } \
    static constexpr const wchar_t* dll = dll_name;                     \
    static constexpr const char* name = #function;                      \
  };
BRQ_LAZY_FUNCTIONS(BRQ_LAZY_ENTRY)
#undef BRQ_LAZY_ENTRY

}  // namespace brq_install::win::lazy
