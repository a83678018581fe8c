// Which program a service runs, read as the service manager reads its image
// path, whatever other software registered, and an enumeration that must end
// even when the service manager does not move its resume handle on.
#include "unit_prelude.hpp"

#include "command_lines.hpp"
#include "discover_services.hpp"
#include "fake_service_manager.hpp"
#include "win/service_query.hpp"

namespace brq_install {
namespace {

using test::fake_service_manager;

struct service_query_test : ::testing::Test {
  test::temp_tree tree;
  std::wstring dir = tree.directory(L"dir with blanks");
  std::wstring server = tree.file(L"dir with blanks\\qzv.ua.brq.exe");
  std::wstring ctrl = tree.file(L"dir with blanks\\qzv.ua.brq.ctrl.exe");
  std::wstring copy = tree.file(L"other dir\\qzv.ua.brq.exe");
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
  static std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }
};

// Every way a command line can name a program, in one table: the service
// manager reads a quoted path as it stands, expands variables, resolves an
// unquoted path with blanks as CreateProcess does (the first existing
// "<prefix>.exe" wins), and other software registers the oddest lines.
TEST_F(service_query_test, a_command_line_runs_the_server_only_when_the_service_manager_would_start_it) {
  const std::wstring root = tree.path();
  const std::wstring long_path = root + L"\\" + std::wstring(300, L'x') + L"\\qzv.ua.brq.exe";
  struct command_line_case {
    std::string what;
    std::wstring command_line;
    bool matches;
    const wchar_t* plant = nullptr;  // a file made for this case only
  };
  std::vector<command_line_case> cases = {
      {"quoted, with arguments", quoted(server) + L" -service --port 4840", true},
      {"another letter case", quoted(dir + L"\\QZV.UA.BRQ.EXE"), true},
      {"through another directory", quoted(dir + L"\\..\\dir with blanks\\qzv.ua.brq.exe"), true},
      {"a quoted variable", L"\"%BRQ_TEST_ROOT%\\dir with blanks\\qzv.ua.brq.exe\" -service", true},
      {"unquoted", server, true},
      {"unquoted, with arguments", server + L" -x -y", true},
      {"an unquoted variable", L"%BRQ_TEST_ROOT%\\dir with blanks\\qzv.ua.brq.exe", true},
      {"a quote that never closes at the end", quoted(server) + L" -x \"", true},
      {"odd arguments", quoted(server) + L" -a \"b c\" \"\" d\\\"e", true},
      {"32 KiB of arguments", quoted(server) + L" " + std::wstring(32768, L'a'), true},
      {"unquoted, where \"...\\dir.exe\" exists and runs instead", server, false, L"dir.exe"},
      {"quoted without its extension", quoted(dir + L"\\qzv.ua.brq"), false},
      {"another extension, unquoted", dir + L"\\qzv.ua.brq -x", false},
      {"a copy in another directory", quoted(copy), false},
      {"another program", quoted(ctrl), false},
      {"a file that does not exist", quoted(dir + L"\\gone.exe"), false},
      {"an unset variable", L"%BRQ_TEST_UNSET%\\qzv.ua.brq.exe", false},
      {"a variable that expands past 32 KiB", L"%BRQ_BIG%%BRQ_BIG%\\qzv.ua.brq.exe", false},
      {"a quote that never closes, arguments inside it", L"\"" + server + L" -x", false},
      {"empty", L"", false},
      {"empty quotes", L"\"\"", false},
      {"a directory", quoted(dir), false},
      {"a directory, trailing backslash", quoted(dir + L"\\"), false},
      {"longer than 260 characters", quoted(long_path), false},
      {"the root of a drive", L"C:\\", false},
  };
  for (const auto& odd : test::odd_command_lines()) cases.push_back({odd.what, odd.command_line, false});
  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", root.c_str());
  SetEnvironmentVariableW(L"BRQ_BIG", std::wstring(30000, L'b').c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring planted = c.plant ? tree.file(c.plant) : L"";
    manager.services = {{.name = L"svc", .command_line = c.command_line, .state = SERVICE_RUNNING}};
    EXPECT_EQ(matches(), c.matches ? std::vector<std::wstring>{L"svc"} : std::vector<std::wstring>{});
    if (c.plant) DeleteFileW(planted.c_str());
  }
  SetEnvironmentVariableW(L"BRQ_TEST_ROOT", nullptr);
  SetEnvironmentVariableW(L"BRQ_BIG", nullptr);
}

TEST_F(service_query_test, a_short_name_matches_as_the_system_resolves_it) {
  // Wine makes no 8.3 names: here the file system resolves one as Windows
  // would, by opening the long path in its place.
  static std::wstring short_path, long_path;
  short_path = L"C:\\PROGRA~1\\QZVUA~1.EXE";
  long_path = server;
  api.CreateFileW = [](const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                       DWORD flags, HANDLE model) {
    const wchar_t* real = path == short_path ? long_path.c_str() : path;
    return test::beneath().CreateFileW(real, access, share, security, disposition, flags, model);
  };
  manager.add({.name = L"svc", .command_line = short_path + L" -arg"});
  EXPECT_EQ(matches(), std::vector<std::wstring>{L"svc"});
}

// Wine's enumeration: the resume handle stays at 0 and every batch starts
// with the first service again.
TEST_F(service_query_test, an_enumeration_without_progress_asks_once_for_all_then_gives_up) {
  manager.wine_enumeration = true;
  for (int i = 0; i < 300; ++i) {
    manager.add({.name = L"unrelated." + std::to_wstring(i),
                 .display_name = std::wstring(80, L'd'),
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
  test::scoped_override stuck(
      win::api.EnumServicesStatusW,
      +[](SC_HANDLE scm, DWORD type, DWORD state, ENUM_SERVICE_STATUSW* entries, DWORD size, DWORD* needed,
          DWORD* count, DWORD* resume) -> BOOL {
        forward(scm, type, state, entries, std::min<DWORD>(size, 16384), needed, count, resume);
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

}  // namespace
}  // namespace brq_install
