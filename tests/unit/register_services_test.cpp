// Service registration: when a service is created and with what settings,
// what is printed, and that a refused creation ends the step.
#include "unit_prelude.hpp"

#include "fake_service_manager.hpp"
#include "product.h"
#include "register_services.hpp"

namespace brq_install {
namespace {

struct register_services_test : ::testing::Test {
  test::fake_clock clock;
  test::fake_service_manager scm{clock};
  test::console_recorder console;
  test::temp_tree destination;  // where the run's record is written
  install_plan plan = test::product_plan(destination.path());
  const std::wstring server_command_line = L"\"" + destination.path() + L"\\qzv.ua.brq.exe\"";
};

TEST_F(register_services_test, creates_the_server_service_with_its_settings) {
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{{"Registering service \"QZVOPCUA.BRQ\"... ok\n", plain}}));
  ASSERT_EQ(scm.services.size(), 1u);
  // The settings Wine's service manager reports are checked on it by the
  // installation test; these are the ones it does not show.
  const auto& service = scm.services[0];
  EXPECT_EQ(service.password, L"");
  EXPECT_EQ(service.load_order_group, L"");
  EXPECT_TRUE(service.dependencies.empty());
  EXPECT_EQ(service.description, L"" BRQ_SERVER_DESCRIPTION);
  EXPECT_EQ(service.recovery, L"reset 86400, restart 60000, restart 60000, none; on error exit");
  EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(plan.registered, std::vector<std::wstring>{L"QZVOPCUA.BRQ"});
  EXPECT_EQ(scm.manager_access, std::vector<DWORD>{SC_MANAGER_CREATE_SERVICE});
}

TEST_F(register_services_test, command_line_carries_service_arguments_only_when_there_are_some) {
  EXPECT_EQ(service_command_line(plan.files[0]), server_command_line);
  plan.files[0].service_args = L"-port 4840 \"a b\"";
  EXPECT_EQ(service_command_line(plan.files[0]), server_command_line + L" -port 4840 \"a b\"");
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(scm.at(L"QZVOPCUA.BRQ").command_line, server_command_line + L" -port 4840 \"a b\"");
}

TEST_F(register_services_test, a_description_is_set_even_when_empty_and_its_failure_is_no_failure) {
  plan.files[0].description = L"";
  scm.describe_error = ERROR_ACCESS_DENIED;
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.text(), "Registering service \"QZVOPCUA.BRQ\"... ok\n");
  EXPECT_EQ(scm.requests, (std::vector<std::wstring>{L"create QZVOPCUA.BRQ", L"describe QZVOPCUA.BRQ"}));
  EXPECT_EQ(plan.registered, std::vector<std::wstring>{L"QZVOPCUA.BRQ"});
}

TEST_F(register_services_test, a_file_with_a_discovered_service_is_not_registered_again) {
  service_record other;
  other.name = L"SomeoneElse";  // whatever its name, it runs the server file
  other.state = SERVICE_STOPPED;
  plan.services[L"qzv.ua.brq.exe"] = {other};
  EXPECT_TRUE(register_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{{"Other services were already registered for \"qzv.ua.brq.exe\"\n"
                                               "Will attempt to continue...\n",
                                               color_warning}}));
  EXPECT_EQ(console.attribute(), plain);
  EXPECT_TRUE(scm.requests.empty());
  EXPECT_TRUE(plan.registered.empty());
}

TEST_F(register_services_test, a_refused_creation_ends_the_step_with_the_error_block) {
  // A second service file after the first must not be looked at.
  plan.files.push_back({.resource_id = 104, .name = L"second.exe", .service = true, .service_name = L"SECOND"});
  place_files(plan);
  using service = test::fake_service_manager::service;
  struct {
    DWORD manager_error, denied;
    service existing;  // a service of another program
    DWORD code;
    DWORD recover_error = 0;  // the new service deleted again
  } cases[] = {
      {0, 0, {.name = L"other"}, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {ERROR_ACCESS_DENIED, 0, {.name = L"other"}, ERROR_ACCESS_DENIED},
      {0, SC_MANAGER_CREATE_SERVICE, {.name = L"other"}, ERROR_ACCESS_DENIED},
      {0, 0, {.name = L"qzvopcua.brq"}, ERROR_SERVICE_EXISTS},
      {0, 0, {.name = L"QZVOPCUA.BRQ", .marked_for_delete = true}, ERROR_SERVICE_MARKED_FOR_DELETE},
      {0, 0, {.name = L"other", .display_name = L"qzv OPCUA server for BRQ"}, ERROR_DUPLICATE_SERVICE_NAME},
  };
  for (const auto& c : cases) {
    console.clear();
    scm.open_error = c.manager_error;
    scm.denied_access = c.denied;
    scm.recover_error = c.recover_error;
    scm.services.clear();
    scm.add(c.existing);
    EXPECT_FALSE(register_services(plan));
    EXPECT_EQ(console.runs(), (std::vector<run>{{"Registering service \"QZVOPCUA.BRQ\"... ", plain},
                                                {"failed\n" + text_of(c.code) + "\n", color_error}}))
        << c.code;
    EXPECT_TRUE(plan.registered.empty());
    EXPECT_EQ(scm.services.size(), 1u);
    EXPECT_EQ(scm.live_handles(), 0);
  }
}

}  // namespace
}  // namespace brq_install
