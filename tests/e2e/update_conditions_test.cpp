// Updates on machines as administrators leave them: services of the server
// file in states other than running or registered by hand, two installers
// started at once, and hundreds of other services. Each checks that the run
// completes and that every server that ran before runs again; only the lines
// that tell this are compared, as process ids, retries and the kill of a
// process that lingers after its stop are Wine's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.hpp"
#include "installation.hpp"

namespace brq_install {
namespace {

using namespace test;

bool contains(const std::string& out, const std::string& part) { return out.find(part) != std::string::npos; }

using update_conditions = installation_test;

// The server runs as QZVOPCUA.BRQ, and as nothing else, with a process.
void expect_one_server_process() {
  DWORD id = service_status(L"QZVOPCUA.BRQ").dwProcessId;
  EXPECT_NE(id, 0u);
  EXPECT_EQ(server_processes(), std::vector<DWORD>{id});
}

// A service of the installed server file, registered and brought to its
// state by hand: the only service of that file during the update.
struct service_shape {
  const char* name;  // of the case
  const wchar_t* service;
  const wchar_t* command_line;
  const wchar_t* start_argument;  // for this start only; see payload/server.cpp
  DWORD state;                    // at discovery
  const char* state_name;
  // After the stop line: Windows refuses to stop a service that is still
  // starting (1061), Wine passes the stop on; either way it starts again.
  const char* stopped = "ok\r\n";
};

void PrintTo(const service_shape& shape, std::ostream* out) { *out << shape.name; }

// Wine's service manager, like Windows', expands the variables of an image
// path and starts an unquoted path with blanks as CreateProcessW resolves
// it; both hand the path back as registered.
const wchar_t quoted_path[] = L"\"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe\"";

const service_shape shapes[] = {
    {"paused", L"QZV.TEST.PAUSED", quoted_path, L"--pausable", SERVICE_PAUSED, "paused"},
    {"start_pending", L"QZV.TEST.STARTING", quoted_path, L"--start-pending=120", SERVICE_START_PENDING, "start pending",
     ""},
    {"environment_variable_path", L"QZV.TEST.EXPANDED", L"\"%ProgramFiles%\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe\"",
     nullptr, SERVICE_RUNNING, "running"},
    {"unquoted_path", L"QZV.TEST.UNQUOTED", L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe", nullptr,
     SERVICE_RUNNING, "running"},
};

struct shaped_service : update_conditions, ::testing::WithParamInterface<service_shape> {
  void TearDown() override {
    delete_service(GetParam().service);
    update_conditions::TearDown();
  }
};

TEST_P(shaped_service, update_stops_it_and_starts_it_again) {
  const service_shape& shape = GetParam();
  ASSERT_NO_FATAL_FAILURE(first_installation());
  delete_service(L"QZVOPCUA.BRQ");
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  SC_HANDLE service = CreateServiceW(manager, shape.service, shape.service, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     shape.command_line, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  const wchar_t* arguments[] = {shape.start_argument};
  bool started = StartServiceW(service, shape.start_argument ? 1 : 0, shape.start_argument ? arguments : nullptr);
  DWORD start_error = GetLastError();
  SERVICE_STATUS status{};
  if (shape.state == SERVICE_PAUSED && wait_for_service_state(shape.service, SERVICE_RUNNING)) {
    ControlService(service, SERVICE_CONTROL_PAUSE, &status);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  ASSERT_TRUE(started) << start_error;
  ASSERT_TRUE(wait_for_service_state(shape.service, shape.state));
  ASSERT_NE(service_status(shape.service).dwProcessId, 0u);

  auto result = install();
  const std::string name = wide_for_trace(shape.service);
  EXPECT_EQ(result.exit_code, 0u) << result.out;
  EXPECT_TRUE(contains(result.out, "Discovering services for \"qzv.ua.brq.exe\"...\r\n  " + name + " -> " +
                                       shape.state_name + "\r\n"))
      << result.out;
  EXPECT_TRUE(contains(result.out, "Will stop services...\r\n  service \"" + name + "\"... " + shape.stopped))
      << result.out;
  EXPECT_TRUE(contains(result.out, "Will start services...\r\n  service \"" + name + "\"... ok\r\n")) << result.out;
  // Its own server process runs again, and no other. Wine goes on reporting
  // a service whose process was ended as running: the process list decides.
  SERVICE_STATUS_PROCESS after = service_status(shape.service);
  EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_NE(after.dwProcessId, 0u);
  EXPECT_EQ(server_processes(), std::vector<DWORD>{after.dwProcessId});
}

INSTANTIATE_TEST_SUITE_P(shapes, shaped_service, ::testing::ValuesIn(shapes),
                         [](const auto& shape_info) { return std::string(shape_info.param.name); });

TEST_F(update_conditions, two_installers_started_together_both_complete_with_one_server) {
  child_process one(installer_command()), other(installer_command());
  child_result results[] = {one.wait(run_limit_ms), other.wait(run_limit_ms)};
  const std::string registers = "Registering service \"QZVOPCUA.BRQ\"... ok\r\n";
  int first = contains(results[0].out, registers) ? 0 : 1;
  const std::string& installs = results[first].out;
  const std::string& updates = results[1 - first].out;

  EXPECT_EQ(results[0].exit_code, 0u) << results[0].out;
  EXPECT_EQ(results[1].exit_code, 0u) << results[1].out;
  EXPECT_TRUE(contains(installs, registers)) << installs;
  EXPECT_TRUE(installs.starts_with("os ")) << installs;
  // The other run is an update of what the first installed, whether it
  // waited for it (and says so once, first) or started after it ended.
  const std::string waiting = "Waiting for another installation to finish...\r\n";
  EXPECT_TRUE(updates.starts_with(waiting + "os ") || updates.starts_with("os ")) << updates;
  EXPECT_FALSE(contains(updates, registers)) << updates;
  EXPECT_TRUE(contains(updates, "  QZVOPCUA.BRQ -> running\r\n")) << updates;
  EXPECT_TRUE(contains(updates, "Will start services...\r\n  service \"QZVOPCUA.BRQ\"... ok\r\n")) << updates;
  expect_one_server_process();
}

// Services of other programs, enough to need several batches of the
// service enumeration; deleted again at the end of the scope.
struct other_services {
  std::vector<std::wstring> names;
  explicit other_services(int count) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    for (int i = 0; i < count; ++i) {
      names.push_back(L"QZV.TEST.OTHER." + std::to_wstring(i));
      std::wstring display = names.back() + L", a service of another program " + std::wstring(150, L'.');
      SC_HANDLE service = CreateServiceW(manager, names.back().c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         L"C:\\Program Files\\Other Vendor\\other service.exe -k group", nullptr,
                                         nullptr, nullptr, nullptr, nullptr);
      if (service == nullptr) ADD_FAILURE() << "cannot create a service, error " << GetLastError();
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  ~other_services() {
    for (const auto& name : names) delete_service(name.c_str());
  }
};

TEST_F(update_conditions, update_completes_among_hundreds_of_other_services) {
  // Registered before the server's service, and named to sort before it:
  // whether the manager lists services as registered or by name, the
  // server's comes after several full batches.
  other_services others(300);
  ASSERT_NO_FATAL_FAILURE(first_installation());
  auto result = install();
  EXPECT_FALSE(result.timed_out) << result.out;
  EXPECT_EQ(result.exit_code, 0u) << result.out;
  EXPECT_TRUE(contains(result.out, "Discovering services for \"qzv.ua.brq.exe\"...\r\n  QZVOPCUA.BRQ -> running\r\n"))
      << result.out;
  EXPECT_FALSE(contains(result.out, "failed to enum services")) << result.out;
  expect_one_server_process();
}

}  // namespace
}  // namespace brq_install
