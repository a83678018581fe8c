// Service discovery: which services belong to an installed program, what is
// printed, and that a failure anywhere discards the whole file's services.
// The service manager is faked through the platform table; the files are
// real, so that the match is by the file system's own identity.
#include <gtest/gtest.h>

#include <set>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "discover_services.hpp"
#include "files.hpp"
#include "install_plan.hpp"
#include "win/service_query.hpp"

namespace brq_install {
namespace {

using win::api;
using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

struct fake_service {
  std::wstring name;
  std::wstring command_line;
  DWORD state = SERVICE_RUNNING;
  DWORD open_error = 0;   // OpenServiceW fails with this
  DWORD query_error = 0;  // the second QueryServiceConfigW fails with this
};

// The fake manager lists `listed` in batches of `batch` entries.
std::vector<fake_service> listed;
size_t batch = 100;
DWORD manager_error = 0, enum_error = 0;
std::vector<DWORD> resumes;         // the resume handle of every enumeration call
int open_handles = 0;               // service manager handles not yet closed
std::set<HLOCAL> argument_arrays;   // CommandLineToArgvW results not yet freed
SC_HANDLE const manager = reinterpret_cast<SC_HANDLE>(0x5C0);

SC_HANDLE WINAPI open_manager(const wchar_t* machine, const wchar_t* database, DWORD access) {
  if (manager_error != 0 || machine || database || access != SC_MANAGER_ENUMERATE_SERVICE) {
    ::SetLastError(manager_error != 0 ? manager_error : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ++open_handles;
  return manager;
}

BOOL WINAPI enumerate(SC_HANDLE scm, DWORD type, DWORD state, ENUM_SERVICE_STATUSW* entries, DWORD size,
                      DWORD* needed, DWORD* returned, DWORD* resume) {
  resumes.push_back(*resume);
  if (enum_error != 0 || scm != manager || type != SERVICE_WIN32 || state != SERVICE_STATE_ALL ||
      size != 16384) {
    ::SetLastError(enum_error != 0 ? enum_error : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The entries first, their names after them, as the system lays them out.
  size_t first = *resume, count = std::min(batch, listed.size() - first);
  auto* strings = reinterpret_cast<wchar_t*>(entries + count);
  auto store = [&](const std::wstring& text) {
    wchar_t* at = strings;
    strings = std::copy(text.begin(), text.end(), strings);
    *strings++ = L'\0';
    return at;
  };
  for (size_t i = 0; i < count; ++i) {
    const fake_service& service = listed[first + i];
    entries[i].lpServiceName = store(service.name);
    entries[i].lpDisplayName = store(L"Display " + service.name);
    entries[i].ServiceStatus = {SERVICE_WIN32_OWN_PROCESS, service.state, 1, 0, 0, 0, 0};
  }
  *returned = static_cast<DWORD>(count);
  *resume = static_cast<DWORD>(first + count);
  *needed = 0;
  if (first + count < listed.size()) {
    ::SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

const fake_service& of(SC_HANDLE handle) { return *reinterpret_cast<const fake_service*>(handle); }

SC_HANDLE WINAPI open_service(SC_HANDLE scm, const wchar_t* name, DWORD access) {
  for (const fake_service& service : listed) {
    if (service.name != name) continue;
    if (scm != manager || access != (SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)) break;
    if (service.open_error != 0) {
      ::SetLastError(service.open_error);
      return nullptr;
    }
    ++open_handles;
    return reinterpret_cast<SC_HANDLE>(const_cast<fake_service*>(&service));
  }
  ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return nullptr;
}

BOOL WINAPI query_config(SC_HANDLE handle, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
  const fake_service& service = of(handle);
  std::wstring strings[] = {service.command_line, L"group", std::wstring(L"first\0second\0", 14), L"LocalSystem",
                            L"Display " + service.name};
  DWORD total = sizeof(QUERY_SERVICE_CONFIGW);
  for (const auto& text : strings) total += static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  *needed = total;
  if (config == nullptr || size < total) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (service.query_error != 0) {
    ::SetLastError(service.query_error);
    return FALSE;
  }
  auto* at = reinterpret_cast<wchar_t*>(config + 1);
  wchar_t* pointers[5];
  for (int i = 0; i < 5; ++i) {
    pointers[i] = at;
    at = std::copy(strings[i].begin(), strings[i].end(), at);
    *at++ = L'\0';
  }
  *config = {SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, pointers[0], pointers[1], 7,
             pointers[2], pointers[3], pointers[4]};
  return TRUE;
}

BOOL WINAPI close_service(SC_HANDLE) {
  --open_handles;
  return TRUE;
}

wchar_t** WINAPI split(const wchar_t* command_line, int* count) {
  wchar_t** arguments = win::real_api.CommandLineToArgvW(command_line, count);
  argument_arrays.insert(arguments);
  return arguments;
}

HLOCAL WINAPI local_free(HLOCAL memory) {
  argument_arrays.erase(memory);
  return win::real_api.LocalFree(memory);
}

struct discover_services_test : ::testing::Test {
  testing::scoped_platform platform;
  testing::console_recorder console;
  // Blanks in the path, as under the program files directory.
  testing::temp_tree root{L" brq dir"}, elsewhere{L" other"};
  install_plan plan = build_install_plan();
  std::wstring server = root.file(L"qzv.ua.brq.exe");
  std::wstring ctrl = root.file(L"qzv.ua.brq.ctrl.exe");
  std::wstring copy = elsewhere.file(L"qzv.ua.brq.exe");

  void SetUp() override {
    listed.clear();
    batch = 100;
    manager_error = enum_error = 0;
    resumes.clear();
    open_handles = 0;
    argument_arrays.clear();
    api.OpenSCManagerW = &open_manager;
    api.EnumServicesStatusW = &enumerate;
    api.OpenServiceW = &open_service;
    api.QueryServiceConfigW = &query_config;
    api.CloseServiceHandle = &close_service;
    api.CommandLineToArgvW = &split;
    api.LocalFree = &local_free;
    plan.os = {10, 0, 19045, 0};
    plan.destination = root.path();
  }
  void TearDown() override {
    EXPECT_EQ(open_handles, 0);
    EXPECT_TRUE(argument_arrays.empty());
  }
  std::vector<std::wstring> names_of(const std::wstring& file) const {
    std::vector<std::wstring> names;
    if (auto it = plan.services.find(file); it != plan.services.end()) {
      for (const auto& record : it->second) names.push_back(record.name);
    }
    return names;
  }
  std::wstring quoted(const std::wstring& path) const { return L"\"" + path + L"\""; }
};

const std::string discovering_installed_files =
    "Discovering services for \"qzv.ua.brq.exe\"...\n"
    "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n";

TEST_F(discover_services_test, command_lines_match_by_the_file_their_first_argument_names) {
  struct {
    const char* what;
    std::wstring command_line;
    bool matches;
  } cases[] = {
      {"quoted, with arguments", quoted(server) + L" -service --port 4840", true},
      {"quoted", quoted(server), true},
      {"another letter case", quoted(root.path() + L"\\QZV.UA.BRQ.EXE"), true},
      {"a path through another directory", quoted(root.path() + L"\\..\\" +
                                                  root.path().substr(root.path().rfind(L'\\') + 1) +
                                                  L"\\qzv.ua.brq.exe"),
       true},
      {"unquoted, cut at the first blank", server, false},
      {"a copy in another directory", quoted(copy), false},
      {"another program", quoted(ctrl), false},
      {"empty", L"", false},
      {"a file that does not exist", quoted(root.path() + L"\\gone.exe"), false},
  };
  for (const auto& c : cases) {
    listed = {{L"svc", c.command_line}};
    std::vector<service_record> records;
    EXPECT_EQ(win::find_image_services(manager, server, records), 0u) << c.what;
    EXPECT_EQ(records.size(), c.matches ? 1u : 0u) << c.what;
  }
}

TEST_F(discover_services_test, a_short_name_matches_as_the_system_resolves_it) {
  // Wine makes no 8.3 names: here the file system resolves one as Windows
  // would, by opening the long path in its place.
  static std::wstring short_path, long_path;
  short_path = L"C:\\PROGRA~1\\QZVUA~1.EXE";
  long_path = server;
  api.CreateFileW = [](const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                       DWORD disposition, DWORD flags, HANDLE model) {
    const wchar_t* real = path == short_path ? long_path.c_str() : path;
    return win::real_api.CreateFileW(real, access, share, security, disposition, flags, model);
  };
  listed = {{L"svc", short_path + L" -arg"}};
  std::vector<service_record> records;
  EXPECT_EQ(win::find_image_services(manager, server, records), 0u);
  EXPECT_EQ(records.size(), 1u);
}

TEST_F(discover_services_test, services_are_found_across_batches_in_enumeration_order) {
  batch = 2;
  listed = {
      {L"first", quoted(server)},
      {L"other", quoted(copy)},
      {L"ctrl", quoted(ctrl) + L" run", SERVICE_STOPPED},
      {L"second", quoted(server) + L" -x", SERVICE_PAUSED},
      {L"third", quoted(server), 9},
  };
  EXPECT_TRUE(discover_services(plan));
  EXPECT_EQ(console.text(),
            "Discovering services for \"qzv.ua.brq.exe\"...\n"
            "  first -> running\n"
            "  second -> paused\n"
            "  third -> unknown\n"
            "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n"
            "  ctrl -> stopped\n");
  EXPECT_EQ(names_of(L"qzv.ua.brq.exe"), (std::vector<std::wstring>{L"first", L"second", L"third"}));
  EXPECT_EQ(names_of(L"qzv.ua.brq.ctrl.exe"), std::vector<std::wstring>{L"ctrl"});
  EXPECT_EQ(plan.services.size(), 2u);
  // Three batches per file, the resume handle carried from one to the next.
  EXPECT_EQ(resumes, (std::vector<DWORD>{0, 2, 4, 0, 2, 4}));
}

TEST_F(discover_services_test, records_hold_what_the_system_reported) {
  listed = {{L"first", quoted(server) + L" -x", SERVICE_STOP_PENDING}};
  discover_services(plan);
  const service_record& record = plan.services.at(L"qzv.ua.brq.exe").at(0);
  EXPECT_EQ(record.name, L"first");
  EXPECT_EQ(record.display_name, L"Display first");
  EXPECT_EQ(record.status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(record.status.dwControlsAccepted, 1u);
  EXPECT_EQ(record.config.service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(record.config.start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(record.config.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(record.config.command_line, quoted(server) + L" -x");
  EXPECT_EQ(record.config.load_order_group, L"group");
  EXPECT_EQ(record.config.tag_id, 7u);
  EXPECT_EQ(record.config.dependencies, L"first");  // the first name of the list
  EXPECT_EQ(record.config.service_start_name, L"LocalSystem");
  EXPECT_EQ(record.config.display_name, L"Display first");
}

TEST_F(discover_services_test, state_names) {
  const char* names[] = {"unknown",          "stopped",       "start pending", "stop pending", "running",
                         "continue pending", "pause pending", "paused",        "unknown"};
  for (DWORD state = 0; state < std::size(names); ++state) {
    EXPECT_EQ(service_state_name(state), names[state]) << state;
  }
  EXPECT_EQ(service_state_name(0xFFFFFFFF), "unknown");
}

TEST_F(discover_services_test, any_failure_discards_the_whole_file_and_the_next_file_follows) {
  struct {
    const char* what;
    DWORD manager_error, enum_error, open_error, query_error, code;
  } cases[] = {
      {"no connection", ERROR_ACCESS_DENIED, 0, 0, 0, ERROR_ACCESS_DENIED},
      {"enumeration refused", 0, ERROR_INVALID_HANDLE, 0, 0, ERROR_INVALID_HANDLE},
      {"a service deleted since it was listed", 0, 0, ERROR_SERVICE_DOES_NOT_EXIST, 0,
       ERROR_SERVICE_DOES_NOT_EXIST},
      {"a configuration that cannot be read", 0, 0, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    console.clear();
    plan.services.clear();
    manager_error = c.manager_error;
    enum_error = c.enum_error;
    batch = 1;
    // A match before the failing service, in an earlier batch.
    listed = {{L"first", quoted(server)}, {L"broken", L"", 4, c.open_error, c.query_error},
              {L"later", quoted(server)}};
    EXPECT_TRUE(discover_services(plan));
    std::string warning =
        "failed to enum services\n" + text_of(c.code) + "\nWill attempt to continue...\n";
    EXPECT_EQ(console.runs(), (std::vector<run>{
                                  {"Discovering services for \"qzv.ua.brq.exe\"...\n", plain},
                                  {warning, color_warning},
                                  {"Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n", plain},
                                  {warning, color_warning},
                              }))
        << c.what;
    EXPECT_TRUE(plan.services.empty()) << c.what;
    EXPECT_EQ(open_handles, 0) << c.what;
  }
}

TEST_F(discover_services_test, only_installed_executables_are_examined) {
  plan.files.clear();
  add_payload_file(plan, 1, "qzv.ua.brq.EXE");  // the server, in capitals
  add_payload_file(plan, 2, "readme.txt");      // not an executable
  add_payload_file(plan, 3, "exe");             // too short
  add_payload_file(plan, 4, "missing.exe");     // not installed
  add_payload_file(plan, 5, "sub.exe");         // a directory
  auto other_os = add_payload_file(plan, 6, "qzv.ua.brq.ctrl.exe");
  other_os->crt = crt_flavour::nt4;  // not for this Windows
  root.directory(L"sub.exe");
  root.file(L"readme.txt");
  root.file(L"exe");
  listed = {{L"any", quoted(ctrl)}};
  EXPECT_TRUE(discover_services(plan));
  EXPECT_EQ(console.text(), "Discovering services for \"qzv.ua.brq.EXE\"...\n");
  EXPECT_TRUE(plan.services.empty());
}

TEST_F(discover_services_test, a_first_installation_prints_nothing) {
  plan.destination = root.path() + L"\\not yet";
  listed = {{L"any", quoted(server)}};
  EXPECT_TRUE(discover_services(plan));
  EXPECT_EQ(console.text(), "");
  EXPECT_TRUE(plan.services.empty());
}

}  // namespace
}  // namespace brq_install
