// Stopping and starting services: poll intervals, time-outs on a fake clock,
// what is printed, and which services are touched in which order.
#include "unit_prelude.hpp"

#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "service_start_stop.hpp"
#include "win/service_control.hpp"

namespace brq_install {
namespace {

using service = test::fake_service_manager::service;
constexpr DWORD never = test::fake_service_manager::never;
// Processes a service may report: the one every fake service runs in, one
// ended since, one ended whose object is still held open, and one that
// cannot be waited for.
constexpr DWORD service_process = test::fake_service_manager::default_process_id;
constexpr DWORD ended_process = 3301, held_process = 3302, locked_process = 3303;

std::string warning(DWORD code) { return "failed\n" + text_of(code) + "\nWill attempt to continue...\n"; }

service_record record(const wchar_t* name, DWORD state) {
  service_record r;
  r.name = name;
  r.state = state;
  return r;
}

struct service_control_test : ::testing::Test {
  test::fake_clock clock{5000};
  test::fake_service_manager scm{clock};
  test::fake_process_table processes;
  test::console_recorder console;
  test::temp_tree destination;  // where the stop loop writes the run's record

  install_plan new_plan() {
    install_plan plan;
    plan.destination = destination.path();
    return plan;
  }
  std::wstring record_text() const {
    std::string bytes = test::read_file(destination.path() + L"\\qzv.ua.brq.run");
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

  service_control_test() {
    processes.add(service_process, L"C:\\svc.exe");
    processes.add(ended_process, L"C:\\svc.exe").ended = true;
    auto& held = processes.add(held_process, L"C:\\svc.exe");
    held.ended = held.held = true;
    processes.add(locked_process, L"C:\\svc.exe").denied_access = SYNCHRONIZE;
  }

  // One service named "svc", alone in the manager.
  void only(service s) {
    s.name = L"svc";
    scm.services.clear();
    scm.add(s);
    clock.sleeps.clear();
  }
  template <typename Action>
  DWORD on_svc(Action action, const wchar_t* name = L"svc") {
    SC_HANDLE manager = api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    DWORD result = action(manager, name);
    api.CloseServiceHandle(manager);
    return result;
  }
  DWORD stop(const wchar_t* name = L"svc") { return on_svc(&win::stop_service, name); }
  DWORD start() { return on_svc(&win::start_service); }

  // Services that depend on "base": "app" directly, "ui" through "app",
  // "report" on both, "tool" directly; and services for the failures.
  void add_dependents() {
    scm.add({.name = L"base", .state = SERVICE_RUNNING});
    scm.add({.name = L"app", .dependencies = {L"BASE"}, .state = SERVICE_RUNNING});
    scm.add({.name = L"ui", .dependencies = {L"app"}, .state = SERVICE_RUNNING});
    scm.add({.name = L"report", .dependencies = {L"app", L"base"}});
    scm.add({.name = L"tool", .dependencies = {L"base"}, .state = SERVICE_PAUSED});
    scm.add({.name = L"locked", .denied_access = SERVICE_ENUMERATE_DEPENDENTS});
    scm.add({.name = L"failing", .dependents_error = ERROR_INVALID_HANDLE});
    scm.add({.name = L"failing's", .dependencies = {L"failing"}});
    scm.add({.name = L"huge"});
    // More than the service manager's bound on a list: 280,000 bytes.
    scm.add({.name = L"huge's", .display_name = std::wstring(140000, L'd'), .dependencies = {L"huge"}});
  }
};

// Only the rights each needs: stop and query, start and query.
TEST_F(service_control_test, stop_and_start_done_at_once_need_no_sleep_and_no_other_rights) {
  only({.state = SERVICE_RUNNING});
  EXPECT_EQ(stop(), 0u);
  EXPECT_EQ(start(), 0u);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(scm.service_access, (std::vector<std::pair<std::wstring, DWORD>>{{L"svc", 0x0024}, {L"svc", 0x0014}}));
}

TEST_F(service_control_test, poll_interval_is_a_tenth_of_the_wait_hint_within_1_to_10_seconds) {
  struct {
    DWORD wait_hint, interval;
  } cases[] = {{0, 1000}, {9999, 1000}, {25000, 2500}, {100000, 10000}, {200000, 10000}};
  for (const auto& c : cases) {
    only({.state = SERVICE_RUNNING, .wait_hint = c.wait_hint, .stop_ms = 1});
    EXPECT_EQ(stop(), 0u);
    EXPECT_EQ(clock.sleeps, std::vector<DWORD>{c.interval}) << c.wait_hint;
  }
}

TEST_F(service_control_test, stop_is_given_up_after_30_seconds_and_a_refusal_for_now_is_asked_again) {
  constexpr DWORD refusing = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  struct {
    const char* what;
    service svc;
    size_t refusals;  // requests refused before it takes one; 0: all of them
    DWORD code;
    size_t sleeps;
  } cases[] = {
      // 30000 ms is not yet more than 30000 ms: the 31st poll gives up.
      {"never stops", {.state = SERVICE_RUNNING, .stop_ms = never}, 0, 1287, 31},
      {"start pending for ever", {.state = SERVICE_START_PENDING, .start_ms = never}, 0, refusing, 31},
      // Running or paused by the time its refusal is looked into.
      {"running, refusing", {.state = SERVICE_RUNNING, .control_error = refusing}, 0, refusing, 31},
      {"paused, refusing twice, then stopping for 3 s",
       {.state = SERVICE_PAUSED, .stop_ms = 3000, .control_error = refusing},
       2,
       0,
       5},
  };
  for (const auto& c : cases) {
    for (DWORD start : {DWORD{5000}, DWORD{0xFFFFF000}}) {  // the second wraps after 4096 ms
      clock.now = start;
      only(c.svc);
      clock.on_sleep = [this, refusals = c.refusals] {
        if (clock.sleeps.size() == refusals) scm.at(L"svc").control_error = 0;
      };
      EXPECT_EQ(stop(), c.code) << c.what;
      EXPECT_EQ(clock.sleeps.size(), c.sleeps) << c.what << " " << start;
    }
  }
  clock.on_sleep = nullptr;
}

TEST_F(service_control_test, refused_requests_and_failed_queries_give_their_codes) {
  struct {
    const char* what;
    service svc;
    DWORD stop_code, start_code;
  } cases[] = {
      {"not active", {.state = SERVICE_STOPPED}, ERROR_SERVICE_NOT_ACTIVE, 0},
      // A service that runs already is where a start should leave it.
      {"stop not accepted", {.state = SERVICE_RUNNING, .controls_accepted = 0}, ERROR_INVALID_SERVICE_CONTROL, 0},
      // Awaited, and given up after 30 s like any stop.
      {"stop pending", {.state = SERVICE_STOP_PENDING, .stop_ms = never}, 1287, 1287},
      // Asked again while it settles, for 30 s.
      {"start pending", {.state = SERVICE_START_PENDING, .start_ms = never}, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 1287},
      {"start pending for 3 s", {.state = SERVICE_START_PENDING, .wait_hint = 5000, .start_ms = 3000}, 0, 0},
      {"query fails",
       {.state = SERVICE_RUNNING, .stop_ms = never, .status_error = ERROR_INVALID_HANDLE},
       ERROR_INVALID_HANDLE,
       ERROR_INVALID_HANDLE},
      {"disabled", {.start_type = SERVICE_DISABLED}, ERROR_SERVICE_NOT_ACTIVE, ERROR_SERVICE_DISABLED},
      {"no rights",
       {.state = SERVICE_RUNNING, .denied_access = SERVICE_STOP | SERVICE_START},
       ERROR_ACCESS_DENIED,
       ERROR_ACCESS_DENIED},
      {"start refused",
       {.start_error = ERROR_SERVICE_REQUEST_TIMEOUT},
       ERROR_SERVICE_NOT_ACTIVE,
       ERROR_SERVICE_REQUEST_TIMEOUT},
      // Running by its status, but its process is gone: it will not serve.
      {"running, its process ended", {.state = SERVICE_RUNNING, .process_id = ended_process}, 0, ERROR_PROCESS_ABORTED},
      {"running, its process ended but held open",
       {.state = SERVICE_RUNNING, .process_id = held_process},
       0,
       ERROR_PROCESS_ABORTED},
      {"running without a process", {.state = SERVICE_RUNNING, .process_id = 0}, 0, ERROR_PROCESS_ABORTED},
      {"running, its process not to be waited for",
       {.state = SERVICE_RUNNING, .process_id = locked_process},
       0,
       ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    only(c.svc);
    EXPECT_EQ(stop(), c.stop_code) << c.what;
    only(c.svc);
    EXPECT_EQ(start(), c.start_code) << c.what;
  }
  scm.services.clear();
  EXPECT_EQ(stop(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(start(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(service_control_test, start_gives_up_once_the_wait_hint_passed_without_progress_or_after_10_minutes) {
  struct {
    const char* what;
    service svc;
    DWORD code;
    size_t polls;
  } cases[] = {
      {"check point stuck", {.wait_hint = 3000, .start_ms = never}, 1287, 4},
      {"wait hint 0", {.start_ms = never}, 1287, 1},
      {"stopped while starting", {.wait_hint = 3000, .start_ms = 500, .start_fails = true}, 1287, 1},
      {"running at once", {}, 0, 0},
      // Progress at every poll, one a second: 600000 ms is not yet more
      // than 10 minutes.
      {"check point advancing for ever",
       {.wait_hint = 1500, .check_point_ms = 1000, .start_ms = never},
       ERROR_SERVICE_REQUEST_TIMEOUT,
       601},
      {"running after 10 minutes of progress", {.wait_hint = 1500, .check_point_ms = 1000, .start_ms = 600000}, 0, 600},
  };
  for (const auto& c : cases) {
    for (DWORD start_time : {DWORD{5000}, DWORD{0xFFFFFC00}}) {  // the second wraps on the way
      clock.now = start_time;
      only(c.svc);
      EXPECT_EQ(start(), c.code) << c.what;
      EXPECT_EQ(clock.sleeps.size(), c.polls) << c.what << " " << start_time;
    }
  }
}

TEST_F(service_control_test, dependents_are_listed_each_before_what_it_depends_on) {
  add_dependents();
  struct {
    const char* what;
    const wchar_t* name;
    DWORD state, code;
    std::vector<std::wstring> names;
  } cases[] = {
      {"active", L"base", SERVICE_ACTIVE, 0, {L"ui", L"app", L"tool"}},
      {"all", L"base", SERVICE_STATE_ALL, 0, {L"ui", L"report", L"app", L"tool"}},
      {"inactive", L"base", SERVICE_INACTIVE, 0, {L"report"}},
      {"none", L"ui", SERVICE_STATE_ALL, 0, {}},
      {"no right to list them", L"locked", SERVICE_STATE_ALL, ERROR_ACCESS_DENIED, {}},
      {"the list refused", L"failing", SERVICE_STATE_ALL, ERROR_INVALID_HANDLE, {}},
      {"a list too long to believe", L"huge", SERVICE_STATE_ALL, ERROR_MORE_DATA, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> names = {L"left from before"};
    EXPECT_EQ(on_svc([&](SC_HANDLE manager,
                         const wchar_t* name) { return win::list_dependents(manager, name, c.state, names); },
                     c.name),
              c.code)
        << c.what;
    EXPECT_EQ(names, c.names) << c.what;
  }
}

TEST_F(service_control_test, a_service_stops_once_its_active_dependents_stopped_in_the_listed_order) {
  add_dependents();
  for (const wchar_t* name : {L"base", L"app"}) {
    EXPECT_EQ(stop(name), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    EXPECT_EQ(scm.at(name).state, static_cast<DWORD>(SERVICE_RUNNING));
  }
  std::vector<std::wstring> names;
  ASSERT_EQ(on_svc([&](SC_HANDLE manager,
                       const wchar_t* name) { return win::list_dependents(manager, name, SERVICE_ACTIVE, names); },
                   L"base"),
            0u);
  for (const std::wstring& name : names) EXPECT_EQ(stop(name.c_str()), 0u) << name.c_str();
  EXPECT_EQ(stop(L"base"), 0u);

  // Its state reads stopped now; a failed query leaves the state as it was.
  DWORD state = SERVICE_RUNNING;
  auto query_state = [&](SC_HANDLE manager, const wchar_t* name) {
    return win::query_service_state(manager, name, state);
  };
  EXPECT_EQ(on_svc(query_state, L"base"), 0u);
  EXPECT_EQ(state, static_cast<DWORD>(SERVICE_STOPPED));
  scm.at(L"base").status_error = ERROR_INVALID_HANDLE;
  EXPECT_EQ(on_svc(query_state, L"base"), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(state, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(service_control_test, active_services_are_stopped_and_started_again_then_registered_ones) {
  install_plan plan = new_plan();
  plan.services[L"qzv.ua.brq.exe"] = {
      record(L"first", SERVICE_RUNNING),         record(L"stopped", SERVICE_STOPPED),
      record(L"paused", SERVICE_PAUSED),         record(L"starting", SERVICE_START_PENDING),
      record(L"pausing", SERVICE_PAUSE_PENDING), record(L"continuing", SERVICE_CONTINUE_PENDING),
      record(L"stopping", SERVICE_STOP_PENDING), record(L"second", SERVICE_RUNNING)};
  plan.registered = {L"QZVOPCUA.BRQ"};
  scm.add({.name = L"first", .state = SERVICE_RUNNING});
  scm.add({.name = L"stopped"});
  scm.add({.name = L"paused", .state = SERVICE_PAUSED});
  scm.add({.name = L"starting", .state = SERVICE_RUNNING});  // its start has ended since
  scm.add({.name = L"pausing", .state = SERVICE_PAUSE_PENDING, .stop_ms = 2000});
  scm.add({.name = L"continuing", .state = SERVICE_CONTINUE_PENDING, .wait_hint = 3000, .start_ms = 2000});
  // Stopped by someone else: awaited without a request, and left stopped.
  scm.add({.name = L"stopping", .state = SERVICE_STOP_PENDING, .stop_ms = 15000});
  scm.add({.name = L"second", .state = SERVICE_RUNNING, .stop_ms = 3000});
  scm.add({.name = L"QZVOPCUA.BRQ"});
  EXPECT_TRUE(stop_services(plan));
  for (const auto& s : scm.services) EXPECT_EQ(s.state, static_cast<DWORD>(SERVICE_STOPPED)) << s.name;
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(console.text(),
            "Will stop services...\n"
            "  service \"first\"... ok\n"
            "  service \"paused\"... ok\n"
            "  service \"starting\"... ok\n"
            "  service \"pausing\"... ok\n"
            "  service \"continuing\"... ok\n"
            "  service \"stopping\"... ok\n"
            "  service \"second\"... ok\n"
            "Will start services...\n"
            "  service \"first\"... ok\n"
            "  service \"paused\"... ok\n"
            "  service \"starting\"... ok\n"
            "  service \"pausing\"... ok\n"
            "  service \"continuing\"... ok\n"
            "  service \"second\"... ok\n"
            "  service \"QZVOPCUA.BRQ\"... ok\n");
  std::vector<std::wstring> requests;
  for (const wchar_t* verb : {L"stop ", L"start "}) {
    for (const wchar_t* name : {L"first", L"paused", L"starting", L"pausing", L"continuing", L"second"}) {
      requests.push_back(verb + std::wstring(name));
    }
  }
  requests.push_back(L"start QZVOPCUA.BRQ");
  EXPECT_EQ(scm.requests, requests);
  EXPECT_EQ(scm.at(L"stopping").state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(scm.manager_access, std::vector<DWORD>(scm.manager_access.size(), SC_MANAGER_CONNECT));
}

TEST_F(service_control_test, failures_are_warnings_and_the_next_service_follows) {
  install_plan plan = new_plan();
  plan.services[L"qzv.ua.brq.exe"] = {record(L"gone", SERVICE_RUNNING), record(L"kept running", SERVICE_RUNNING),
                                      record(L"stuck", SERVICE_RUNNING)};
  scm.add({.name = L"gone"});  // stopped since discovery: starts again
  scm.add({.name = L"kept running", .state = SERVICE_RUNNING, .controls_accepted = 0});  // counts as started
  scm.add({.name = L"stuck", .state = SERVICE_RUNNING, .stop_ms = never});               // neither stops nor starts
  EXPECT_TRUE(stop_services(plan));
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will stop services...\n  service \"gone\"... ", plain},
                                {warning(ERROR_SERVICE_NOT_ACTIVE), color_warning},
                                {"  service \"kept running\"... ", plain},
                                {warning(ERROR_INVALID_SERVICE_CONTROL), color_warning},
                                {"  service \"stuck\"... ", plain},
                                {warning(1287), color_warning},
                                {"Will start services...\n  service \"gone\"... ok\n"
                                 "  service \"kept running\"... ok\n"
                                 "  service \"stuck\"... ",
                                 plain},
                                {warning(1287), color_warning},
                            }));
}

TEST_F(service_control_test, a_service_left_down_is_a_warning_and_fails_the_step_after_the_others) {
  install_plan plan;
  // A disabled one is the administrator's decision: left stopped, not a failure.
  plan.services[L"qzv.ua.brq.exe"] = {record(L"fails", SERVICE_RUNNING), record(L"disabled", SERVICE_RUNNING)};
  for (service_record& r : plan.services[L"qzv.ua.brq.exe"]) r.restart = true;
  plan.registered = {L"QZVOPCUA.BRQ"};
  scm.add({.name = L"fails", .start_error = ERROR_SERVICE_DEPENDENCY_FAIL});
  scm.add({.name = L"disabled", .start_type = SERVICE_DISABLED});
  scm.add({.name = L"QZVOPCUA.BRQ"});
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"fails\"... ", plain},
                                {warning(ERROR_SERVICE_DEPENDENCY_FAIL), color_warning},
                                {"  service \"disabled\"... ", plain},
                                {"disabled: not started\n", color_warning},
                                {"  service \"QZVOPCUA.BRQ\"... ok\n", plain},
                            }));
  EXPECT_EQ(scm.find(L"disabled")->state, static_cast<DWORD>(SERVICE_STOPPED));
  plan.services[L"qzv.ua.brq.exe"].erase(plan.services[L"qzv.ua.brq.exe"].begin());
  EXPECT_TRUE(start_services(plan)) << "a disabled service is no failure";
  console.clear();
  scm.open_error = ERROR_ACCESS_DENIED;
  plan.services.clear();
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"QZVOPCUA.BRQ\"... ", plain},
                                {warning(ERROR_ACCESS_DENIED), color_warning},
                            }));
}

TEST_F(service_control_test, the_record_names_a_service_before_it_is_stopped) {
  install_plan plan = new_plan();
  plan.services[L"qzv.ua.brq.exe"] = {record(L"svc", SERVICE_RUNNING), record(L"resumed", SERVICE_STOPPED)};
  plan.services[L"qzv.ua.brq.exe"][1].restart = true;  // an interrupted run stopped it
  scm.add({.name = L"svc", .state = SERVICE_RUNNING});
  scm.add({.name = L"resumed"});
  std::wstring in_the_way = destination.directory(L"qzv.ua.brq.run.new");  // the record cannot be staged
  EXPECT_FALSE(stop_services(plan));
  EXPECT_TRUE(scm.requests.empty());
  EXPECT_EQ(console.runs()[1].text, "Failed to write \"" + wide_to_utf8(plan.destination) + "\\qzv.ua.brq.run\"\n" +
                                        text_of(ERROR_ACCESS_DENIED) + "\n");
  console.clear();
  RemoveDirectoryW(in_the_way.c_str());
  EXPECT_TRUE(stop_services(plan));
  EXPECT_EQ(record_text(), L"qzv.ua.brq.install unfinished run\nservice: svc\nservice: resumed\n");
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(scm.requests, (std::vector<std::wstring>{L"stop svc", L"start svc", L"start resumed"}));
  EXPECT_EQ(console.text(),
            "Will stop services...\n  service \"svc\"... ok\nWill start services...\n  service \"svc\"... ok\n"
            "  service \"resumed\"... ok\n");
}

// The stop loop acts on the state it finds: a restart that was under way
// at discovery has ended by then. Services that depend on a stopped one are
// stopped before it and started after it, as an interrupted run's record
// names them too.
TEST_F(service_control_test, the_loop_acts_on_the_state_it_finds_and_stops_dependents_first) {
  install_plan plan = new_plan();
  plan.services[L"qzv.ua.brq.exe"] = {record(L"restarted", SERVICE_STOP_PENDING), record(L"server", SERVICE_RUNNING)};
  plan.journal.services = {L"stopped client"};
  scm.add({.name = L"restarted", .state = SERVICE_RUNNING});
  scm.add({.name = L"server", .state = SERVICE_RUNNING});
  scm.add({.name = L"client", .dependencies = {L"server"}, .state = SERVICE_RUNNING});
  scm.add({.name = L"stopped client", .dependencies = {L"server"}});
  scm.add({.name = L"unrelated client", .dependencies = {L"server"}});
  EXPECT_TRUE(stop_services(plan));
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(scm.requests,
            (std::vector<std::wstring>{L"stop restarted", L"stop client", L"stop server", L"start restarted",
                                       L"start server", L"start stopped client", L"start client"}));
  EXPECT_EQ(scm.at(L"unrelated client").state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(record_text(),
            L"qzv.ua.brq.install unfinished run\nservice: restarted\n"
            L"service: server\nservice: client\nservice: stopped client\n");
}

// What the record of an interrupted run names, discovery did not find: one
// deleted since is done with; one that is there is not a service of the
// installed files and is not started, nor are the unknown services of a
// file that could not be discovered, when the record could not be read;
// each keeps the record for the next run.
TEST_F(service_control_test, services_of_the_record_not_found_are_reported_and_fail_the_run) {
  install_plan plan = new_plan();
  plan.journal.services = {L"deleted", L"elsewhere"};
  plan.journal.every_automatic_service = true;
  plan.undiscovered = {L"qzv.ua.brq.dev.exe"};
  scm.add({.name = L"elsewhere"});
  EXPECT_FALSE(start_services(plan));
  const std::string continuing = "Will attempt to continue...\n";
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"elsewhere\"... ", plain},
                                {"not found among the services of the installed files\n" + continuing, color_warning},
                                {"  services of \"qzv.ua.brq.dev.exe\"... ", plain},
                                {"unknown: they could not be discovered\n" + continuing, color_warning},
                            }));
  EXPECT_TRUE(scm.requests.empty());
  // With every installed file discovered, one that runs another program is
  // no longer the product's: no failure, and the record drops it. One that
  // names an installed file's path (not back in place yet) still fails.
  console.clear();
  plan.undiscovered.clear();
  plan.files = test::product_plan(plan.destination).files;
  plan.journal.services = {L"elsewhere", L"server"};
  scm.add({.name = L"server", .command_line = L"\"" + plan.files[0].path + L"\""});
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"elsewhere\"... ", plain},
                                {"runs no installed file now: left as it is\n", color_warning},
                                {"  service \"server\"... ", plain},
                                {"not found among the services of the installed files\n" + continuing, color_warning},
                            }));
  plan.journal.services = {L"elsewhere"};
  EXPECT_TRUE(start_services(plan));
}

// A run that resumes starts the dependents that the record names with
// their service, also when it stops nothing (cancelled, say).
TEST_F(service_control_test, a_resumed_service_starts_with_the_dependents_the_record_names) {
  install_plan plan = new_plan();
  plan.services[L"qzv.ua.brq.exe"] = {record(L"server", SERVICE_STOPPED)};
  plan.journal.services = {L"server", L"stopped client"};
  scm.add({.name = L"server"});
  scm.add({.name = L"stopped client", .dependencies = {L"server"}});
  scm.add({.name = L"unrelated client", .dependencies = {L"server"}});
  resume_services(plan);
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(scm.requests, (std::vector<std::wstring>{L"start server", L"start stopped client"}));
}

TEST_F(service_control_test, nothing_to_stop_or_start_prints_only_the_headers_of_discovered_files) {
  install_plan plan;
  EXPECT_TRUE(stop_services(plan));
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(console.text(), "");
  plan.services[L"qzv.ua.brq.exe"] = {record(L"stopped", SERVICE_STOPPED)};
  EXPECT_TRUE(stop_services(plan));
  EXPECT_TRUE(start_services(plan));  // a discovered file still opens both
  EXPECT_EQ(console.text(), "Will stop services...\nWill start services...\n");
  EXPECT_TRUE(scm.requests.empty());
}

}  // namespace
}  // namespace brq_install
