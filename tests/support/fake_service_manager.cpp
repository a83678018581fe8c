#include "fake_service_manager.hpp"

#include <algorithm>
#include <cwctype>
#include <stdexcept>

namespace brq_install::test {

fake_service_manager* fake_service_manager::current = nullptr;

namespace {

using service = fake_service_manager::service;

fake_service_manager& manager() { return *fake_service_manager::current; }

template <typename Result = BOOL>
Result fail(DWORD error) {
  ::SetLastError(error);
  return Result{};
}

std::wstring upper(std::wstring_view text) {
  std::wstring result(text);
  for (wchar_t& c : result) c = static_cast<wchar_t>(std::towupper(c));
  return result;
}

bool pending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_CONTINUE_PENDING ||
         state == SERVICE_PAUSE_PENDING;
}

// The service behind `handle` if the handle was opened with `right`; null
// with the last error set otherwise.
service* opened_service(SC_HANDLE handle, DWORD right) {
  service_handle* opened = manager().lookup(handle);
  service* s = opened && !opened->manager ? manager().find(opened->name) : nullptr;
  if (s == nullptr) return fail<service*>(ERROR_INVALID_HANDLE);
  if ((opened->access & right) != right) return fail<service*>(ERROR_ACCESS_DENIED);
  manager().settle(*s);
  return s;
}

bool opened_manager(SC_HANDLE handle, DWORD right) {
  service_handle* opened = manager().lookup(handle);
  if (opened == nullptr || !opened->manager) return fail(ERROR_INVALID_HANDLE);
  if ((opened->access & right) != right) return fail(ERROR_ACCESS_DENIED);
  return true;
}

SC_HANDLE WINAPI open_sc_manager(const wchar_t* machine, const wchar_t* database, DWORD access) {
  fake_service_manager& m = manager();
  m.manager_access.push_back(access);
  if (machine != nullptr || database != nullptr) return fail<SC_HANDLE>(ERROR_INVALID_PARAMETER);
  if (m.open_error != 0) return fail<SC_HANDLE>(m.open_error);
  if (access & m.denied_access) return fail<SC_HANDLE>(ERROR_ACCESS_DENIED);
  return m.hand_out({true, L"", access | SC_MANAGER_CONNECT});
}

// A service marked for deletion goes when a handle to it is closed while it
// is stopped (the fake does not wait for the last of several handles).
BOOL WINAPI close_service_handle(SC_HANDLE handle) {
  fake_service_manager& m = manager();
  service_handle* opened = m.lookup(handle);
  std::wstring name = opened != nullptr && !opened->manager ? opened->name : L"";
  if (!m.close(handle)) return fail(ERROR_INVALID_HANDLE);
  if (service* s = name.empty() ? nullptr : m.find(name)) {
    m.settle(*s);
    if (s->marked_for_delete && s->state == SERVICE_STOPPED)
      m.services.erase(m.services.begin() + (s - m.services.data()));
  }
  return TRUE;
}

BOOL WINAPI delete_service(SC_HANDLE handle) {
  service* s = opened_service(handle, DELETE);
  if (s == nullptr) return FALSE;
  manager().requests.push_back(L"delete " + s->name);
  if (s->delete_error != 0) return fail(s->delete_error);
  if (s->marked_for_delete) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  s->marked_for_delete = true;
  return TRUE;
}

size_t entry_size(const service& s) {
  return sizeof(ENUM_SERVICE_STATUSW) + (s.name.size() + 1 + s.display_name.size() + 1) * sizeof(wchar_t);
}

// Whether `s` is in `state`: SERVICE_ACTIVE, SERVICE_INACTIVE or both.
bool in_state(const service& s, DWORD state) {
  DWORD wanted = s.state == SERVICE_STOPPED ? SERVICE_INACTIVE : SERVICE_ACTIVE;
  return (state & wanted) != 0;
}

bool listed(const service& s, DWORD type, DWORD state) { return (s.service_type & type) != 0 && in_state(s, state); }

// Copies as many entries of `list` from `first` on as fit into `buffer`,
// as the system lays them out: the entries from the start of the buffer,
// their strings from its end. Returns how many it copied.
size_t store_entries(ENUM_SERVICE_STATUSW* buffer, DWORD size, const std::vector<service*>& list, size_t first) {
  size_t count = 0, used = 0;
  while (buffer != nullptr && first + count < list.size() && used + entry_size(*list[first + count]) <= size) {
    used += entry_size(*list[first + count++]);
  }
  auto* strings_end = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(buffer) + (size & ~1u));
  auto store = [&](const std::wstring& text) {
    strings_end -= text.size() + 1;
    std::copy(text.c_str(), text.c_str() + text.size() + 1, strings_end);
    return strings_end;
  };
  for (size_t i = 0; i < count; ++i) {
    service& s = *list[first + i];
    buffer[i].lpServiceName = store(s.name);
    buffer[i].lpDisplayName = store(s.display_name);
    buffer[i].ServiceStatus = manager().status_of(s);
  }
  return count;
}

bool depends_on(const service& s, const std::wstring& name) {
  return std::any_of(s.dependencies.begin(), s.dependencies.end(),
                     [&](const std::wstring& dependency) { return upper(dependency) == upper(name); });
}

// Appends to `list` the services that depend on `s`, directly or through
// others, each one after those that depend on it in turn: the reverse of
// their start order. Those not in `state` are passed over, but not their
// own dependents. `seen` marks, by position, the services visited.
void collect_dependents(const service& s, DWORD state, std::vector<bool>& seen, std::vector<service*>& list) {
  fake_service_manager& m = manager();
  for (size_t i = 0; i < m.services.size(); ++i) {
    service& dependent = m.services[i];
    if (seen[i] || !depends_on(dependent, s.name)) continue;
    seen[i] = true;
    collect_dependents(dependent, state, seen, list);
    m.settle(dependent);
    if (in_state(dependent, state)) list.push_back(&dependent);
  }
}

std::vector<service*> dependents_of(const service& s, DWORD state) {
  fake_service_manager& m = manager();
  std::vector<bool> seen(m.services.size());
  seen[static_cast<size_t>(&s - m.services.data())] = true;  // a service naming itself is not its own dependent
  std::vector<service*> list;
  collect_dependents(s, state, seen, list);
  return list;
}

BOOL WINAPI enum_services_status(SC_HANDLE scm, DWORD type, DWORD state, ENUM_SERVICE_STATUSW* buffer, DWORD size,
                                 DWORD* needed, DWORD* returned, DWORD* resume) {
  fake_service_manager& m = manager();
  m.enum_sizes.push_back(size);
  m.enum_resumes.push_back(resume != nullptr ? *resume : 0);
  if (!opened_manager(scm, SC_MANAGER_ENUMERATE_SERVICE)) return FALSE;
  if (type == 0 || state == 0) return fail(ERROR_INVALID_PARAMETER);
  if (m.enum_error != 0) return fail(m.enum_error);

  std::vector<service*> list;
  for (service& s : m.services) {
    m.settle(s);
    if (listed(s, type, state)) list.push_back(&s);
  }
  size_t first = m.wine_enumeration || resume == nullptr ? 0 : std::min<size_t>(*resume, list.size());
  size_t count = store_entries(buffer, size, list, first);
  *returned = static_cast<DWORD>(count);
  *needed = 0;
  if (first + count == list.size()) {
    if (resume != nullptr && !m.wine_enumeration) *resume = 0;
    return TRUE;
  }
  for (size_t i = m.wine_enumeration ? 0 : first + count; i < list.size(); ++i) {
    *needed += static_cast<DWORD>(entry_size(*list[i]));
  }
  if (resume != nullptr && !m.wine_enumeration) *resume = static_cast<DWORD>(first + count);
  return fail(ERROR_MORE_DATA);
}

SC_HANDLE WINAPI open_service(SC_HANDLE scm, const wchar_t* name, DWORD access) {
  fake_service_manager& m = manager();
  if (!opened_manager(scm, SC_MANAGER_CONNECT)) return nullptr;
  m.service_access.emplace_back(name, access);
  service* s = m.find(name);
  if (s == nullptr) return fail<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST);
  if (s->open_error != 0) return fail<SC_HANDLE>(s->open_error);
  if (access & s->denied_access) return fail<SC_HANDLE>(ERROR_ACCESS_DENIED);
  return m.hand_out({false, s->name, access});
}

BOOL WINAPI query_service_config(SC_HANDLE handle, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
  service* s = opened_service(handle, SERVICE_QUERY_CONFIG);
  if (s == nullptr) return FALSE;
  std::wstring dependencies;  // each name ends in a null, the list in one more
  for (const std::wstring& name : s->dependencies) dependencies += name + L'\0';
  const std::wstring* strings[] = {&s->command_line, &s->load_order_group, &dependencies, &s->account,
                                   &s->display_name};
  DWORD total = sizeof(QUERY_SERVICE_CONFIGW);
  for (const std::wstring* text : strings) total += static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
  *needed = total;
  if (config == nullptr || size < total) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (s->config_error != 0) return fail(s->config_error);

  auto* at = reinterpret_cast<wchar_t*>(config + 1);
  wchar_t* copies[std::size(strings)];
  for (size_t i = 0; i < std::size(strings); ++i) {
    copies[i] = at;
    at = std::copy(strings[i]->c_str(), strings[i]->c_str() + strings[i]->size() + 1, at);
  }
  *config = {s->service_type, s->start_type, s->error_control, copies[0], copies[1],
             s->tag_id,       copies[2],     copies[3],        copies[4]};
  return TRUE;
}

SC_HANDLE WINAPI create_service(SC_HANDLE scm, const wchar_t* name, const wchar_t* display_name, DWORD access,
                                DWORD type, DWORD start_type, DWORD error_control, const wchar_t* command_line,
                                const wchar_t* group, DWORD* tag, const wchar_t* dependencies, const wchar_t* account,
                                const wchar_t* password) {
  fake_service_manager& m = manager();
  if (!opened_manager(scm, SC_MANAGER_CREATE_SERVICE)) return nullptr;
  m.requests.push_back(L"create " + std::wstring(name));
  if (m.create_error != 0) return fail<SC_HANDLE>(m.create_error);
  if (*name == L'\0' || *command_line == L'\0') return fail<SC_HANDLE>(ERROR_INVALID_PARAMETER);
  if (service* existing = m.find(name)) {
    return fail<SC_HANDLE>(existing->marked_for_delete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
  }
  std::wstring shown = display_name != nullptr && *display_name != L'\0' ? display_name : name;
  for (const service& other : m.services) {
    if (upper(other.name) == upper(shown) || upper(other.display_name) == upper(shown)) {
      return fail<SC_HANDLE>(ERROR_DUPLICATE_SERVICE_NAME);
    }
  }
  service s{.name = name,
            .display_name = shown,
            .command_line = command_line,
            .service_type = type,
            .start_type = start_type,
            .error_control = error_control,
            .account = account != nullptr ? account : L"LocalSystem",
            .description = {},
            .recovery = {},
            .load_order_group = group != nullptr ? group : L"",
            .tag_id = tag != nullptr ? (*tag = 1) : 0,
            .dependencies = {},
            .password = password != nullptr ? password : L""};
  for (const wchar_t* d = dependencies; d != nullptr && *d != L'\0'; d += std::wcslen(d) + 1) {
    s.dependencies.emplace_back(d);
  }
  m.add(std::move(s));
  return m.hand_out({false, name, access});
}

BOOL WINAPI change_service_config2(SC_HANDLE handle, DWORD level, void* info) {
  service* s = opened_service(handle, SERVICE_CHANGE_CONFIG);
  if (s == nullptr) return FALSE;
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    if (manager().recover_error != 0) return fail(manager().recover_error);
    const auto* failure = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    std::wstring recovery = L"reset " + std::to_wstring(failure->dwResetPeriod);
    for (DWORD i = 0; i < failure->cActions; ++i) {
      const SC_ACTION& action = failure->lpsaActions[i];
      // A restart is an action the handle must be allowed to take.
      if (action.Type == SC_ACTION_RESTART && opened_service(handle, SERVICE_START) == nullptr) return FALSE;
      recovery += (action.Type == SC_ACTION_RESTART ? L", restart " + std::to_wstring(action.Delay) : L", none");
    }
    s->recovery = recovery + (s->recovery.ends_with(L"; on error exit") ? L"; on error exit" : L"");
    return TRUE;
  }
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    if (static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures)
      s->recovery += L"; on error exit";
    return TRUE;
  }
  if (level != SERVICE_CONFIG_DESCRIPTION) return fail(ERROR_INVALID_LEVEL);
  manager().requests.push_back(L"describe " + s->name);
  if (manager().describe_error != 0) return fail(manager().describe_error);
  const wchar_t* text = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
  if (text != nullptr) s->description = text;  // null leaves it as it was
  return TRUE;
}

BOOL WINAPI control_service(SC_HANDLE handle, DWORD control, SERVICE_STATUS* status) {
  if (control != SERVICE_CONTROL_STOP) return fail(ERROR_INVALID_SERVICE_CONTROL);  // the only one it knows
  service* s = opened_service(handle, SERVICE_STOP);
  if (s == nullptr) return FALSE;
  fake_service_manager& m = manager();
  m.requests.push_back(L"stop " + s->name);
  if (s->control_error != 0) return fail(s->control_error);
  // The refusals report the status as well.
  auto answer = [&](DWORD error) {
    *status = m.status_of(*s);
    return error == 0 ? TRUE : fail(error);
  };
  if (!dependents_of(*s, SERVICE_ACTIVE).empty()) return answer(ERROR_DEPENDENT_SERVICES_RUNNING);
  if (s->state == SERVICE_STOPPED) return answer(ERROR_SERVICE_NOT_ACTIVE);
  if (s->state == SERVICE_START_PENDING || s->state == SERVICE_STOP_PENDING) {
    return answer(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  }
  if ((s->controls_accepted & SERVICE_ACCEPT_STOP) == 0) return answer(ERROR_INVALID_SERVICE_CONTROL);
  m.start_pending(*s, SERVICE_STOP_PENDING, s->stop_ms, SERVICE_STOPPED);
  return answer(0);
}

BOOL WINAPI start_service(SC_HANDLE handle, DWORD count, const wchar_t** arguments) {
  service* s = opened_service(handle, SERVICE_START);
  if (s == nullptr) return FALSE;
  fake_service_manager& m = manager();
  m.requests.push_back(L"start " + s->name + (count != 0 || arguments != nullptr ? L" with arguments" : L""));
  if (s->start_error != 0) return fail(s->start_error);
  if (s->marked_for_delete) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (s->start_type == SERVICE_DISABLED) return fail(ERROR_SERVICE_DISABLED);
  if (s->state != SERVICE_STOPPED) return fail(ERROR_SERVICE_ALREADY_RUNNING);
  m.start_pending(*s, SERVICE_START_PENDING, s->start_ms, s->start_fails ? SERVICE_STOPPED : SERVICE_RUNNING);
  return TRUE;
}

BOOL WINAPI query_service_status(SC_HANDLE handle, SERVICE_STATUS* status) {
  service* s = opened_service(handle, SERVICE_QUERY_STATUS);
  if (s == nullptr) return FALSE;
  if (s->status_error != 0) return fail(s->status_error);
  *status = manager().status_of(*s);
  return TRUE;
}

// All of the list or, in a buffer too small, as much as fits with
// ERROR_MORE_DATA and the size of all of it.
BOOL WINAPI enum_dependent_services(SC_HANDLE handle, DWORD state, ENUM_SERVICE_STATUSW* buffer, DWORD size,
                                    DWORD* needed, DWORD* returned) {
  service* s = opened_service(handle, SERVICE_ENUMERATE_DEPENDENTS);
  if (s == nullptr) return FALSE;
  if (state == 0 || (state & ~SERVICE_STATE_ALL) != 0) return fail(ERROR_INVALID_PARAMETER);
  std::vector<service*> list = dependents_of(*s, state);
  size_t total = 0;
  for (const service* dependent : list) total += entry_size(*dependent);
  *needed = static_cast<DWORD>(total);
  *returned = static_cast<DWORD>(store_entries(buffer, size, list, 0));
  if (*returned < list.size()) return fail(ERROR_MORE_DATA);
  if (s->dependents_error != 0) return fail(s->dependents_error);
  return TRUE;
}

BOOL WINAPI query_service_status_ex(SC_HANDLE handle, SC_STATUS_TYPE level, BYTE* buffer, DWORD size, DWORD* needed) {
  service* s = opened_service(handle, SERVICE_QUERY_STATUS);
  if (s == nullptr) return FALSE;
  if (level != SC_STATUS_PROCESS_INFO) return fail(ERROR_INVALID_LEVEL);
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (buffer == nullptr || size < sizeof(SERVICE_STATUS_PROCESS)) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (s->status_error != 0) return fail(s->status_error);
  SERVICE_STATUS status = manager().status_of(*s);
  SERVICE_STATUS_PROCESS with_process = {status.dwServiceType,
                                         status.dwCurrentState,
                                         status.dwControlsAccepted,
                                         status.dwWin32ExitCode,
                                         status.dwServiceSpecificExitCode,
                                         status.dwCheckPoint,
                                         status.dwWaitHint,
                                         s->state == SERVICE_STOPPED ? 0 : s->process_id,
                                         0};
  std::copy_n(reinterpret_cast<const BYTE*>(&with_process), sizeof with_process, buffer);
  return TRUE;
}

}  // namespace

fake_service_manager::fake_service_manager(fake_clock& clock)
    : fake_handles(0x5C00'0000'0000'0000, "service"), clock_(clock) {
  current = this;
  win::api.OpenSCManagerW = &open_sc_manager;
  win::api.CloseServiceHandle = &close_service_handle;
  win::api.EnumServicesStatusW = &enum_services_status;
  win::api.OpenServiceW = &open_service;
  win::api.QueryServiceConfigW = &query_service_config;
  win::api.CreateServiceW = &create_service;
  win::api.DeleteService = &delete_service;
  win::api.ChangeServiceConfig2W = &change_service_config2;
  win::api.ControlService = &control_service;
  win::api.StartServiceW = &start_service;
  win::api.QueryServiceStatus = &query_service_status;
  win::api.QueryServiceStatusEx = &query_service_status_ex;
  win::api.EnumDependentServicesW = &enum_dependent_services;
}

fake_service_manager::~fake_service_manager() { current = nullptr; }

fake_service_manager::service& fake_service_manager::add(service s) {
  if (s.display_name.empty()) s.display_name = s.name;
  services.push_back(std::move(s));
  service& added = services.back();
  DWORD state = added.state;
  bool starting = state == SERVICE_START_PENDING || state == SERVICE_CONTINUE_PENDING;
  DWORD end = state == SERVICE_STOP_PENDING    ? SERVICE_STOPPED
              : state == SERVICE_PAUSE_PENDING ? SERVICE_PAUSED
              : added.start_fails              ? SERVICE_STOPPED
                                               : SERVICE_RUNNING;
  if (pending(state)) start_pending(added, state, starting ? added.start_ms : added.stop_ms, end);
  return added;
}

fake_service_manager::service* fake_service_manager::find(std::wstring_view name) {
  // Indexed anew when the index misses: tests change `services` freely.
  std::wstring key = upper(name);
  auto indexed = [&]() -> service* {
    auto it = index_.find(key);
    bool hit = it != index_.end() && it->second < services.size() && upper(services[it->second].name) == key;
    return hit ? &services[it->second] : nullptr;
  };
  if (service* s = indexed()) return s;
  index_.clear();
  for (size_t i = 0; i < services.size(); ++i) index_.emplace(upper(services[i].name), i);
  return indexed();
}

fake_service_manager::service& fake_service_manager::at(std::wstring_view name) {
  service* s = find(name);
  if (s == nullptr) throw std::runtime_error("no such fake service");
  return *s;
}

SERVICE_STATUS fake_service_manager::status_of(service& s) {
  settle(s);
  SERVICE_STATUS status{};
  status.dwServiceType = s.service_type;
  status.dwCurrentState = s.state;
  bool accepts = s.state != SERVICE_STOPPED && s.state != SERVICE_START_PENDING && s.state != SERVICE_STOP_PENDING;
  status.dwControlsAccepted = accepts ? s.controls_accepted : 0;
  if (pending(s.state)) {
    status.dwWaitHint = s.wait_hint;
    status.dwCheckPoint = s.check_point_ms != 0 ? 1 + (clock_.now - s.pending_since) / s.check_point_ms : 1;
  }
  return status;
}

void fake_service_manager::start_pending(service& s, DWORD state, DWORD ms, DWORD end_state) {
  s.state = ms == 0 ? end_state : state;
  s.pending_since = clock_.now;
  s.pending_ms = ms;
  s.pending_end = end_state;
}

void fake_service_manager::settle(service& s) {
  // Unsigned arithmetic keeps this right across the tick counter's wrap.
  if (pending(s.state) && s.pending_ms != never && clock_.now - s.pending_since >= s.pending_ms) {
    s.state = s.pending_end;
  }
}

}  // namespace brq_install::test
