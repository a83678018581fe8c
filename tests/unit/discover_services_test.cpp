// Service discovery: which services belong to an installed program, what is
// printed, that a failure anywhere discards the whole file's services and
// spares its processes, and ten thousand services and processes at once.
// The service manager is the shared fake; the files are real, so that the
// match is by the file system's own identity.
#include "unit_prelude.hpp"

#include "check_processes.hpp"
#include "discover_services.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"

namespace brq_install {
namespace {

using service = test::fake_service_manager::service;

// A display name long enough that `per_batch` services fill one batch of
// the installer's 16 KiB enumeration buffer.
std::wstring filling(int per_batch) { return std::wstring(16384 / per_batch / 2 - 40, L'd'); }

struct discover_services_test : ::testing::Test {
  test::scoped_platform platform;
  test::fake_clock clock;
  test::fake_service_manager scm{clock};
  test::console_recorder console;
  // Blanks in the path, as under the program files directory.
  test::temp_tree root{L" brq dir"}, elsewhere{L" other"};
  install_plan plan = test::product_plan(root.path());
  std::wstring server = root.file(L"qzv.ua.brq.exe");
  std::wstring ctrl = root.file(L"qzv.ua.brq.ctrl.exe");
  std::wstring copy = elsewhere.file(L"qzv.ua.brq.exe");
  std::vector<std::wstring> names_of(const std::wstring& file) const {
    std::vector<std::wstring> names;
    if (auto it = plan.services.find(file); it != plan.services.end()) {
      for (const auto& record : it->second) names.push_back(record.name);
    }
    return names;
  }
  static std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
};

TEST_F(discover_services_test, services_are_found_across_batches_in_enumeration_order) {
  for (service s : std::initializer_list<service>{
           {.name = L"first", .command_line = quoted(server), .state = SERVICE_RUNNING},
           {.name = L"other", .command_line = quoted(copy), .state = SERVICE_RUNNING},
           {.name = L"ctrl", .command_line = quoted(ctrl) + L" run"},
           {.name = L"second", .command_line = quoted(server) + L" -x", .state = SERVICE_PAUSED},
           {.name = L"third", .command_line = quoted(server), .state = 9},
       }) {
    s.display_name = filling(2);
    scm.add(s);
  }
  discover_services(plan);
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
  // One pass for every file: three batches, the resume handle carried from
  // one to the next, and each service's configuration read once.
  EXPECT_EQ(scm.enum_resumes, (std::vector<DWORD>{0, 2, 4}));
  EXPECT_EQ(scm.service_access.size(), scm.services.size());
  // Only the rights it needs: the installer may run without full rights.
  EXPECT_EQ(scm.manager_access, std::vector<DWORD>(1, SC_MANAGER_ENUMERATE_SERVICE));
  for (const auto& [name, access] : scm.service_access) {
    EXPECT_EQ(access, static_cast<DWORD>(SERVICE_QUERY_CONFIG)) << name;
  }
}

TEST_F(discover_services_test, any_failure_discards_the_whole_file_but_a_service_gone_since_it_was_listed) {
  struct {
    const char* what;
    DWORD manager_error, denied, enum_error, open_error, config_error, code;  // code 0: no failure
  } cases[] = {
      {"no connection", ERROR_ACCESS_DENIED, 0, 0, 0, 0, ERROR_ACCESS_DENIED},
      {"no right to enumerate", 0, SC_MANAGER_ENUMERATE_SERVICE, 0, 0, 0, ERROR_ACCESS_DENIED},
      {"enumeration refused", 0, 0, ERROR_INVALID_HANDLE, 0, 0, ERROR_INVALID_HANDLE},
      {"a service that cannot be opened", 0, 0, 0, ERROR_ACCESS_DENIED, 0, ERROR_ACCESS_DENIED},
      {"a configuration that cannot be read", 0, 0, 0, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      // Gone since it was listed: it runs nothing, and the others are found.
      {"deleted before it was opened", 0, 0, 0, ERROR_SERVICE_DOES_NOT_EXIST, 0, 0},
      {"marked for deletion before it was read", 0, 0, 0, 0, ERROR_SERVICE_MARKED_FOR_DELETE, 0},
  };
  for (const auto& c : cases) {
    console.clear();
    plan.services.clear();
    plan.undiscovered.clear();
    scm.open_error = c.manager_error;
    scm.denied_access = c.denied;
    scm.enum_error = c.enum_error;
    // A match before the failing service, in an earlier batch, and one after.
    scm.services = {
        {.name = L"first", .display_name = filling(1), .command_line = quoted(server)},
        {.name = L"broken", .display_name = filling(1), .open_error = c.open_error, .config_error = c.config_error},
        {.name = L"later", .display_name = filling(1), .command_line = quoted(server)}};
    discover_services(plan);
    std::string warning = "failed to enum services\n" + text_of(c.code) + "\nWill attempt to continue...\n";
    std::vector<run> failed = {
        {"Discovering services for \"qzv.ua.brq.exe\"...\n", plain},
        {warning, color_warning},
        {"Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n", plain},
        {warning, color_warning},
    };
    std::vector<run> found = {
        {"Discovering services for \"qzv.ua.brq.exe\"...\n"
         "  first -> stopped\n"
         "  later -> stopped\n"
         "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\n",
         plain}};
    EXPECT_EQ(console.runs(), c.code != 0 ? failed : found) << c.what;
    std::vector<std::wstring> matched = {L"first", L"later"};
    EXPECT_EQ(names_of(L"qzv.ua.brq.exe"), c.code != 0 ? std::vector<std::wstring>{} : matched) << c.what;
    EXPECT_EQ(plan.undiscovered.size(), c.code != 0 ? 2u : 0u) << c.what;
    EXPECT_EQ(scm.live_handles(), 0) << c.what;
  }
}

TEST_F(discover_services_test, only_installed_executables_are_examined) {
  plan.files.clear();
  plan.files.push_back({.resource_id = 1, .name = L"qzv.ua.brq.EXE"});  // the server, in capitals
  plan.files.push_back({.resource_id = 2, .name = L"readme.txt"});      // not an executable
  plan.files.push_back({.resource_id = 3, .name = L"exe"});             // too short
  plan.files.push_back({.resource_id = 4, .name = L"missing.exe"});     // not installed
  plan.files.push_back({.resource_id = 5, .name = L"sub.exe"});         // a directory
  root.directory(L"sub.exe");
  root.file(L"readme.txt");
  root.file(L"exe");
  place_files(plan);
  scm.add({.name = L"any", .command_line = quoted(ctrl)});
  discover_services(plan);
  EXPECT_EQ(console.text(), "Discovering services for \"qzv.ua.brq.EXE\"...\n");
  EXPECT_TRUE(plan.services.empty());
}

// Services that could not be discovered are neither stopped nor started
// again: ending the server's process would leave its service down.
TEST_F(discover_services_test, processes_of_a_file_whose_services_are_unknown_are_not_ended) {
  scm.add({.name = L"QZVOPCUA.BRQ", .command_line = quoted(server), .state = SERVICE_RUNNING});
  scm.at(L"QZVOPCUA.BRQ").config_error = ERROR_ACCESS_DENIED;
  test::fake_process_table processes;
  processes.add(4242, server);
  plan.files.resize(1);  // the server alone
  discover_services(plan);
  check_processes(plan);
  EXPECT_EQ(console.text(), "Discovering services for \"qzv.ua.brq.exe\"...\nfailed to enum services\n" +
                                text_of(ERROR_ACCESS_DENIED) + "\nWill attempt to continue...\n");
  EXPECT_TRUE(processes.terminated.empty());
}

// Every thousandth runs the server. The others name programs that are gone,
// and most processes are closed to the installer, as system processes are:
// under Wine each comparison with an existing file costs milliseconds, and
// this test is about the numbers.
TEST_F(discover_services_test, ten_thousand_services_and_processes) {
  test::fake_process_table processes;
  for (int i = 0; i < 10000; ++i) {
    bool ours = i % 1000 == 999;
    std::wstring gone = root.path() + L"\\gone\\program " + std::to_wstring(i) + L".exe";
    scm.add({.name = L"service " + std::to_wstring(i),
             .command_line = quoted(ours ? server : gone) + L" -n " + std::to_wstring(i),
             .state = SERVICE_RUNNING});
    processes.add(4 * (i + 1), ours ? server : gone).open_error = ours || i % 10 == 0 ? 0 : ERROR_ACCESS_DENIED;
  }
  discover_services(plan);
  EXPECT_EQ(plan.services.at(L"qzv.ua.brq.exe").size(), 10u);
  check_processes(plan);
  EXPECT_EQ(processes.terminated.size(), 10u);
}

}  // namespace
}  // namespace brq_install
