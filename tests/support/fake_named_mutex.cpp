#include "fake_named_mutex.hpp"

#include <sddl.h>

#include <algorithm>

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

// A descriptor made by the system from SDDL, freed with LocalFree.
struct descriptor {
  explicit descriptor(const std::wstring& sddl) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &value, nullptr);
  }
  ~descriptor() { LocalFree(value); }
  PSECURITY_DESCRIPTOR value = nullptr;
};

bool caller_has(PSID sid) {
  if (IsWellKnownSid(sid, WinWorldSid)) return true;
  wchar_t* text = nullptr;
  ConvertSidToStringSidW(sid, &text);
  bool held = std::find(fake().caller.sids.begin(), fake().caller.sids.end(), text) != fake().caller.sids.end();
  LocalFree(text);
  return held;
}

// The access the DACL grants the caller, generic rights mapped as for a
// mutex; a missing DACL grants all, the owner always has READ_CONTROL and
// WRITE_DAC. Denying entries are not modelled: the product writes none.
DWORD granted_access(const std::wstring& sddl) {
  descriptor security(sddl);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(security.value, &owner, &defaulted);
  GetSecurityDescriptorDacl(security.value, &present, &dacl, &defaulted);
  if (!present || dacl == nullptr) return MUTANT_ALL_ACCESS;
  DWORD granted = owner != nullptr && caller_has(owner) ? READ_CONTROL | WRITE_DAC : 0;
  GENERIC_MAPPING mapping{STANDARD_RIGHTS_READ | MUTANT_QUERY_STATE, STANDARD_RIGHTS_WRITE,
                          STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, MUTANT_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    GetAce(dacl, i, reinterpret_cast<void**>(&ace));
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || !caller_has(&ace->SidStart)) continue;
    DWORD mask = ace->Mask;
    MapGenericMask(&mask, &mapping);
    granted |= mask;
  }
  return granted;
}

// The security a new mutex gets: the given descriptor's, whose owner must be
// a SID of the caller's, else the caller's defaults.
bool security_of_new(const SECURITY_ATTRIBUTES* attributes, std::wstring& sddl) {
  sddl = fake().caller.default_security;
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return true;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  wchar_t* text = nullptr;
  GetSecurityDescriptorOwner(attributes->lpSecurityDescriptor, &owner, &defaulted);
  if (owner != nullptr && !caller_has(owner)) return false;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
                                                       nullptr);
  sddl = owner != nullptr ? text : sddl.substr(0, sddl.find(L"D:")) + text;
  LocalFree(text);
  return true;
}

HANDLE WINAPI create_mutex(SECURITY_ATTRIBUTES* attributes, const wchar_t* name, DWORD, DWORD access) {
  auto it = fake().objects.find(name);
  bool existed = it != fake().objects.end();
  if (existed && (access & ~granted_access(it->second.security)) != 0) return fail(ERROR_ACCESS_DENIED, HANDLE{});
  std::wstring security;
  if (!existed && !security_of_new(attributes, security)) return fail(ERROR_INVALID_OWNER, HANDLE{});
  if (!existed) fake().objects[name].security = security;
  HANDLE handle = fake().hand_out(name);
  ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

DWORD WINAPI wait(HANDLE handle, DWORD milliseconds) {
  if (!fake().owns(handle)) return fake().previous.WaitForSingleObject(handle, milliseconds);
  fake_named_mutex::object* mutex = object_of(handle);
  if (mutex == nullptr) return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  if (mutex->owner_process != 0 && mutex->owner_process != fake().process) {
    if (fake().clock != nullptr) fake().clock->now += milliseconds;
    return WAIT_TIMEOUT;
  }
  mutex->owner_process = fake().process;
  ++mutex->owned;
  return WAIT_OBJECT_0;
}

BOOL WINAPI release(HANDLE handle) {
  if (!fake().owns(handle)) return fake().previous.ReleaseMutex(handle);
  fake_named_mutex::object* mutex = object_of(handle);
  if (mutex == nullptr) return fail(ERROR_INVALID_HANDLE, FALSE);
  if (mutex->owner_process != fake().process) return fail(ERROR_NOT_OWNER, FALSE);
  if (--mutex->owned == 0) mutex->owner_process = 0;
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
  BOOL defaulted = FALSE;
  // Made through the table as it was, so that whoever counts the system's
  // allocations counts this one.
  if (!fake().previous.ConvertStringSecurityDescriptorToSecurityDescriptorW(mutex->security.c_str(), SDDL_REVISION_1,
                                                                            descriptor, nullptr) ||
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

const fake_named_mutex::account fake_named_mutex::elevated_administrator{{L"S-1-5-21-1-2-3-1001", L"S-1-5-32-544"},
                                                                         L"O:BAD:(A;;GA;;;BA)(A;;GA;;;SY)"};
const fake_named_mutex::account fake_named_mutex::object_creator{
    {L"S-1-5-21-1-2-3-1002", L"S-1-5-32-544"}, L"O:S-1-5-21-1-2-3-1002D:(A;;GA;;;S-1-5-21-1-2-3-1002)(A;;GA;;;SY)"};
const fake_named_mutex::account fake_named_mutex::local_system{{L"S-1-5-18", L"S-1-5-32-544"},
                                                               L"O:SYD:(A;;GA;;;SY)(A;;GRGX;;;BA)"};

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
