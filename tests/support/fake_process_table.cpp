#include "fake_process_table.hpp"

#include <algorithm>

namespace brq_install::test {

fake_process_table* fake_process_table::current = nullptr;

namespace {

using process = fake_process_table::process;

fake_process_table& table() { return *fake_process_table::current; }

template <typename Result>
Result fail(DWORD error, Result result) {
  ::SetLastError(error);
  return result;
}

// The process behind `handle` if the handle was opened with every right in
// `rights`; null with the last error set otherwise.
process* opened_process(HANDLE handle, DWORD rights) {
  process_handle* opened = table().lookup(handle);
  if (opened == nullptr) return fail(ERROR_INVALID_HANDLE, nullptr);
  if ((opened->access & rights) != rights) return fail(ERROR_ACCESS_DENIED, nullptr);
  return table().find(opened->id);
}

BOOL WINAPI enum_processes(DWORD* ids, DWORD size, DWORD* returned) {
  fake_process_table& t = table();
  t.enum_sizes.push_back(size);
  if (t.enum_error != 0) return fail(t.enum_error, FALSE);
  if (ids == nullptr || returned == nullptr) return fail(ERROR_NOACCESS, FALSE);
  DWORD count = 0;
  for (const process& p : t.processes) {
    if (p.ended) continue;
    if ((count + 1) * sizeof(DWORD) > size) break;
    ids[count++] = p.id;
  }
  *returned = count * sizeof(DWORD);
  return TRUE;
}

HANDLE WINAPI open_process(DWORD access, BOOL, DWORD id) {
  fake_process_table& t = table();
  t.opens.emplace_back(id, access);
  if (t.on_open) t.on_open(id, access);
  process* p = t.find(id);
  if (p == nullptr || (p->ended && !p->held)) return fail(ERROR_INVALID_PARAMETER, HANDLE{});
  if (p->open_error != 0) return fail(p->open_error, HANDLE{});
  if (access & p->denied_access) return fail(ERROR_ACCESS_DENIED, HANDLE{});
  if (p->other_user && !t.debug_enabled) return fail(ERROR_ACCESS_DENIED, HANDLE{});
  return t.hand_out({id, access});
}

// As the system answers: the whole path and its length, or
// ERROR_INSUFFICIENT_BUFFER when the path and its null do not fit.
BOOL WINAPI image_name(HANDLE handle, DWORD flags, wchar_t* name, DWORD* size) {
  process* p = opened_process(handle, PROCESS_QUERY_LIMITED_INFORMATION);
  if (p == nullptr) return FALSE;
  if (flags != 0) return fail(ERROR_INVALID_PARAMETER, FALSE);
  if (p->ended) return fail(ERROR_PARTIAL_COPY, FALSE);
  if (p->module_error != 0) return fail(p->module_error, FALSE);
  if (p->module.size() >= *size) return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::copy(p->module.c_str(), p->module.c_str() + p->module.size() + 1, name);
  *size = static_cast<DWORD>(p->module.size());
  return TRUE;
}

// The caller's token: a handle of the table with no process behind it.
constexpr DWORD token_id = 0;
constexpr LUID debug_luid{20, 0};  // SE_DEBUG_PRIVILEGE

BOOL WINAPI open_token(HANDLE, DWORD access, HANDLE* token) {
  *token = table().hand_out({token_id, access});
  return TRUE;
}

BOOL WINAPI lookup_privilege(const wchar_t* system, const wchar_t* name, LUID* luid) {
  if (system != nullptr || std::wstring_view(name) != SE_DEBUG_NAME) return fail(ERROR_NO_SUCH_PRIVILEGE, FALSE);
  *luid = debug_luid;
  return TRUE;
}

// Sets the privilege as asked and hands back what changed, as the system
// does; a privilege the token does not hold succeeds with
// ERROR_NOT_ALL_ASSIGNED.
BOOL WINAPI adjust_privileges(HANDLE token, BOOL, TOKEN_PRIVILEGES* state, DWORD size, TOKEN_PRIVILEGES* previous,
                              DWORD*) {
  process_handle* opened = table().lookup(token);
  if (opened == nullptr || opened->id != token_id) return fail(ERROR_INVALID_HANDLE, FALSE);
  if ((opened->access & TOKEN_ADJUST_PRIVILEGES) == 0) return fail(ERROR_ACCESS_DENIED, FALSE);
  // The previous state is read from the token: that needs TOKEN_QUERY too.
  if (previous != nullptr && (opened->access & TOKEN_QUERY) == 0) return fail(ERROR_ACCESS_DENIED, FALSE);
  if (previous != nullptr && size < sizeof(TOKEN_PRIVILEGES)) return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  if (previous != nullptr) previous->PrivilegeCount = 0;
  bool& enabled = table().debug_enabled;
  for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& asked = state->Privileges[i];
    if (asked.Luid.LowPart != debug_luid.LowPart || !table().holds_debug_privilege)
      return fail(ERROR_NOT_ALL_ASSIGNED, TRUE);
    bool enable = (asked.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (enable != enabled && previous != nullptr) {
      previous->Privileges[previous->PrivilegeCount++] = {debug_luid, enabled ? SE_PRIVILEGE_ENABLED : 0u};
    }
    enabled = enable;
  }
  return fail(ERROR_SUCCESS, TRUE);
}

BOOL WINAPI terminate_process(HANDLE handle, UINT exit_code) {
  process* p = opened_process(handle, PROCESS_TERMINATE);
  if (p == nullptr) return FALSE;
  if (p->terminate_error != 0) return fail(p->terminate_error, FALSE);
  if (p->ended) return fail(ERROR_ACCESS_DENIED, FALSE);
  p->ended = true;
  p->exit_code = exit_code;
  table().terminated.emplace_back(p->id, exit_code);
  return TRUE;
}

BOOL WINAPI close_handle(HANDLE handle) {
  fake_process_table& t = table();
  if (!t.owns(handle)) return t.previous_close(handle);
  return t.close(handle) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
}

DWORD WINAPI wait_for_single_object(HANDLE handle, DWORD milliseconds) {
  fake_process_table& t = table();
  if (!t.owns(handle)) return t.previous_wait(handle, milliseconds);
  process_handle* opened = t.lookup(handle);
  if (opened == nullptr) return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  if ((opened->access & SYNCHRONIZE) == 0) return fail(ERROR_ACCESS_DENIED, WAIT_FAILED);
  const process* p = t.find(opened->id);
  return p == nullptr || p->ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Never the real id, which may be one of the table's.
DWORD WINAPI current_process_id() { return table().self; }

DWORD WINAPI module_file_name(HMODULE module, wchar_t* buffer, DWORD size) {
  const process* p = module == nullptr ? table().find(table().self) : nullptr;
  if (p == nullptr) return ::GetModuleFileNameW(module, buffer, size);
  DWORD length = std::min(static_cast<DWORD>(p->module.size()), size - 1);  // cut short, as Windows does
  std::copy_n(p->module.begin(), length, buffer);
  buffer[length] = L'\0';
  return length;
}

}  // namespace

fake_process_table::fake_process_table()
    : fake_handles(0x9E00'0000'0000'0000, "process"),
      previous_close(win::api.CloseHandle),
      previous_wait(win::api.WaitForSingleObject) {
  current = this;
  win::api.K32EnumProcesses = &enum_processes;
  win::api.OpenProcess = &open_process;
  win::api.QueryFullProcessImageNameW = &image_name;
  win::api.OpenProcessToken = &open_token;
  win::api.LookupPrivilegeValueW = &lookup_privilege;
  win::api.AdjustTokenPrivileges = &adjust_privileges;
  win::api.TerminateProcess = &terminate_process;
  win::api.CloseHandle = &close_handle;
  win::api.WaitForSingleObject = &wait_for_single_object;
  win::api.GetCurrentProcessId = &current_process_id;
  win::api.GetModuleFileNameW = &module_file_name;
}

fake_process_table::~fake_process_table() { current = nullptr; }

fake_process_table::process& fake_process_table::add(DWORD id, std::wstring module) {
  processes.push_back(process{id, std::move(module)});
  return processes.back();
}

fake_process_table::process* fake_process_table::find(DWORD id) {
  // The last one of an id: a test may add a new process under an old id.
  auto it = std::find_if(processes.rbegin(), processes.rend(), [&](const process& p) { return p.id == id; });
  return it != processes.rend() ? &*it : nullptr;
}

}  // namespace brq_install::test
