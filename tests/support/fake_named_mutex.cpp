#include "fake_named_mutex.hpp"

#include <sddl.h>

namespace brq_install::test {

fake_named_mutex* fake_named_mutex::current = nullptr;

namespace {

fake_named_mutex& fake() { return *fake_named_mutex::current; }

template <typename Result>
Result fail(DWORD error, Result result) {
  ::SetLastError(error);
  return result;
}

fake_named_mutex::object* object_of(HANDLE handle) {
  std::wstring* name = fake().lookup(handle);
  auto it = name != nullptr ? fake().objects.find(*name) : fake().objects.end();
  return it != fake().objects.end() ? &it->second : nullptr;
}

HANDLE WINAPI create_mutex(SECURITY_ATTRIBUTES*, const wchar_t* name, DWORD, DWORD) {
  bool existed = fake().objects.contains(name);
  fake().objects.try_emplace(name);
  HANDLE handle = fake().hand_out(name);
  ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

DWORD WINAPI wait(HANDLE handle, DWORD milliseconds) {
  if (!fake().owns(handle)) return fake().previous.WaitForSingleObject(handle, milliseconds);
  fake_named_mutex::object* mutex = object_of(handle);
  if (mutex == nullptr) return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  if (mutex->owned_by_other) return WAIT_TIMEOUT;
  ++mutex->owned;
  return WAIT_OBJECT_0;
}

BOOL WINAPI release(HANDLE handle) {
  if (!fake().owns(handle)) return fake().previous.ReleaseMutex(handle);
  fake_named_mutex::object* mutex = object_of(handle);
  if (mutex == nullptr) return fail(ERROR_INVALID_HANDLE, FALSE);
  if (mutex->owned == 0) return fail(ERROR_NOT_OWNER, FALSE);
  --mutex->owned;
  return TRUE;
}

// The owner in a security descriptor of the system's own making, which the
// caller frees with LocalFree.
DWORD WINAPI security_info(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID* group,
                           PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (!fake().owns(handle))
    return fake().previous.GetSecurityInfo(handle, type, what, owner, group, dacl, sacl, descriptor);
  fake_named_mutex::object* mutex = object_of(handle);
  if (mutex == nullptr) return ERROR_INVALID_HANDLE;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  wchar_t* text = nullptr;
  if (!CreateWellKnownSid(mutex->owner, nullptr, sid, &size) || !ConvertSidToStringSidW(sid, &text)) {
    return GetLastError();
  }
  std::wstring sddl = L"O:" + std::wstring(text);
  LocalFree(text);
  BOOL defaulted = FALSE;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor, nullptr) ||
      !GetSecurityDescriptorOwner(*descriptor, owner, &defaulted)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

BOOL WINAPI close_handle(HANDLE handle) {
  if (!fake().owns(handle)) return fake().previous.CloseHandle(handle);
  std::wstring* opened = fake().lookup(handle);
  std::wstring name = opened != nullptr ? *opened : L"";
  if (!fake().close(handle)) return fail(ERROR_INVALID_HANDLE, FALSE);
  // The last handle gone, the mutex goes, owned or not.
  bool other_open = false;
  fake().each_open([&](const std::wstring& other) { other_open |= other == name; });
  auto it = fake().objects.find(name);
  if (!other_open && it != fake().objects.end() && it->second.other_handles == 0) fake().objects.erase(it);
  return TRUE;
}

}  // namespace

fake_named_mutex::fake_named_mutex() : fake_handles(0xA700'0000'0000'0000, "mutex"), previous(win::api) {
  current = this;
  win::api.CreateMutexExW = &create_mutex;
  win::api.WaitForSingleObject = &wait;
  win::api.ReleaseMutex = &release;
  win::api.GetSecurityInfo = &security_info;
  win::api.CloseHandle = &close_handle;
}

fake_named_mutex::~fake_named_mutex() { current = nullptr; }

}  // namespace brq_install::test
