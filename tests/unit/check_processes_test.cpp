// The process check: which processes it ends, what it prints, and that it
// never ends a program whose id was reused.
#include "unit_prelude.hpp"

#include <algorithm>

#include "check_processes.hpp"
#include "fake_process_table.hpp"
#include "win/processes.hpp"

namespace brq_install {
namespace {

struct check_processes_test : ::testing::Test {
  test::scoped_platform platform;
  test::fake_process_table processes;
  test::console_recorder console;
  test::temp_tree root, elsewhere;
  install_plan plan = test::product_plan(root.path());
  std::wstring server = root.file(L"qzv.ua.brq.exe");
  std::wstring ctrl = root.file(L"qzv.ua.brq.ctrl.exe");
  std::wstring dev = root.file(L"qzv.ua.brq.dev.exe");
  std::wstring copy = elsewhere.file(L"qzv.ua.brq.exe");

  // Every file the check opened, to compare it with the installed files.
  static inline std::vector<std::wstring> opened_files;
  test::scoped_override<decltype(win::api.CreateFileW)> record_opens{
      win::api.CreateFileW, [](const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition, DWORD flags, HANDLE model) {
        opened_files.push_back(path);
        return win::real_api.CreateFileW(path, access, share, security, disposition, flags, model);
      }};
  check_processes_test() { opened_files.clear(); }

  size_t opened_with(DWORD access) const {
    return std::count_if(processes.opens.begin(), processes.opens.end(),
                         [&](const auto& open) { return open.second == access; });
  }
};

TEST_F(check_processes_test, no_other_process_is_ended) {
  processes.add(4, L"C:\\windows\\system32\\services.exe");
  processes.add(8, copy);  // a copy of the server in another directory
  // Processes of the server that cannot be opened or read are passed over.
  processes.add(12, server).open_error = ERROR_ACCESS_DENIED;
  processes.add(16, server).module_error = ERROR_PARTIAL_COPY;
  processes.add(20, server).denied_access = PROCESS_QUERY_LIMITED_INFORMATION;
  processes.add(24, server);
  // Image paths that are not on a local drive are never opened: an
  // administrator's credentials would go to whoever serves them.
  DWORD remote_id = 100;
  for (const wchar_t* remote :
       {LR"(\\host\share\x.exe)", LR"(\\host@SSL\dav\x.exe)", LR"(\\.\pipe\host)", LR"(\\?\UNC\host\share\x.exe)"}) {
    processes.add(remote_id++, remote);
  }
  // Another user's, and the token has no SeDebugPrivilege to open it.
  processes.add(32, server).other_user = true;
  processes.holds_debug_privilege = false;
  processes.on_open = [&](DWORD id, DWORD access) {
    // Between the search and the termination, process 24 ended and its id
    // went to another program.
    if (access & PROCESS_TERMINATE) processes.find(id)->module = L"C:\\windows\\notepad.exe";
  };
  check_processes(plan);
  EXPECT_EQ(console.text(),
            "Checking processes for \"qzv.ua.brq.exe\"... \n"
            "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
            "Checking processes for \"qzv.ua.brq.dev.exe\"... \n");
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_EQ(opened_with(0x1000), 11u);  // each process opened once for the three files
  EXPECT_EQ(opened_with(0x1001), 1u);   // 24, to be ended
  for (const std::wstring& path : opened_files) EXPECT_EQ(path.find(L"host"), std::wstring::npos) << path;
}

TEST_F(check_processes_test, processes_of_a_file_are_ended_in_list_order) {
  processes.add(12, server);
  processes.add(40, L"C:\\windows\\system32\\explorer.exe");
  processes.add(44, root.path() + L"\\QZV.UA.BRQ.EXE");  // another spelling of the same file
  processes.add(48, dev);
  processes.add(52, LR"(\\?\)" + dev).other_user = true;  // opens with SeDebugPrivilege
  check_processes(plan);
  EXPECT_EQ(console.text(),
            "Checking processes for \"qzv.ua.brq.exe\"... \n"
            "  will kill process 12... ok\n"
            "  will kill process 44... ok\n"
            "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
            "Checking processes for \"qzv.ua.brq.dev.exe\"... \n"
            "  will kill process 48... ok\n"
            "  will kill process 52... ok\n");
  EXPECT_EQ(processes.terminated, (std::vector<std::pair<DWORD, UINT>>{{12, 0}, {44, 0}, {48, 0}, {52, 0}}));
  EXPECT_EQ(opened_with(0x1001), 4u);
  EXPECT_FALSE(processes.debug_enabled) << "SeDebugPrivilege left enabled";
}

TEST_F(check_processes_test, enumeration_buffer_doubles_while_it_may_be_too_small) {
  struct {
    DWORD processes;
    std::vector<DWORD> sizes;
  } cases[] = {
      {255, {1024}},
      {256, {1024, 2048}},
      {512, {1024, 2048, 4096}},
      {513, {1024, 2048, 4096}},
  };
  for (const auto& c : cases) {
    processes.processes.clear();
    for (DWORD id = 1; id <= c.processes; ++id) processes.add(id * 4, L"C:\\other.exe");
    processes.enum_sizes.clear();
    std::vector<DWORD> ids;
    EXPECT_EQ(win::enum_process_ids(ids), 0u);
    EXPECT_EQ(ids.size(), c.processes);
    EXPECT_EQ(processes.enum_sizes, c.sizes) << c.processes;
  }
}

TEST_F(check_processes_test, failed_enumeration_is_a_warning_and_the_next_file_follows) {
  processes.enum_error = ERROR_NOT_ENOUGH_MEMORY;
  check_processes(plan);
  std::string warning = "failed\n" + text_of(ERROR_NOT_ENOUGH_MEMORY) + "\nWill attempt to continue...\n";
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Checking processes for \"qzv.ua.brq.exe\"... ", plain},
                                {warning, color_warning},
                                {"Checking processes for \"qzv.ua.brq.ctrl.exe\"... ", plain},
                                {warning, color_warning},
                                {"Checking processes for \"qzv.ua.brq.dev.exe\"... ", plain},
                                {warning, color_warning},
                            }));
}

TEST_F(check_processes_test, failed_termination_is_a_warning_and_the_next_process_follows) {
  processes.add(12, server).denied_access = PROCESS_TERMINATE;
  processes.add(16, server).terminate_error = ERROR_ACCESS_DENIED;
  processes.add(20, server);
  check_processes(plan);
  std::string warning = "failed\n" + text_of(ERROR_ACCESS_DENIED) + "\nWill attempt to continue...\n";
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Checking processes for \"qzv.ua.brq.exe\"... \n"
                                 "  will kill process 12... ",
                                 plain},
                                {warning, color_warning},
                                {"  will kill process 16... ", plain},
                                {warning, color_warning},
                                {"  will kill process 20... ok\n"
                                 "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
                                 "Checking processes for \"qzv.ua.brq.dev.exe\"... \n",
                                 plain},
                            }));
  EXPECT_EQ(processes.terminated, (std::vector<std::pair<DWORD, UINT>>{{20, 0}}));
}

// The server's path is 259 characters long: a longer module path that
// starts with it would, cut to a buffer of MAX_PATH, name the server.
TEST_F(check_processes_test, module_paths_past_the_buffer_never_match) {
  test::temp_tree deep;
  std::wstring file_part = L"\\qzv.ua.brq.exe";
  plan = test::product_plan(deep.directory(std::wstring(259 - deep.path().size() - 1 - file_part.size(), L'p')));
  std::wstring long_server = deep.file(plan.destination.substr(deep.path().size() + 1) + file_part);
  ASSERT_EQ(long_server.size(), 259u);
  processes.add(12, long_server + L".old");
  processes.add(16, std::wstring(32768, L'a'));
  processes.add(20, L"");
  processes.add(24, long_server);  // the server itself still fits
  check_processes(plan);
  EXPECT_EQ(processes.terminated, (std::vector<std::pair<DWORD, UINT>>{{24, 0}}));
}

}  // namespace
}  // namespace brq_install
