#include "fake_registry.hpp"

namespace brq_install::test {

fake_registry* fake_registry::current = nullptr;

namespace {

fake_registry& registry() { return *fake_registry::current; }

LSTATUS WINAPI create_key(HKEY root, const wchar_t* path, DWORD, wchar_t*, DWORD, REGSAM, SECURITY_ATTRIBUTES*,
                          HKEY* key, DWORD* disposition) {
  if (root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  bool created = registry().keys.try_emplace(path).second;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *key = registry().hand_out(path);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI set_value(HKEY key, const wchar_t* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  const std::wstring* path = registry().lookup(key);
  if (path == nullptr) return ERROR_INVALID_HANDLE;
  auto values = registry().keys.find(*path);
  if (values == registry().keys.end()) return ERROR_KEY_DELETED;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    values->second[name] = *reinterpret_cast<const DWORD*>(data);
  } else if (type == REG_SZ && size % 2 == 0 && size >= 2) {
    // Stored as given: a string without its terminating null reads back
    // with whatever follows it, so the fake keeps it visible.
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    size_t length = size / 2;
    values->second[name] = text[length - 1] == L'\0' ? std::wstring(text, length - 1)
                                                     : std::wstring(text, length) + L"<no null>";
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LSTATUS WINAPI delete_key(HKEY root, const wchar_t* path, REGSAM, DWORD) {
  if (root != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  return registry().keys.erase(path) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI close_key(HKEY key) { return registry().close(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE; }

}  // namespace

fake_registry::fake_registry() : fake_handles(0x6E00'0000'0000'0000, "registry key") {
  current = this;
  win::api.RegCreateKeyExW = &create_key;
  win::api.RegSetValueExW = &set_value;
  win::api.RegDeleteKeyExW = &delete_key;
  win::api.RegCloseKey = &close_key;
}

fake_registry::~fake_registry() { current = nullptr; }

std::wstring fake_registry::text(const std::wstring& key, const std::wstring& name) const {
  auto in_key = keys.find(key);
  if (in_key == keys.end()) return {};
  auto it = in_key->second.find(name);
  const auto* found = it != in_key->second.end() ? std::get_if<std::wstring>(&it->second) : nullptr;
  return found != nullptr ? *found : std::wstring();
}

}  // namespace brq_install::test
