#include "win/registry.hpp"

#include "win/unique.hpp"

namespace brq_install::win {

DWORD write_machine_key(std::wstring_view path, std::span<const registry_value> values) {
  unique_hkey key;
  LSTATUS error = api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::wstring(path).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(),
                                      nullptr);
  for (const registry_value& value : values) {
    if (error != ERROR_SUCCESS) break;
    std::wstring name(value.name);
    if (const auto* text = std::get_if<std::wstring>(&value.data)) {
      auto size = static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));  // with its terminating null
      error = api.RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                                 size);
    } else {
      DWORD number = std::get<DWORD>(value.data);
      error = api.RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                 sizeof(number));
    }
  }
  return static_cast<DWORD>(error);
}

DWORD delete_machine_key(std::wstring_view path) {
  return static_cast<DWORD>(api.RegDeleteKeyExW(HKEY_LOCAL_MACHINE, std::wstring(path).c_str(), KEY_WOW64_64KEY, 0));
}

}  // namespace brq_install::win
