// The process check: which processes it ends, what it prints, and that it
// never ends a program whose id was reused.
#include <gtest/gtest.h>

#include <map>

#include "check_processes.hpp"
#include "console/console.hpp"
#include "console_recorder.hpp"
#include "files.hpp"
#include "install_plan.hpp"
#include "win/processes.hpp"

namespace brq_install {
namespace {

using win::api;
using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

// A fake process table. Each process runs from `image`; the flags make the
// system refuse what a real one may refuse.
struct fake_process {
  std::wstring image;
  DWORD open_error = 0;       // OpenProcess fails with this
  DWORD terminate_open_error = 0;  // ... only when asked for termination
  bool unreadable = false;    // K32GetModuleFileNameExW fails
  std::wstring image_at_termination;  // the id was reused by this program
  DWORD terminate_error = 0;  // TerminateProcess fails with this
};

std::map<DWORD, fake_process> processes;
DWORD enum_error = 0;
std::vector<DWORD> enum_sizes;          // the buffer size of every enumeration
std::vector<DWORD> open_access;         // the access asked for by every open
std::vector<std::pair<DWORD, UINT>> ended;  // id and exit code
int open_handles = 0;
bool terminating = false;

HANDLE handle_of(DWORD id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10000 + id)); }
DWORD id_of(HANDLE handle) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(handle) - 0x10000); }

BOOL WINAPI fake_enum(DWORD* ids, DWORD size, DWORD* returned) {
  enum_sizes.push_back(size);
  if (enum_error != 0) {
    ::SetLastError(enum_error);
    return FALSE;
  }
  DWORD count = 0;
  for (const auto& entry : processes) {
    if ((count + 1) * sizeof(DWORD) > size) break;
    ids[count++] = entry.first;
  }
  *returned = count * sizeof(DWORD);
  return TRUE;
}

HANDLE WINAPI fake_open(DWORD access, BOOL, DWORD id) {
  open_access.push_back(access);
  auto it = processes.find(id);
  DWORD error = it == processes.end() ? ERROR_INVALID_PARAMETER : it->second.open_error;
  terminating = (access & PROCESS_TERMINATE) != 0;
  if (error == 0 && terminating) error = it->second.terminate_open_error;
  if (error != 0) {
    ::SetLastError(error);
    return nullptr;
  }
  ++open_handles;
  return handle_of(id);
}

DWORD WINAPI fake_module_name(HANDLE process, HMODULE module, wchar_t* name, DWORD size) {
  const fake_process& p = processes.at(id_of(process));
  const std::wstring& image =
      terminating && !p.image_at_termination.empty() ? p.image_at_termination : p.image;
  if (p.unreadable || module != nullptr) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  DWORD length = static_cast<DWORD>(std::min<size_t>(image.size(), size - 1));
  image.copy(name, length);
  name[length] = L'\0';
  return length;
}

BOOL WINAPI fake_terminate(HANDLE process, UINT exit_code) {
  const fake_process& p = processes.at(id_of(process));
  if (p.terminate_error != 0) {
    ::SetLastError(p.terminate_error);
    return FALSE;
  }
  ended.emplace_back(id_of(process), exit_code);
  return TRUE;
}

BOOL WINAPI fake_close(HANDLE handle) {
  if (processes.count(id_of(handle)) == 0) return win::real_api.CloseHandle(handle);
  --open_handles;
  return TRUE;
}

struct check_processes_test : ::testing::Test {
  testing::scoped_platform platform;
  testing::console_recorder console;
  testing::temp_tree root, elsewhere;
  install_plan plan = build_install_plan();
  std::wstring server = root.file(L"qzv.ua.brq.exe");
  std::wstring ctrl = root.file(L"qzv.ua.brq.ctrl.exe");
  std::wstring dev = root.file(L"qzv.ua.brq.dev.exe");
  std::wstring copy = elsewhere.file(L"qzv.ua.brq.exe");

  void SetUp() override {
    processes.clear();
    enum_error = 0;
    enum_sizes.clear();
    open_access.clear();
    ended.clear();
    open_handles = 0;
    api.K32EnumProcesses = &fake_enum;
    api.OpenProcess = &fake_open;
    api.K32GetModuleFileNameExW = &fake_module_name;
    api.TerminateProcess = &fake_terminate;
    api.CloseHandle = &fake_close;

    plan.os = {10, 0, 19045, 0};
    plan.destination = root.path();
  }
  void TearDown() override { EXPECT_EQ(open_handles, 0); }
};

const std::string no_process_at_all =
    "Checking processes for \"qzv.ua.brq.exe\"... \n"
    "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
    "Checking processes for \"qzv.ua.brq.dev.exe\"... \n";

TEST_F(check_processes_test, no_process_runs_an_installed_file) {
  processes[4] = {L"C:\\windows\\system32\\services.exe"};
  processes[8] = {copy};  // a copy of the server in another directory
  EXPECT_TRUE(check_processes(plan));
  EXPECT_EQ(console.text(), no_process_at_all);
  EXPECT_TRUE(ended.empty());
  EXPECT_EQ(open_access, std::vector<DWORD>(6, 0x0410u));  // two processes, three files
}

TEST_F(check_processes_test, processes_of_a_file_are_ended_in_list_order) {
  processes[12] = {server};
  processes[40] = {L"C:\\windows\\system32\\explorer.exe"};
  processes[44] = {root.path() + L"\\QZV.UA.BRQ.EXE"};  // another spelling of the same file
  processes[48] = {dev};
  EXPECT_TRUE(check_processes(plan));
  EXPECT_EQ(console.text(),
            "Checking processes for \"qzv.ua.brq.exe\"... \n"
            "  will kill process 12... ok\n"
            "  will kill process 44... ok\n"
            "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \n"
            "Checking processes for \"qzv.ua.brq.dev.exe\"... \n"
            "  will kill process 48... ok\n");
  EXPECT_EQ(ended, (std::vector<std::pair<DWORD, UINT>>{{12, 0}, {44, 0}, {48, 0}}));
  EXPECT_EQ(std::count(open_access.begin(), open_access.end(), 0x0411u), 3);
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
    processes.clear();
    for (DWORD id = 1; id <= c.processes; ++id) processes[id * 4] = {L"C:\\other.exe"};
    enum_sizes.clear();
    std::vector<DWORD> ids;
    EXPECT_EQ(win::enum_process_ids(ids), 0u);
    EXPECT_EQ(ids.size(), c.processes);
    EXPECT_EQ(enum_sizes, c.sizes) << c.processes;
  }
}

TEST_F(check_processes_test, failed_enumeration_is_a_warning_and_the_next_file_follows) {
  enum_error = ERROR_NOT_ENOUGH_MEMORY;
  EXPECT_TRUE(check_processes(plan));
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

TEST_F(check_processes_test, processes_that_cannot_be_opened_or_read_are_passed_over) {
  processes[12] = {server, ERROR_ACCESS_DENIED};
  processes[16] = {server, 0, 0, true};
  EXPECT_TRUE(check_processes(plan));
  EXPECT_EQ(console.text(), no_process_at_all);
  EXPECT_TRUE(ended.empty());
}

TEST_F(check_processes_test, failed_termination_is_a_warning_and_the_next_process_follows) {
  processes[12] = {server, 0, ERROR_ACCESS_DENIED};
  processes[16] = {server, 0, 0, false, L"", ERROR_ACCESS_DENIED};
  processes[20] = {server};
  EXPECT_TRUE(check_processes(plan));
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
  EXPECT_EQ(ended, (std::vector<std::pair<DWORD, UINT>>{{20, 0}}));
}

TEST_F(check_processes_test, an_id_reused_by_another_program_is_never_ended) {
  processes[12] = {server, 0, 0, false, L"C:\\windows\\notepad.exe"};
  EXPECT_TRUE(check_processes(plan));
  EXPECT_EQ(console.text(), no_process_at_all);
  EXPECT_TRUE(ended.empty());
}

TEST_F(check_processes_test, only_installed_executables_are_examined) {
  plan.files.clear();
  add_payload_file(plan, 1, "qzv.ua.brq.EXE");   // the server, in capitals
  add_payload_file(plan, 2, "qzv.ua.brq.ctrl.Exe");
  add_payload_file(plan, 3, "readme.txt");       // not an executable
  add_payload_file(plan, 4, "exe");              // too short
  add_payload_file(plan, 5, "missing.exe");      // not installed
  add_payload_file(plan, 6, "sub.exe");          // a directory
  root.directory(L"sub.exe");
  root.file(L"readme.txt");
  root.file(L"exe");
  EXPECT_TRUE(check_processes(plan));
  EXPECT_EQ(console.text(),
            "Checking processes for \"qzv.ua.brq.EXE\"... \n"
            "Checking processes for \"qzv.ua.brq.ctrl.Exe\"... \n");
}

}  // namespace
}  // namespace brq_install
