// Which program a service runs, read as the service manager reads its image
// path, and an enumeration that must end even when the service manager does
// not move its resume handle on.
#include <gtest/gtest.h>

#include "check_processes.hpp"
#include "console/console.hpp"
#include "console_recorder.hpp"
#include "discover_services.hpp"
#include "fake_process_table.hpp"
#include "fake_service_manager.hpp"
#include "files.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/file_identity.hpp"
#include "win/service_query.hpp"

namespace brq_install {
namespace {

using test::fake_service_manager;
using test::text_of;

struct service_image_test : ::testing::Test {
  test::temp_tree tree;
  std::wstring dir = tree.directory(L"dir with blanks");
  std::wstring server = tree.file(L"dir with blanks\\qzv.ua.brq.exe");
  test::fake_clock clock;
  fake_service_manager manager{clock};

  std::vector<std::wstring> matches() {
    SC_HANDLE scm = win::api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    std::vector<std::vector<win::found_service>> found;
    EXPECT_EQ(win::find_image_services(scm, std::span(&server, 1), found), 0u);
    win::api.CloseServiceHandle(scm);
    std::vector<std::wstring> names;
    for (const win::found_service& service : found.at(0)) names.push_back(service.name);
    return names;
  }
};

TEST_F(service_image_test, image_paths_are_read_as_the_service_manager_starts_them) {
  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", tree.path().c_str());
  tree.file(L"dir.exe");  // what an unquoted "...\dir with blanks\..." starts first
  const std::wstring root = tree.path();
  struct {
    std::wstring command_line;
    bool matches;
  } cases[] = {
      {L"\"%BRQ_TEST_ROOT%\\dir with blanks\\qzv.ua.brq.exe\" -service", true},
      {L"\"" + dir + L"\\qzv.ua.brq\"", false},  // quoted: taken as it stands
      {root + L"\\dir with blanks\\qzv.ua.brq.exe", false},  // "...\dir" + ".exe" exists and wins
      {L"%BRQ_TEST_UNSET%\\qzv.ua.brq.exe", false},
      {L"", false},
      {L"\"\"", false},
  };
  for (const auto& c : cases) manager.add({.name = L"S" + std::to_wstring(manager.services.size()), .command_line = c.command_line});
  std::vector<std::wstring> expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].matches) expected.push_back(L"S" + std::to_wstring(i));
  }
  EXPECT_EQ(matches(), expected);

  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", nullptr);
}

TEST_F(service_image_test, an_unquoted_path_with_blanks_is_resolved_as_create_process_does) {
  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", tree.path().c_str());
  manager.add({.name = L"unquoted", .command_line = dir + L"\\qzv.ua.brq.exe"});
  manager.add({.name = L"unquoted with arguments", .command_line = dir + L"\\qzv.ua.brq.exe -x -y"});
  manager.add({.name = L"variable, unquoted", .command_line = L"%BRQ_TEST_ROOT%\\dir with blanks\\qzv.ua.brq.exe"});
  // ".brq" is an extension already: no ".exe" is appended to it.
  manager.add({.name = L"other extension", .command_line = dir + L"\\qzv.ua.brq -x"});
  manager.add({.name = L"another program", .command_line = tree.path() + L"\\other dir\\qzv.ua.brq.exe"});
  EXPECT_EQ(matches(),
            (std::vector<std::wstring>{L"unquoted", L"unquoted with arguments", L"variable, unquoted"}));
  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", nullptr);
}

// Wine's enumeration: the resume handle stays at 0 and every batch starts
// with the first service again.
TEST_F(service_image_test, an_enumeration_without_progress_asks_once_for_all_then_gives_up) {
  manager.wine_enumeration = true;
  for (int i = 0; i < 300; ++i) {
    manager.add({.name = L"unrelated." + std::to_wstring(i), .display_name = std::wstring(80, L'd'),
                 .command_line = L"C:\\windows\\system32\\svchost.exe -k unrelated"});
  }
  manager.add({.name = L"QZVOPCUA.BRQ", .command_line = L"\"" + server + L"\"", .state = SERVICE_RUNNING});
  EXPECT_EQ(matches(), std::vector<std::wstring>{L"QZVOPCUA.BRQ"});
  ASSERT_EQ(manager.enum_sizes.size(), 2u);
  EXPECT_EQ(manager.enum_sizes[0], 16384u);
  EXPECT_GT(manager.enum_sizes[1], 16384u);

  // A service manager that never makes progress, however large the buffer.
  manager.enum_sizes.clear();
  static decltype(win::api.EnumServicesStatusW) forward;
  forward = win::api.EnumServicesStatusW;
  test::scoped_override stuck(win::api.EnumServicesStatusW,
                                 +[](SC_HANDLE scm, DWORD type, DWORD state, ENUM_SERVICE_STATUSW* entries,
                                     DWORD size, DWORD* needed, DWORD* count, DWORD* resume) -> BOOL {
                                   forward(scm, type, state, entries, std::min<DWORD>(size, 16384), needed,
                                           count, resume);
                                   *needed = size + 16384;
                                   ::SetLastError(ERROR_MORE_DATA);
                                   return FALSE;
                                 });
  install_plan plan;
  plan.destination = dir;
  plan.files.push_back({.resource_id = 101, .name = L"qzv.ua.brq.exe"});
  place_files(plan);
  test::console_recorder console;
  discover_services(plan);
  EXPECT_EQ(console.text(), "Discovering services for \"qzv.ua.brq.exe\"...\nfailed to enum services\n" +
                                text_of(ERROR_MORE_DATA) + "\nWill attempt to continue...\n");
  EXPECT_TRUE(plan.services.empty());
  EXPECT_EQ(manager.enum_sizes.size(), 2u);
}

// Services that could not be discovered are neither stopped nor started
// again: ending the server's process would leave its service down.
TEST_F(service_image_test, processes_of_a_file_whose_services_are_unknown_are_not_ended) {
  manager.add({.name = L"QZVOPCUA.BRQ", .command_line = L"\"" + server + L"\"", .state = SERVICE_RUNNING});
  manager.at(L"QZVOPCUA.BRQ").config_error = ERROR_ACCESS_DENIED;
  test::fake_process_table processes;
  processes.add(4242, server);
  install_plan plan;
  plan.destination = dir;
  plan.files.push_back({.resource_id = 101, .name = L"qzv.ua.brq.exe"});
  place_files(plan);
  test::console_recorder console;
  discover_services(plan);
  check_processes(plan);
  EXPECT_EQ(console.text(), "Discovering services for \"qzv.ua.brq.exe\"...\nfailed to enum services\n" +
                                text_of(ERROR_ACCESS_DENIED) + "\nWill attempt to continue...\n");
  EXPECT_TRUE(processes.terminated.empty());
}

// A file is the same only by volume and index together: the same index on
// another volume is another file.
TEST_F(service_image_test, files_match_by_volume_and_index_together) {
  struct {
    const char* what;
    DWORD other_serial, other_index;
    bool same;
  } cases[] = {
      {"same volume, same index", 0x5EE9, 7, true},
      {"other volume, same index", 0x5EEA, 7, false},
      {"same volume, other index", 0x5EE9, 8, false},
  };
  static const BY_HANDLE_FILE_INFORMATION* answer = nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BY_HANDLE_FILE_INFORMATION infos[2] = {};
    infos[0].dwVolumeSerialNumber = 0x5EE9;
    infos[0].nFileIndexLow = 7;
    infos[1].dwVolumeSerialNumber = c.other_serial;
    infos[1].nFileIndexLow = c.other_index;
    answer = infos;
    test::scoped_override identity(win::api.GetFileInformationByHandle,
                                      +[](HANDLE, BY_HANDLE_FILE_INFORMATION* info) -> BOOL {
                                        *info = *answer++;
                                        return TRUE;
                                      });
    std::wstring other = tree.file(L"other.exe");
    EXPECT_EQ(win::same_file(server, other), c.same);
  }
}

}  // namespace
}  // namespace brq_install
