// The copy step: its exact output, its retries on a held file, and where it
// stops.
#include <gtest/gtest.h>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "copy_files.hpp"
#include "fake_clock.hpp"
#include "fake_payloads.hpp"
#include "files.hpp"
#include "install_plan.hpp"

namespace brq_install {
namespace {

using win::api;
using testing::text_of;
using run = testing::console_recorder::run;
constexpr WORD plain = testing::console_recorder::plain;

int held_attempts = 0;        // CreateFileW on the server refuses this many times more
DWORD refusal = ERROR_SHARING_VIOLATION;

HANDLE WINAPI held_server(const wchar_t* path, DWORD access, DWORD share,
                          SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                          HANDLE model) {
  if (std::wstring_view(path).ends_with(L"\\qzv.ua.brq.exe") && held_attempts > 0) {
    --held_attempts;
    ::SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
  }
  return win::real_api.CreateFileW(path, access, share, security, disposition, flags, model);
}

struct copy_files_test : ::testing::Test {
  testing::fake_payloads payloads;
  testing::fake_clock clock;
  testing::console_recorder console;
  std::wstring root = testing::temp_file_path() + L".d";
  install_plan plan = build_install_plan();

  void SetUp() override {
    for (uint16_t id : {uint16_t{101}, uint16_t{102}, uint16_t{103}}) {
      payloads.add(id, testing::zlib_stream("program " + std::to_string(id)));
    }
    plan.os = {10, 0, 19045, 0};
    plan.destination = root + L"\\Quorvanta\\QZV.UA\\brq";
    api.CreateFileW = &held_server;
    held_attempts = 0;
    refusal = ERROR_SHARING_VIOLATION;
  }
  void TearDown() override {
    for (const auto& file : plan.files) DeleteFileW((plan.destination + L"\\" + file->name).c_str());
    for (const wchar_t* level : {L"\\Quorvanta\\QZV.UA\\brq", L"\\Quorvanta\\QZV.UA", L"\\Quorvanta", L""}) {
      RemoveDirectoryW((root + level).c_str());
    }
  }
  std::string installed(const wchar_t* name) {
    return testing::read_file(plan.destination + L"\\" + name);
  }
};

const std::string retry_line = "\n  retry in 5 sec..... ";
const std::string ctrl_and_dev_ok =
    "Copying \"qzv.ua.brq.ctrl.exe\"... ok\nCopying \"qzv.ua.brq.dev.exe\"... ok\n";

TEST_F(copy_files_test, first_installation_creates_the_directories_and_writes_every_file) {
  EXPECT_TRUE(copy_files(plan));
  EXPECT_EQ(console.text(), "Copying \"qzv.ua.brq.exe\"... ok\n" + ctrl_and_dev_ok);
  EXPECT_EQ(installed(L"qzv.ua.brq.exe"), "program 101");
  EXPECT_EQ(installed(L"qzv.ua.brq.ctrl.exe"), "program 102");
  EXPECT_EQ(installed(L"qzv.ua.brq.dev.exe"), "program 103");
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(copy_files_test, file_held_for_two_attempts_is_written_at_the_third) {
  held_attempts = 2;
  EXPECT_TRUE(copy_files(plan));
  EXPECT_EQ(console.text(),
            "Copying \"qzv.ua.brq.exe\"... " + retry_line + retry_line + "ok\n" + ctrl_and_dev_ok);
  EXPECT_EQ(clock.sleeps, std::vector<DWORD>(10, 1000));
  EXPECT_EQ(installed(L"qzv.ua.brq.exe"), "program 101");
}

TEST_F(copy_files_test, file_held_at_every_attempt_fails_after_three_retries) {
  held_attempts = 4;
  EXPECT_FALSE(copy_files(plan));
  EXPECT_EQ(console.runs(),
            (std::vector<run>{
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
    void (*fault)(testing::fake_payloads&);
    DWORD code;
  } cases[] = {
      {"access denied", [](testing::fake_payloads&) { held_attempts = 1, refusal = ERROR_ACCESS_DENIED; },
       ERROR_ACCESS_DENIED},
      {"payload damaged", [](testing::fake_payloads& p) { p.streams[101].back() ^= 1; },
       ERROR_INVALID_DATA},
      {"write failed",
       [](testing::fake_payloads&) {
         api.WriteFile = [](HANDLE, const void*, DWORD, DWORD*, OVERLAPPED*) -> BOOL {
           ::SetLastError(ERROR_DISK_FULL);
           return FALSE;
         };
       },
       ERROR_DISK_FULL},
      {"short write",
       [](testing::fake_payloads&) {
         api.WriteFile = [](HANDLE, const void*, DWORD size, DWORD* written, OVERLAPPED*) -> BOOL {
           *written = size - 1;
           ::SetLastError(0);
           return TRUE;
         };
       },
       ERROR_WRITE_FAULT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::scoped_platform undo_fault;
    console.clear();
    c.fault(payloads);
    EXPECT_FALSE(copy_files(plan));
    EXPECT_EQ(console.runs(), (std::vector<run>{
                                  {"Copying \"qzv.ua.brq.exe\"... ", plain},
                                  {"failed\n" + text_of(c.code) + "\n", color_error},
                              }));
    EXPECT_TRUE(clock.sleeps.empty());
    payloads.add(101, testing::zlib_stream("program 101"));
  }
}

TEST_F(copy_files_test, directory_that_cannot_be_created_ends_the_step_before_any_write) {
  testing::scoped_override refuse(api.CreateDirectoryW,
                                  +[](const wchar_t*, SECURITY_ATTRIBUTES*) -> BOOL {
                                    ::SetLastError(ERROR_ACCESS_DENIED);
                                    return FALSE;
                                  });
  EXPECT_FALSE(copy_files(plan));
  std::string first_level = wide_to_utf8(root.substr(0, root.find(L'\\', 3)));
  EXPECT_EQ(console.runs(),
            (std::vector<run>{
                {"Copying \"qzv.ua.brq.exe\"... ", plain},
                {"Failed to create dir \"" + first_level + "\"\n" + text_of(ERROR_ACCESS_DENIED) + "\n",
                 color_error},
            }));
}

TEST_F(copy_files_test, entry_not_meant_for_this_windows_is_neither_announced_nor_written) {
  plan.files[0]->crt = crt_flavour::nt4;
  EXPECT_TRUE(copy_files(plan));
  EXPECT_EQ(console.text(), ctrl_and_dev_ok);
  EXPECT_EQ(GetFileAttributesW((plan.destination + L"\\qzv.ua.brq.exe").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

TEST_F(copy_files_test, plan_without_files_does_nothing) {
  plan.files.clear();
  EXPECT_TRUE(copy_files(plan));
  EXPECT_EQ(console.text(), "");
}

}  // namespace
}  // namespace brq_install
