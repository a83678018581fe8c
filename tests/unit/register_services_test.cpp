// Service registration: when a service is created and with what settings,
// what is printed, and that a refused creation ends the step.
#include <gtest/gtest.h>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "install_plan.hpp"
#include "register_services.hpp"

namespace brq_install {
namespace {

using win::api;
using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

// What CreateServiceW was asked for.
struct created_service {
  std::wstring name, display_name, command_line;
  DWORD access, type, start, error_control;
  bool defaults;  // no group, tag, dependencies, account or password
  std::wstring description;
  bool description_set = false;
};

std::vector<created_service> created;
DWORD manager_error = 0, create_error = 0;
bool description_fails = false;
int open_handles = 0;
SC_HANDLE const manager = reinterpret_cast<SC_HANDLE>(0x5C0);

SC_HANDLE WINAPI open_manager(const wchar_t* machine, const wchar_t* database, DWORD access) {
  if (manager_error != 0 || machine || database || access != SC_MANAGER_CREATE_SERVICE) {
    ::SetLastError(manager_error != 0 ? manager_error : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ++open_handles;
  return manager;
}

SC_HANDLE WINAPI create(SC_HANDLE scm, const wchar_t* name, const wchar_t* display_name, DWORD access,
                        DWORD type, DWORD start, DWORD error_control, const wchar_t* command_line,
                        const wchar_t* group, DWORD* tag, const wchar_t* dependencies, const wchar_t* account,
                        const wchar_t* password) {
  if (scm != manager || create_error != 0) {
    ::SetLastError(create_error != 0 ? create_error : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  created.push_back({name, display_name, command_line, access, type, start, error_control,
                     !group && !tag && !dependencies && !account && !password});
  ++open_handles;
  return reinterpret_cast<SC_HANDLE>(0x5E0);
}

BOOL WINAPI describe(SC_HANDLE service, DWORD level, void* info) {
  if (service != reinterpret_cast<SC_HANDLE>(0x5E0) || level != SERVICE_CONFIG_DESCRIPTION) return FALSE;
  created.back().description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
  created.back().description_set = true;
  if (description_fails) ::SetLastError(ERROR_ACCESS_DENIED);
  return !description_fails;
}

BOOL WINAPI close_service(SC_HANDLE) {
  --open_handles;
  return TRUE;
}

struct register_services_test : ::testing::Test {
  testing::scoped_platform platform;
  testing::console_recorder console;
  install_plan plan = build_install_plan();
  const std::wstring server_command_line = L"\"C:\\Program Files\\brq\\qzv.ua.brq.exe\"";

  void SetUp() override {
    created.clear();
    manager_error = create_error = 0;
    description_fails = false;
    open_handles = 0;
    api.OpenSCManagerW = &open_manager;
    api.CreateServiceW = &create;
    api.ChangeServiceConfig2W = &describe;
    api.CloseServiceHandle = &close_service;
    plan.os = {10, 0, 19045, 0};
    plan.destination = L"C:\\Program Files\\brq";
  }
  void TearDown() override { EXPECT_EQ(open_handles, 0); }
};

TEST_F(register_services_test, creates_the_server_service_with_its_settings) {
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{{"Registering service \"QZVOPCUA.BRQ\"... ok\n", plain}}));
  ASSERT_EQ(created.size(), 1u);
  const created_service& service = created[0];
  EXPECT_EQ(service.name, L"QZVOPCUA.BRQ");
  EXPECT_EQ(service.display_name, L"qzv OPCUA server for BRQ");
  EXPECT_EQ(service.command_line, server_command_line);
  EXPECT_EQ(service.access, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  EXPECT_EQ(service.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(service.start, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(service.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_TRUE(service.defaults);
  EXPECT_EQ(service.description, L"qzv BRQ opcua server 1.0.0.0, 64-bit");
  EXPECT_EQ(plan.registered, std::vector<std::wstring>{L"QZVOPCUA.BRQ"});
}

TEST_F(register_services_test, command_line_carries_service_arguments_only_when_there_are_some) {
  EXPECT_EQ(service_command_line(plan, *plan.files[0]), server_command_line);
  plan.files[0]->service_args = L"-port 4840 \"a b\"";
  EXPECT_EQ(service_command_line(plan, *plan.files[0]), server_command_line + L" -port 4840 \"a b\"");
  register_services(plan);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].command_line, server_command_line + L" -port 4840 \"a b\"");
}

TEST_F(register_services_test, a_description_is_set_even_when_empty_and_its_failure_is_no_failure) {
  plan.files[0]->description.clear();
  description_fails = true;
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.text(), "Registering service \"QZVOPCUA.BRQ\"... ok\n");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_TRUE(created[0].description_set);
  EXPECT_EQ(created[0].description, L"");
  EXPECT_EQ(plan.registered, std::vector<std::wstring>{L"QZVOPCUA.BRQ"});
}

TEST_F(register_services_test, a_file_with_a_discovered_service_is_not_registered_again) {
  service_record other;
  other.name = L"SomeoneElse";  // whatever its name, it runs the server file
  other.status.dwCurrentState = SERVICE_STOPPED;
  plan.services[L"qzv.ua.brq.exe"] = {other};
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{{"Other services were already registered for \"qzv.ua.brq.exe\"\n"
                                               "Will attempt to continue...\n",
                                               color_warning}}));
  EXPECT_EQ(console.attribute(), plain);
  EXPECT_TRUE(created.empty());
  EXPECT_TRUE(plan.registered.empty());
}

TEST_F(register_services_test, a_refused_creation_ends_the_step_with_the_error_block) {
  // A second service file after the first must not be looked at.
  auto second = add_payload_file(plan, 104, "second.exe");
  second->service = true;
  second->service_name = L"SECOND";
  struct {
    DWORD manager_error, create_error, code;
  } cases[] = {
      {ERROR_ACCESS_DENIED, 0, ERROR_ACCESS_DENIED},
      {0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {0, ERROR_SERVICE_EXISTS, ERROR_SERVICE_EXISTS},
      {0, ERROR_SERVICE_MARKED_FOR_DELETE, ERROR_SERVICE_MARKED_FOR_DELETE},
  };
  for (const auto& c : cases) {
    console.clear();
    manager_error = c.manager_error;
    create_error = c.create_error;
    EXPECT_FALSE(register_services(plan));
    EXPECT_EQ(console.runs(), (std::vector<run>{{"Registering service \"QZVOPCUA.BRQ\"... ", plain},
                                                {"failed\n" + text_of(c.code) + "\n", color_error}}))
        << c.code;
    EXPECT_TRUE(plan.registered.empty());
    EXPECT_EQ(open_handles, 0);
  }
}

TEST_F(register_services_test, files_without_a_service_or_for_another_windows_are_passed_over) {
  plan.files[0]->crt = crt_flavour::nt4;
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.text(), "");
  EXPECT_TRUE(created.empty());
}

}  // namespace
}  // namespace brq_install
