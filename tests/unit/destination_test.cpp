// The destination directory: reading "ProgramFiles" (set, ending in a
// backslash, unset, empty, unreadable), the step's output and colours, and
// create_directories level by level, both through the platform table and on
// Wine's file system. That the run then ends with exit code 1 and prints
// nothing more, the fault sweep checks for every failing call.
#include "unit_prelude.hpp"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "destination.hpp"
#include "win/environment.hpp"

namespace brq_install {
namespace {

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
    EXPECT_EQ(console.runs(), (std::vector<run>{{c.line, plain}}));
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
    EXPECT_EQ(console.runs(), (std::vector<run>{{block, color_error}}));
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
  if (path == refused || fails_without_code) {
    ::SetLastError(path == refused ? ERROR_ACCESS_DENIED : 0);
    return FALSE;
  }
  directories.insert(path);
  return TRUE;
}

// Every level between the drive and the file name, in order; one present
// already (183) is success; the first that fails is named in an error block,
// with the levels made before it left in place.
TEST(create_directories, makes_every_level_between_the_drive_and_the_file_name) {
  test::scoped_platform platform;
  win::api.CreateDirectoryW = &fake_create_directory;
  const std::wstring server = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq\\qzv.ua.brq.exe";
  const std::vector<std::wstring> levels = {L"C:\\Program Files", L"C:\\Program Files\\Quorvanta",
                                            L"C:\\Program Files\\Quorvanta\\QZV.UA",
                                            L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq"};
  const std::wstring odd = L"C:\\Pr\u00F8gram";
  struct {
    const char* what;
    std::wstring path;
    std::set<std::wstring> present;
    std::wstring refused;
    bool without_code;
    std::vector<std::wstring> calls;
    std::string block;  // the error block; empty: success
  } cases[] = {
      {"empty", L"", {}, L"", false, {}},
      {"a bare name", L"qzv.ua.brq.exe", {}, L"", false, {}},
      {"a file in the root", L"C:\\qzv.ua.brq.exe", {}, L"", false, {}},
      {"the root", L"C:\\", {}, L"", false, {}},
      {"a trailing backslash", L"C:\\a\\b\\", {}, L"", false, {L"C:\\a", L"C:\\a\\b"}},
      {"the server's", server, {}, L"", false, levels},
      {"all there already", server, {levels.begin(), levels.end()}, L"", false, levels},
      {"refused halfway",
       odd + L"\\Quorvanta\\QZV.UA\\brq\\x.exe",
       {odd},
       odd + L"\\Quorvanta\\QZV.UA",
       false,
       {odd, odd + L"\\Quorvanta", odd + L"\\Quorvanta\\QZV.UA"},
       "Failed to create dir \"C:\\Pr\xC3\xB8gram\\Quorvanta\\QZV.UA\"\n" + text_of(ERROR_ACCESS_DENIED) + "\n"},
      {"failed without a code",
       server,
       {},
       L"",
       true,
       {levels.front()},
       "Failed to create dir \"C:\\Program Files\"\n" + text_of(ERROR_FUNCTION_FAILED) + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    directory_calls.clear();
    directories = c.present;
    refused = c.refused;
    fails_without_code = c.without_code;
    console_recorder console;
    EXPECT_EQ(create_directories(c.path), c.block.empty());
    EXPECT_EQ(directory_calls, c.calls);
    std::vector<run> expected;
    if (!c.block.empty()) expected.push_back({c.block, color_error});
    EXPECT_EQ(console.runs(), expected);
    EXPECT_EQ(console.attribute(), plain);
    if (!c.refused.empty()) {
      EXPECT_EQ(directories, (std::set<std::wstring>{odd, odd + L"\\Quorvanta"}));
    }
  }
  EXPECT_FALSE(security_attributes_given);
}

// On Wine's file system, with the real CreateDirectoryW: a deep path is made,
// then found; a file where a directory should be answers "already exists",
// so the level below it is the one that fails.
TEST(create_directories, on_the_file_system_a_file_in_the_way_fails_the_level_below_it) {
  const std::wstring root = test::temp_file_path();  // a fresh name; the file makes way for a directory
  DeleteFileW(root.c_str());
  const std::wstring deep = root + L"\\Quorvanta\\QZV.UA\\brq\\one";
  console_recorder console;
  EXPECT_TRUE(create_directories(deep + L"\\qzv.ua.brq.exe"));
  EXPECT_EQ(GetFileAttributesW(deep.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(create_directories(deep + L"\\qzv.ua.brq.exe"));
  EXPECT_EQ(console.text(), "");

  const std::wstring blocker = root + L"\\Other";
  CloseHandle(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(create_directories(blocker + L"\\brq\\qzv.ua.brq.exe"));
  std::string block = "Failed to create dir \"" + wide_to_utf8(blocker) + "\\brq\"\n" + text_of(ERROR_PATH_NOT_FOUND) +
                      "\n";
  EXPECT_EQ(console.runs(), (std::vector<run>{{block, color_error}}));
  std::filesystem::remove_all(std::filesystem::path(root));
}

}  // namespace
}  // namespace brq_install
