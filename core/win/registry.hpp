#pragma once
// Keys of the local machine's registry, in its 64-bit view whatever the
// program's own. Nothing here prints; the functions return a Windows error
// code, 0 for success.
#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace brq_install::win {

// A value to set: a string (REG_SZ) or a number (REG_DWORD).
struct registry_value {
  std::wstring_view name;
  std::variant<std::wstring, DWORD> data;
};

// Creates the key `path` under HKEY_LOCAL_MACHINE, or opens the one there,
// and sets each of `values` in it, the first failure ending the writes.
[[nodiscard]] DWORD write_machine_key(std::wstring_view path, std::span<const registry_value> values);

// Deletes the key `path` under HKEY_LOCAL_MACHINE with its values: 2 when
// there is none.
[[nodiscard]] DWORD delete_machine_key(std::wstring_view path);

}  // namespace brq_install::win
