#include "win/named_mutex.hpp"

namespace brq_install::win {

namespace {

// Owned by BUILTIN\Administrators, whoever of them creates it (the creator's
// own account owns it by default where policy says "Object creator");
// all access for LocalSystem and Administrators, none for anyone else.
// Without it the mutex takes its creator's default security, and what one
// administrator's run, an agent's run as LocalSystem and the policy of the
// day give each other differs from machine to machine.
constexpr const wchar_t* mutex_security = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

DWORD open_named_mutex(const wchar_t* name, unique_handle& mutex, bool& existed) {
  unique_hlocal descriptor;
  if (!api.ConvertStringSecurityDescriptorToSecurityDescriptorW(mutex_security, SDDL_REVISION_1, descriptor.put(),
                                                                nullptr)) {
    return last_error();
  }
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  // READ_CONTROL: GetSecurityInfo reads the owner only through a handle
  // opened with it.
  mutex.reset(api.CreateMutexExW(&security, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL));
  existed = mutex && api.GetLastError() == ERROR_ALREADY_EXISTS;
  return mutex ? ERROR_SUCCESS : last_error();
}

DWORD mutex_owner_is_administrator(HANDLE mutex, bool& trusted) {
  trusted = false;
  PSID owner = nullptr;
  unique_hlocal descriptor;
  // Returns its code rather than setting the last error.
  DWORD error = api.GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                    nullptr, descriptor.put());
  if (error != ERROR_SUCCESS) return error;
  // Wine only: it answers with a descriptor that has no owner, which cannot
  // be judged; Windows always gives an object an owner.
  trusted = owner == nullptr || api.IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            api.IsWellKnownSid(owner, WinLocalSystemSid);
  return ERROR_SUCCESS;
}

DWORD own_mutex(HANDLE mutex, DWORD timeout_ms, mutex_wait& outcome) {
  outcome = mutex_wait::busy;
  switch (api.WaitForSingleObject(mutex, timeout_ms)) {
    case WAIT_OBJECT_0: outcome = mutex_wait::owned; return ERROR_SUCCESS;
    case WAIT_ABANDONED:  // a run that died: its work is to be redone, by us
      outcome = mutex_wait::abandoned;
      return ERROR_SUCCESS;
    case WAIT_TIMEOUT: return ERROR_SUCCESS;
    default: return last_error();
  }
}

}  // namespace brq_install::win
