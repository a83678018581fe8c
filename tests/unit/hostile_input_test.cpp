// What other software leaves in the system, at its worst: module paths past
// the buffer the installer reads them into, and ten thousand services and
// processes. The steps must finish, match nothing that is not the installed
// file, and give back every handle (the fakes check that at their end). The
// oddest service command lines are in the service image test's table.
#include <gtest/gtest.h>

#include "check_processes.hpp"
#include "console_recorder.hpp"
#include "product_plan.hpp"
#include "discover_services.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "files.hpp"

namespace brq_install {
namespace {

std::wstring in_quotes(const std::wstring& path) { return L"\"" + path + L"\""; }

struct hostile_input_test : ::testing::Test {
  test::scoped_platform platform;
  test::fake_clock clock;
  test::fake_service_manager scm{clock};
  test::fake_process_table processes;
  test::console_recorder console;
  test::temp_tree root;  // no blank in its own path
  install_plan plan = build_install_plan();

  // The destination, a directory in the tree; only the server is installed.
  void install_into(const std::wstring& directory) {
    plan = test::product_plan(root.directory(directory));
    root.file(directory + L"\\qzv.ua.brq.exe");
  }
  std::wstring server() const { return plan.destination + L"\\qzv.ua.brq.exe"; }
  bool server_services_found() {
    plan.services.clear();
    discover_services(plan);
    return plan.services.contains(L"qzv.ua.brq.exe");
  }
};

TEST_F(hostile_input_test, module_paths_past_the_buffer_never_match) {
  // The server's path is 259 characters long: a longer module path that
  // starts with it would, cut to a buffer of MAX_PATH, name the server.
  std::wstring file_part = L"\\qzv.ua.brq.exe";
  install_into(std::wstring(259 - root.path().size() - 1 - file_part.size(), L'p'));
  ASSERT_EQ(server().size(), 259u);
  processes.add(12, server() + L".old");
  processes.add(16, std::wstring(32768, L'a'));
  processes.add(20, L"");
  processes.add(24, server());  // the server itself still fits
  check_processes(plan);
  EXPECT_EQ(processes.terminated, (std::vector<std::pair<DWORD, UINT>>{{24, 0}}));
}

TEST_F(hostile_input_test, ten_thousand_services_and_processes) {
  // Every thousandth runs the server. The others name programs that are
  // gone, and most processes are closed to the installer, as system
  // processes are: under Wine each comparison with an existing file costs
  // milliseconds, and this test is about the numbers.
  install_into(L"brq");
  for (int i = 0; i < 10000; ++i) {
    bool ours = i % 1000 == 999;
    std::wstring gone = root.path() + L"\\gone\\program " + std::to_wstring(i) + L".exe";
    scm.add({.name = L"service " + std::to_wstring(i),
             .command_line = in_quotes(ours ? server() : gone) + L" -n " + std::to_wstring(i),
             .state = SERVICE_RUNNING});
    processes.add(4 * (i + 1), ours ? server() : gone).open_error = ours || i % 10 == 0 ? 0 : ERROR_ACCESS_DENIED;
  }
  EXPECT_TRUE(server_services_found());
  EXPECT_EQ(plan.services.at(L"qzv.ua.brq.exe").size(), 10u);
  check_processes(plan);
  EXPECT_EQ(processes.terminated.size(), 10u);
}

}  // namespace
}  // namespace brq_install
