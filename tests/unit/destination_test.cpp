// The destination directory: reading "ProgramFiles" (set, ending in a
// backslash, unset, empty, unreadable), the step's output and colours, the
// run ending with exit code 1, and create_directories level by level, both
// through the platform table and on Wine's file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "destination.hpp"
#include "files.hpp"
#include "install_plan.hpp"
#include "platform_override.hpp"
#include "run.hpp"
#include "win/environment.hpp"

namespace brq_install {
namespace {

using test::console_recorder;
using test::text_of;
using run_piece = console_recorder::run;
constexpr WORD plain = console_recorder::plain;

// "ProgramFiles" as the fake environment holds it; nullopt: not set.
std::optional<std::wstring> program_files;
DWORD read_error = 0;  // when set, reading the value (not its size) fails
std::vector<std::wstring> names_asked;

// Behaves as GetEnvironmentVariableW does: too small a buffer gives the size
// needed with the null, a read gives the length without it, and an empty
// value reads as 0 without touching the last error.
DWORD WINAPI fake_environment(LPCWSTR name, LPWSTR buffer, DWORD size) {
  names_asked.push_back(name);
  if (std::wstring_view(name) != L"ProgramFiles" || !program_files) {
    ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  if (buffer != nullptr && read_error != 0) {
    ::SetLastError(read_error);
    return 0;
  }
  auto length = static_cast<DWORD>(program_files->size());
  if (size <= length) return length + 1;
  program_files->copy(buffer, length);
  buffer[length] = L'\0';
  return length;
}

struct destination_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    win::api.GetEnvironmentVariableW = &fake_environment;
    program_files.reset();
    read_error = 0;
    names_asked.clear();
    ::SetLastError(ERROR_FILE_NOT_FOUND);  // stale: must never be reported
  }
};

TEST_F(destination_test, settles_under_the_program_files_directory) {
  struct {
    const wchar_t* program_files;
    const wchar_t* destination;
    std::string line;
  } cases[] = {
      {L"C:\\Program Files", L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq",
       "Destination: C:\\Program Files\\Quorvanta\\QZV.UA\\brq\n"},
      {L"D:\\", L"D:\\Quorvanta\\QZV.UA\\brq", "Destination: D:\\Quorvanta\\QZV.UA\\brq\n"},
      {L"E:\\Programme \u00DC\u4E2D", L"E:\\Programme \u00DC\u4E2D\\Quorvanta\\QZV.UA\\brq",
       "Destination: E:\\Programme \xC3\x9C\xE4\xB8\xAD\\Quorvanta\\QZV.UA\\brq\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wide_to_utf8(c.program_files));
    program_files = c.program_files;
    console_recorder console;
    install_plan plan = build_install_plan();
    EXPECT_TRUE(settle_destination(plan));
    EXPECT_EQ(plan.destination, c.destination);
    EXPECT_EQ(console.runs(), (std::vector<run_piece>{{c.line, plain}}));
    EXPECT_EQ(console.attribute_changes, 0);
  }
}

TEST_F(destination_test, an_unreadable_program_files_directory_is_an_error_block) {
  struct {
    const char* label;
    std::optional<std::wstring> program_files;
    DWORD read_error;
    DWORD reported;
  } cases[] = {
      {"not set", std::nullopt, 0, ERROR_ENVVAR_NOT_FOUND},
      {"empty", L"", 0, ERROR_ENVVAR_NOT_FOUND},
      {"read fails", L"C:\\Program Files", ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    program_files = c.program_files;
    read_error = c.read_error;
    names_asked.clear();
    console_recorder console;
    install_plan plan = build_install_plan();
    EXPECT_FALSE(settle_destination(plan));
    EXPECT_EQ(plan.destination, L"");
    std::string block = "Failed to get \"Program Files\"\n" + text_of(c.reported) + "\n";
    EXPECT_EQ(console.runs(), (std::vector<run_piece>{{block, color_error}}));
    EXPECT_EQ(console.attribute(), plain);
    for (const auto& name : names_asked) EXPECT_EQ(name, L"ProgramFiles");
  }
}

// Our own process's environment, with the real GetEnvironmentVariableW: how
// the system itself answers for a variable that is empty or missing.
TEST(get_program_files, reads_the_processs_own_environment) {
  wchar_t saved[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"ProgramFiles", saved, MAX_PATH), 0u);
  struct {
    const wchar_t* value;  // null: removed
    DWORD code;
    const wchar_t* read;
  } cases[] = {
      {L"X:\\Some Programs", 0, L"X:\\Some Programs"},
      {L"", ERROR_ENVVAR_NOT_FOUND, L"unchanged"},
      {nullptr, ERROR_ENVVAR_NOT_FOUND, L"unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wide_to_utf8(c.value ? c.value : L"(removed)"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"ProgramFiles", c.value));
    std::wstring text = L"unchanged";
    EXPECT_EQ(win::get_program_files(text), c.code);
    EXPECT_EQ(text, c.read);
  }
  SetEnvironmentVariableW(L"ProgramFiles", saved);
}

// The whole run in this process: with "ProgramFiles" unreadable it ends
// after the error block with exit code 1, before any later step could print.
DWORD WINAPI unreadable_version(LPCWSTR, LPDWORD) {
  ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}

TEST_F(destination_test, the_run_ends_with_exit_code_1_after_the_error_block) {
  win::api.GetFileVersionInfoSizeW = &unreadable_version;
  const std::optional<std::wstring> unset_or_empty[] = {std::nullopt, L""};
  for (const auto& value : unset_or_empty) {
    program_files = value;
    console_recorder console;
    const char* argv[] = {"qzv.ua.brq.install.exe"};
    EXPECT_EQ(run(1, argv), 1);
    EXPECT_EQ(console.runs(),
              (std::vector<run_piece>{
                  {"os 0.0.0.0 => crt \"nt4\"\n", plain},
                  {"Failed to get \"Program Files\"\n" + text_of(ERROR_ENVVAR_NOT_FOUND) + "\n",
                   color_error},
              }));
  }
}

// create_directories through the table: every CreateDirectoryW call recorded.
std::vector<std::wstring> directory_calls;
std::set<std::wstring> directories;  // present: answered with 183
std::wstring refused;                // answered with access denied
bool fails_without_code = false;     // FALSE with last error 0
bool security_attributes_given = false;

BOOL WINAPI fake_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  directory_calls.push_back(path);
  security_attributes_given |= security != nullptr;
  if (directories.count(path) != 0) {
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (path == refused) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (fails_without_code) {
    ::SetLastError(0);
    return FALSE;
  }
  directories.insert(path);
  return TRUE;
}

struct create_directories_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    win::api.CreateDirectoryW = &fake_create_directory;
    directory_calls.clear();
    directories.clear();
    refused.clear();
    fails_without_code = false;
    security_attributes_given = false;
  }
};

const std::wstring server_path = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe";
const std::vector<std::wstring> server_levels = {
    L"C:\\Program Files", L"C:\\Program Files\\Quorvanta", L"C:\\Program Files\\Quorvanta\\QZV.UA",
    L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq"};

TEST_F(create_directories_test, creates_every_level_between_the_drive_and_the_file_name) {
  struct {
    std::wstring path;
    std::vector<std::wstring> created;
  } cases[] = {
      {L"", {}},
      {L"qzv.ua.brq.exe", {}},
      {L"C:\\qzv.ua.brq.exe", {}},
      {L"C:\\", {}},
      {L"C:\\a\\", {L"C:\\a"}},
      {L"C:\\a\\b\\", {L"C:\\a", L"C:\\a\\b"}},
      {server_path, server_levels},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wide_to_utf8(c.path));
    directory_calls.clear();
    directories.clear();
    console_recorder console;
    EXPECT_TRUE(create_directories(c.path));
    EXPECT_EQ(directory_calls, c.created);
    EXPECT_EQ(console.text(), "");
  }
  EXPECT_FALSE(security_attributes_given);
}

TEST_F(create_directories_test, levels_already_present_are_success_but_a_failure_without_a_code_is_not) {
  directories.insert(server_levels.begin(), server_levels.end());
  {
    console_recorder console;
    EXPECT_TRUE(create_directories(server_path));
    EXPECT_EQ(directory_calls, server_levels);
    EXPECT_EQ(console.text(), "");
  }
  directory_calls.clear();
  directories.clear();
  fails_without_code = true;
  console_recorder console;
  EXPECT_FALSE(create_directories(server_path));
  EXPECT_EQ(directory_calls, std::vector<std::wstring>{server_levels.front()});
  EXPECT_EQ(console.text(), "Failed to create dir \"C:\\Program Files\"\n" + text_of(ERROR_FUNCTION_FAILED) + "\n");
}

TEST_F(create_directories_test, a_refused_level_is_named_and_the_levels_before_it_stay) {
  const std::wstring drive = L"C:\\Pr\u00F8gram";  // present already
  const std::wstring made = drive + L"\\Quorvanta";
  const std::wstring denied = made + L"\\QZV.UA";
  directories = {drive};
  refused = denied;
  console_recorder console;
  EXPECT_FALSE(create_directories(denied + L"\\brq\\qzv.ua.brq.exe"));
  EXPECT_EQ(directory_calls, (std::vector<std::wstring>{drive, made, denied}));
  EXPECT_EQ(directories, (std::set<std::wstring>{drive, made}));
  std::string block = "Failed to create dir \"C:\\Pr\xC3\xB8gram\\Quorvanta\\QZV.UA\"\n" +
                      text_of(ERROR_ACCESS_DENIED) + "\n";
  EXPECT_EQ(console.runs(), (std::vector<run_piece>{{block, color_error}}));
  EXPECT_EQ(console.attribute(), plain);
}

// On Wine's file system, with the real CreateDirectoryW.
struct real_directories : ::testing::Test {
  std::wstring root;
  void SetUp() override {
    root = test::temp_file_path();  // a fresh name; the file makes way for a directory
    DeleteFileW(root.c_str());
  }
  void TearDown() override { std::filesystem::remove_all(std::filesystem::path(root)); }
  static bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
};

TEST_F(real_directories, creates_a_deep_new_path_and_finds_it_the_second_time) {
  const std::wstring deep = root + L"\\Quorvanta\\QZV.UA\\brq\\one\\two";
  const std::wstring file = deep + L"\\qzv.ua.brq.exe";
  console_recorder console;
  EXPECT_TRUE(create_directories(file));
  EXPECT_TRUE(is_directory(deep));
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(create_directories(file));  // every level answers 183
  EXPECT_EQ(console.text(), "");
}

TEST_F(real_directories, a_level_that_cannot_be_made_is_named_and_earlier_levels_stay) {
  // A file where a directory should be: creating it answers "already exists",
  // so the level below it is the one that fails.
  const std::wstring blocker = root + L"\\Quorvanta\\QZV.UA";
  ASSERT_TRUE(create_directories(blocker));  // makes root and root\Quorvanta
  HANDLE handle = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);

  console_recorder console;
  EXPECT_FALSE(create_directories(blocker + L"\\brq\\qzv.ua.brq.exe"));
  EXPECT_TRUE(is_directory(root + L"\\Quorvanta"));
  std::string block = "Failed to create dir \"" + wide_to_utf8(blocker) + "\\brq\"\n" +
                      text_of(ERROR_PATH_NOT_FOUND) + "\n";
  EXPECT_EQ(console.runs(), (std::vector<run_piece>{{block, color_error}}));
}

}  // namespace
}  // namespace brq_install
