// The copy step: its exact output, its retries on a held file, and where it
// stops.
#include "unit_prelude.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "cancellation.hpp"
#include "copy_files.hpp"
#include "fake_payloads.hpp"

namespace brq_install {
namespace {

// Allocations of 64 KiB or more while counting: the copy step allocates one
// inflate buffer, whatever its files and attempts. operator new below counts
// them for the whole test program, and only when asked.
bool counting_large_allocations = false;
int large_allocations = 0;

int held_attempts = 0;  // CreateFileW on the held file refuses this many times more
DWORD refusal = ERROR_SHARING_VIOLATION;
const wchar_t* held_name = L"\\qzv.ua.brq.exe";

HANDLE WINAPI held_server(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                          DWORD disposition, DWORD flags, HANDLE model) {
  if (std::wstring_view(path).ends_with(held_name) && held_attempts > 0) {
    --held_attempts;
    ::SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
  }
  return test::beneath().CreateFileW(path, access, share, security, disposition, flags, model);
}

struct copy_files_test : ::testing::Test {
  test::fake_payloads payloads;
  test::fake_clock clock;
  test::console_recorder console;
  std::wstring root = test::temp_file_path() + L".d";
  install_plan plan = test::product_plan(root + L"\\Quorvanta\\QZV.UA\\brq");

  void SetUp() override {
    for (uint16_t id : {uint16_t{101}, uint16_t{102}, uint16_t{103}, uint16_t{104}}) {
      payloads.add(id, test::zlib_stream("program " + std::to_string(id)));
    }
    api.CreateFileW = &held_server;
    held_attempts = 0;
    refusal = ERROR_SHARING_VIOLATION;
    held_name = L"\\qzv.ua.brq.exe";
  }
  void TearDown() override {
    for (const auto& file : plan.files) DeleteFileW(file.path.c_str());
    for (const wchar_t* level : {L"\\Quorvanta\\QZV.UA\\brq", L"\\Quorvanta\\QZV.UA", L"\\Quorvanta", L""}) {
      RemoveDirectoryW((root + level).c_str());
    }
  }
  std::string installed(const wchar_t* name) { return test::read_file(plan.destination + L"\\" + name); }
};

const std::string retry_line = "\n  retry in 5 sec..... ";
const std::string ctrl_and_dev_ok =
    "Copying \"qzv.ua.brq.ctrl.exe\"... ok\nCopying \"qzv.ua.brq.dev.exe\"... ok\n"
    "Copying \"qzv.ua.brq.uninstall.exe\"... ok\n";

// Also a first installation: the directories are made and every file written.
TEST_F(copy_files_test, file_held_for_two_attempts_is_written_at_the_third) {
  held_attempts = 2;
  large_allocations = 0;
  counting_large_allocations = true;
  EXPECT_TRUE(copy_files(plan));
  counting_large_allocations = false;
  // Five attempts for three files, and one inflate buffer for all of them.
  EXPECT_EQ(large_allocations, 1);
  EXPECT_EQ(console.text(), "Copying \"qzv.ua.brq.exe\"... " + retry_line + retry_line + "ok\n" + ctrl_and_dev_ok);
  EXPECT_EQ(clock.sleeps, std::vector<DWORD>(10, 1000));
  EXPECT_EQ(installed(L"qzv.ua.brq.exe"), "program 101");
  EXPECT_EQ(installed(L"qzv.ua.brq.ctrl.exe"), "program 102");
  EXPECT_EQ(installed(L"qzv.ua.brq.dev.exe"), "program 103");
}

TEST_F(copy_files_test, file_held_at_every_attempt_fails_after_three_retries) {
  held_attempts = 4;
  EXPECT_FALSE(copy_files(plan));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"Copying \"qzv.ua.brq.exe\"... " + retry_line + retry_line + retry_line, plain},
                                {"failed\n" + text_of(ERROR_SHARING_VIOLATION) + "\n", color_error},
                            }));
  EXPECT_EQ(clock.slept(), 15000u);
  EXPECT_EQ(held_attempts, 0);
  EXPECT_EQ(installed(L"qzv.ua.brq.ctrl.exe"), "");  // the step stopped at the server
}

TEST_F(copy_files_test, other_errors_are_not_retried) {
  struct {
    const char* what;
    void (*fault)(test::fake_payloads&);
    DWORD code;
  } cases[] = {
      {"access denied", [](test::fake_payloads&) { held_attempts = 1, refusal = ERROR_ACCESS_DENIED; },
       ERROR_ACCESS_DENIED},
      {"write failed",
       [](test::fake_payloads&) {
         // The record is written first, in one piece.
         static int writes;
         writes = 0;
         api.WriteFile = [](HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped) -> BOOL {
           if (++writes == 1) return test::beneath().WriteFile(file, data, size, written, overlapped);
           ::SetLastError(ERROR_DISK_FULL);
           return FALSE;
         };
       },
       ERROR_DISK_FULL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::scoped_platform undo_fault;
    console.clear();
    c.fault(payloads);
    EXPECT_FALSE(copy_files(plan));
    EXPECT_EQ(console.runs(), (std::vector<run>{
                                  {"Copying \"qzv.ua.brq.exe\"... ", plain},
                                  {"failed\n" + text_of(c.code) + "\n", color_error},
                              }));
    EXPECT_TRUE(clock.sleeps.empty());
    payloads.add(101, test::zlib_stream("program 101"));
  }
}

// The files change as one set: what was replaced before a file that fails,
// or before the run was cancelled, is put back, newest first.
TEST_F(copy_files_test, a_failed_or_cancelled_copy_puts_back_every_file_replaced_before_it) {
  const std::string restored = "Restoring \"qzv.ua.brq.ctrl.exe\"... ok\nRestoring \"qzv.ua.brq.exe\"... ok\n";
  const std::string removed = "Removing \"qzv.ua.brq.ctrl.exe\"... ok\nRemoving \"qzv.ua.brq.exe\"... ok\n";
  const std::string failed = "failed\n" + text_of(ERROR_ACCESS_DENIED) + "\n";
  const std::string server_and_ctrl_ok = "Copying \"qzv.ua.brq.exe\"... ok\nCopying \"qzv.ua.brq.ctrl.exe\"... ok\n";
  struct {
    const char* what;
    bool update;
    bool cancelled;  // at the third file, instead of its failure
    std::vector<run> output;
  } cases[] = {
      {"update",
       true,
       false,
       {{server_and_ctrl_ok + "Copying \"qzv.ua.brq.dev.exe\"... ", plain}, {failed, color_error}, {restored, plain}}},
      {"first installation",
       false,
       false,
       {{server_and_ctrl_ok + "Copying \"qzv.ua.brq.dev.exe\"... ", plain}, {failed, color_error}, {removed, plain}}},
      {"cancelled update", true, true, {{server_and_ctrl_ok + restored, plain}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    console_cancel cancel;
    console.clear();
    CreateDirectoryW(root.c_str(), nullptr);
    ASSERT_TRUE(create_directories(plan.destination + L"\\x"));
    for (const auto& file : plan.files) {
      const std::wstring& path = file.path;
      DeleteFileW(path.c_str());
      if (c.update) std::ofstream(std::filesystem::path(path), std::ios::binary) << "old";
    }
    held_name = L"\\qzv.ua.brq.dev.exe";
    held_attempts = c.cancelled ? 0 : 1;
    refusal = ERROR_ACCESS_DENIED;
    if (c.cancelled) {
      payloads.streams.erase(103);  // reached only if the cancellation is missed
      api.CreateFileW = [](const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                           DWORD disposition, DWORD flags, HANDLE model) {
        if (std::wstring_view(path).ends_with(L"ctrl.new")) request_cancel();
        return test::beneath().CreateFileW(path, access, share, security, disposition, flags, model);
      };
    }
    EXPECT_FALSE(copy_files(plan));
    EXPECT_EQ(console.runs(), c.output);
    for (const auto& file : plan.files) EXPECT_EQ(installed(file.name.data()), c.update ? "old" : "");
    for (const auto& file : plan.files) EXPECT_EQ(file.state, file_state::untouched);
    for (const wchar_t* other :
         {L"qzv.ua.brq.old", L"qzv.ua.brq.ctrl.old", L"qzv.ua.brq.add", L"qzv.ua.brq.dev.new", L"qzv.ua.brq.done"}) {
      EXPECT_EQ(GetFileAttributesW((plan.destination + L"\\" + other).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    api.CreateFileW = &held_server;
    payloads.add(103, test::zlib_stream("program 103"));
  }
}

TEST_F(copy_files_test, directory_that_cannot_be_created_ends_the_step_before_any_write) {
  test::scoped_override refuse(
      api.CreateDirectoryW, +[](const wchar_t*, SECURITY_ATTRIBUTES*) -> BOOL {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      });
  EXPECT_FALSE(copy_files(plan));
  std::string first_level = wide_to_utf8(root.substr(0, root.find(L'\\', 3)));
  EXPECT_EQ(console.runs(),
            (std::vector<run>{
                {"Copying \"qzv.ua.brq.exe\"... ", plain},
                {"Failed to create dir \"" + first_level + "\"\n" + text_of(ERROR_ACCESS_DENIED) + "\n", color_error},
            }));
}

TEST_F(copy_files_test, entry_not_meant_for_this_windows_is_neither_announced_nor_written) {
  plan.files[0].crt = crt_flavour::nt4;
  place_files(plan);
  EXPECT_TRUE(copy_files(plan));
  EXPECT_EQ(console.text(), ctrl_and_dev_ok);
  EXPECT_EQ(GetFileAttributesW((plan.destination + L"\\qzv.ua.brq.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace brq_install

// Replaces the global operator new (the arrays' operator new[] forwards to
// it) with one that counts large allocations and allocates as the default
// does, so that the default operator delete frees it.
void* operator new(std::size_t size) {
  if (brq_install::counting_large_allocations && size >= 64 * 1024) ++brq_install::large_allocations;
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
