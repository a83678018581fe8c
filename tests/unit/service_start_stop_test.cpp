// Stopping and starting services: poll intervals, time-outs on a fake clock,
// what is printed, and which services are touched in which order.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "fake_clock.hpp"
#include "install_plan.hpp"
#include "service_start_stop.hpp"
#include "win/service_control.hpp"

namespace brq_install {
namespace {

using win::api;
using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

// A fake service: what its control or start request answers, then the
// statuses its queries report one after another (the last one repeats).
struct fake_service {
  DWORD request_error = 0;
  SERVICE_STATUS after_control{};
  std::deque<SERVICE_STATUS> queries;
};

std::map<std::wstring, fake_service> services;
std::vector<std::pair<std::wstring, DWORD>> opened;  // name and access
std::vector<std::string> calls;                    // "stop x", "start x"
DWORD manager_error = 0;
int open_handles = 0;
SC_HANDLE const manager = reinterpret_cast<SC_HANDLE>(0x5C0);

SERVICE_STATUS status(DWORD state, DWORD wait_hint = 0, DWORD check_point = 0) {
  SERVICE_STATUS s{};
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwWaitHint = wait_hint;
  s.dwCheckPoint = check_point;
  return s;
}

fake_service& of(SC_HANDLE handle) { return *reinterpret_cast<fake_service*>(handle); }

SC_HANDLE WINAPI open_manager(const wchar_t* machine, const wchar_t* database, DWORD access) {
  if (manager_error != 0 || machine != nullptr || database != nullptr || access != SC_MANAGER_CONNECT) {
    ::SetLastError(manager_error != 0 ? manager_error : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ++open_handles;
  return manager;
}
SC_HANDLE WINAPI open_service(SC_HANDLE scm, const wchar_t* name, DWORD access) {
  auto it = services.find(name);
  if (scm != manager || it == services.end()) {
    ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  opened.emplace_back(name, access);
  ++open_handles;
  return reinterpret_cast<SC_HANDLE>(&it->second);
}
BOOL WINAPI close(SC_HANDLE) {
  --open_handles;
  return TRUE;
}
BOOL WINAPI control(SC_HANDLE service, DWORD code, SERVICE_STATUS* reply) {
  calls.push_back("stop");
  if (code != SERVICE_CONTROL_STOP) return FALSE;
  if (of(service).request_error != 0) {
    ::SetLastError(of(service).request_error);
    return FALSE;
  }
  *reply = of(service).after_control;
  return TRUE;
}
BOOL WINAPI start(SC_HANDLE service, DWORD count, const wchar_t** arguments) {
  calls.push_back("start");
  if (count != 0 || arguments != nullptr) return FALSE;
  if (of(service).request_error != 0) {
    ::SetLastError(of(service).request_error);
    return FALSE;
  }
  return TRUE;
}
BOOL WINAPI query(SC_HANDLE service, SERVICE_STATUS* reply) {
  auto& queries = of(service).queries;
  if (queries.empty()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *reply = queries.front();
  if (queries.size() > 1) queries.pop_front();
  return TRUE;
}

std::string warning(DWORD code) {
  return "failed\n" + text_of(code) + "\nWill attempt to continue...\n";
}

struct service_control_test : ::testing::Test {
  testing::scoped_platform platform;
  testing::fake_clock clock{5000};
  testing::console_recorder console;

  void SetUp() override {
    services.clear();
    opened.clear();
    calls.clear();
    manager_error = 0;
    open_handles = 0;
    api.OpenSCManagerW = &open_manager;
    api.OpenServiceW = &open_service;
    api.CloseServiceHandle = &close;
    api.ControlService = &control;
    api.StartServiceW = &start;
    api.QueryServiceStatus = &query;
  }
  void TearDown() override { EXPECT_EQ(open_handles, 0); }

  DWORD stop(const wchar_t* name) { return win::stop_service(manager, name); }
  DWORD start_it(const wchar_t* name) { return win::start_service(manager, name); }
};

TEST_F(service_control_test, stop_that_is_done_at_once_needs_no_sleep) {
  services[L"svc"] = {0, status(SERVICE_STOPPED)};
  EXPECT_EQ(stop(L"svc"), 0u);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(opened, (std::vector<std::pair<std::wstring, DWORD>>{{L"svc", 0x0024}}));
}

TEST_F(service_control_test, poll_interval_is_a_tenth_of_the_wait_hint_within_1_to_10_seconds) {
  struct {
    DWORD wait_hint, interval;
  } cases[] = {{0, 1000}, {9999, 1000}, {25000, 2500}, {100000, 10000}, {200000, 10000}};
  for (const auto& c : cases) {
    services[L"svc"] = {0, status(SERVICE_STOP_PENDING, c.wait_hint), {status(SERVICE_STOPPED)}};
    clock.sleeps.clear();
    EXPECT_EQ(stop(L"svc"), 0u);
    EXPECT_EQ(clock.sleeps, std::vector<DWORD>{c.interval}) << c.wait_hint;
  }
}

TEST_F(service_control_test, service_that_never_stops_is_given_up_after_30_seconds) {
  services[L"svc"] = {0, status(SERVICE_STOP_PENDING), {status(SERVICE_STOP_PENDING)}};
  EXPECT_EQ(stop(L"svc"), 1287u);
  EXPECT_EQ(clock.sleeps.size(), 31u);  // 30000 ms is not yet more than 30000 ms
}

TEST_F(service_control_test, stop_time_out_is_right_across_the_tick_counter_wrap) {
  clock.now = 0xFFFFF000;  // wraps after 4096 ms
  services[L"svc"] = {0, status(SERVICE_STOP_PENDING), {status(SERVICE_STOP_PENDING)}};
  EXPECT_EQ(stop(L"svc"), 1287u);
  EXPECT_EQ(clock.sleeps.size(), 31u);
}

TEST_F(service_control_test, failed_requests_and_queries_give_their_codes) {
  services[L"not active"] = {ERROR_SERVICE_NOT_ACTIVE};
  services[L"query fails"] = {0, status(SERVICE_STOP_PENDING), {}};
  EXPECT_EQ(stop(L"not active"), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(stop(L"query fails"), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(stop(L"missing"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(start_it(L"missing"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  // A service that runs already is where a start should leave it.
  services[L"running"] = {ERROR_SERVICE_ALREADY_RUNNING, {}, {status(SERVICE_RUNNING)}};
  EXPECT_EQ(start_it(L"running"), 0u);
}

TEST_F(service_control_test, start_waits_while_the_check_point_advances) {
  // Each poll comes 1000 ms after the last; the hint of 1500 ms would have
  // passed twice over, but every advance restarts the timer.
  services[L"svc"] = {0, {},
                      {status(SERVICE_START_PENDING, 1500, 1), status(SERVICE_START_PENDING, 1500, 2),
                       status(SERVICE_START_PENDING, 1500, 3), status(SERVICE_START_PENDING, 1500, 4),
                       status(SERVICE_RUNNING)}};
  EXPECT_EQ(start_it(L"svc"), 0u);
  EXPECT_EQ(clock.sleeps.size(), 4u);
  EXPECT_EQ(opened, (std::vector<std::pair<std::wstring, DWORD>>{{L"svc", 0x0014}}));
}

TEST_F(service_control_test, start_gives_up_once_the_wait_hint_passed_without_progress) {
  struct {
    const char* what;
    fake_service service;
    DWORD code;
    size_t polls;
  } cases[] = {
      {"check point stuck", {0, {}, {status(SERVICE_START_PENDING, 3000, 7)}}, 1287, 4},
      {"wait hint 0", {0, {}, {status(SERVICE_START_PENDING, 0, 0)}}, 1287, 1},
      {"stopped while starting",
       {0, {}, {status(SERVICE_START_PENDING, 3000, 1), status(SERVICE_STOPPED)}}, 1287, 1},
      {"running at once", {0, {}, {status(SERVICE_RUNNING)}}, 0, 0},
  };
  for (auto& c : cases) {
    services[L"svc"] = c.service;
    clock.sleeps.clear();
    EXPECT_EQ(start_it(L"svc"), c.code) << c.what;
    EXPECT_EQ(clock.sleeps.size(), c.polls) << c.what;
  }
}

TEST_F(service_control_test, start_time_out_is_right_across_the_tick_counter_wrap) {
  clock.now = 0xFFFFFC00;
  services[L"svc"] = {0, {}, {status(SERVICE_START_PENDING, 3000, 7)}};
  EXPECT_EQ(start_it(L"svc"), 1287u);
  EXPECT_EQ(clock.sleeps.size(), 4u);
}

service_record record(const wchar_t* name, DWORD state) {
  service_record r;
  r.name = name;
  r.status = status(state);
  return r;
}

TEST_F(service_control_test, active_services_are_stopped_and_started_again_then_registered_ones) {
  install_plan plan;
  plan.services[L"qzv.ua.brq.exe"] = {
      record(L"first", SERVICE_RUNNING),         record(L"stopped", SERVICE_STOPPED),
      record(L"paused", SERVICE_PAUSED),         record(L"starting", SERVICE_START_PENDING),
      record(L"pausing", SERVICE_PAUSE_PENDING), record(L"continuing", SERVICE_CONTINUE_PENDING),
      record(L"stopping", SERVICE_STOP_PENDING), record(L"second", SERVICE_RUNNING)};
  plan.registered = {L"QZVOPCUA.BRQ"};
  for (const wchar_t* name :
       {L"first", L"paused", L"starting", L"pausing", L"continuing", L"second", L"QZVOPCUA.BRQ"}) {
    services[name] = {0, status(SERVICE_STOPPED), {status(SERVICE_RUNNING)}};
  }
  // Stopped by someone else: awaited without a request, and left stopped.
  services[L"stopping"] = {0, {}, {status(SERVICE_STOP_PENDING), status(SERVICE_STOPPED)}};
  stop_services(plan);
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(console.text(),
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
  std::vector<std::string> requests(6, "stop");
  requests.resize(13, "start");
  EXPECT_EQ(calls, requests);
  EXPECT_EQ(opened[5], (std::pair<std::wstring, DWORD>{L"stopping", SERVICE_QUERY_STATUS}));
}

TEST_F(service_control_test, failures_are_warnings_and_the_next_service_follows) {
  install_plan plan;
  plan.services[L"qzv.ua.brq.exe"] = {record(L"gone", SERVICE_RUNNING), record(L"kept running", SERVICE_RUNNING)};
  services[L"gone"] = {ERROR_SERVICE_NOT_ACTIVE, {}, {status(SERVICE_RUNNING)}};
  services[L"kept running"] = {0, status(SERVICE_RUNNING), {status(SERVICE_STOP_PENDING)}};
  stop_services(plan);
  services[L"gone"].request_error = 0;                              // starts again
  services[L"kept running"].request_error = ERROR_SERVICE_ALREADY_RUNNING;  // counts as started
  services[L"kept running"].queries = {status(SERVICE_RUNNING)};
  EXPECT_TRUE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"  service \"gone\"... ", plain},
                                {warning(ERROR_SERVICE_NOT_ACTIVE), color_warning},
                                {"  service \"kept running\"... ", plain},
                                {warning(1287), color_warning},
                                {"Will start services...\n  service \"gone\"... ok\n"
                                 "  service \"kept running\"... ok\n",
                                 plain},
                            }));
}

TEST_F(service_control_test, a_service_left_down_is_a_warning_and_fails_the_step_after_the_others) {
  install_plan plan;
  plan.services[L"qzv.ua.brq.exe"] = {record(L"fails", SERVICE_RUNNING)};
  plan.registered = {L"QZVOPCUA.BRQ"};
  services[L"fails"] = {ERROR_SERVICE_DISABLED};
  services[L"QZVOPCUA.BRQ"] = {0, {}, {status(SERVICE_RUNNING)}};
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"fails\"... ", plain},
                                {warning(ERROR_SERVICE_DISABLED), color_warning},
                                {"  service \"QZVOPCUA.BRQ\"... ok\n", plain},
                            }));
  console.clear();
  manager_error = ERROR_ACCESS_DENIED;
  plan.services.clear();
  EXPECT_FALSE(start_services(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Will start services...\n  service \"QZVOPCUA.BRQ\"... ", plain},
                                {warning(ERROR_ACCESS_DENIED), color_warning},
                            }));
}

TEST_F(service_control_test, nothing_to_start_prints_nothing) {
  install_plan plan;
  EXPECT_TRUE(start_services(plan));
  plan.services[L"qzv.ua.brq.exe"] = {record(L"stopped", SERVICE_STOPPED)};
  stop_services(plan);
  EXPECT_EQ(console.text(), "");
  EXPECT_TRUE(start_services(plan));  // a discovered file still opens the step
  EXPECT_EQ(console.text(), "Will start services...\n");
  EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace brq_install
