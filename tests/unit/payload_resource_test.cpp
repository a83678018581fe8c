// Extraction of one payload: every failing call gives its code, and nothing
// on disk changes unless the payload inflated whole.
#include <gtest/gtest.h>

#include <utility>

#include "fake_payloads.hpp"
#include "files.hpp"
#include "ledger.hpp"
#include "payload/inflate.hpp"
#include "win/payload_resource.hpp"

namespace brq_install {
namespace {

using win::api;
using win::extract_resource_to_file;

const std::string program = "MZ\x90 new program " + std::string(70000, 'p');
const std::string old_program = "MZ old and longer program " + std::string(200000, 'o');

DWORD write_error = 0;  // WriteFile fails with this code unless 0
bool write_short = false;
bool write_short_done = false;

bool fail_without_code = false;  // WriteFile fails and sets no error

BOOL WINAPI faulty_write(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped) {
  if (write_error != 0 || fail_without_code) {
    ::SetLastError(write_error);
    return FALSE;
  }
  if (write_short) {
    // The first half goes out; then the disk is full, without a word.
    *written = 0;
    if (size > 1 && !std::exchange(write_short_done, true)) {
      return test::beneath().WriteFile(file, data, size / 2, written, overlapped);
    }
    return TRUE;
  }
  return test::beneath().WriteFile(file, data, size, written, overlapped);
}

struct extract_resource_test : ::testing::Test {
  test::fake_payloads payloads;
  std::wstring directory = test::temp_file_path() + L".d";
  std::wstring path = directory + L"\\qzv.ua.brq.exe";

  void SetUp() override {
    CreateDirectoryW(directory.c_str(), nullptr);
    payloads.add(101, test::zlib_stream(program));
    api.WriteFile = &faulty_write;
    write_error = 0;
    write_short = write_short_done = fail_without_code = false;
  }
  void TearDown() override {
    DeleteFileW(path.c_str());
    DeleteFileW(win::backup_path(path).c_str());
    RemoveDirectoryW(directory.c_str());
  }
  void install_old_program() {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, old_program.data(), static_cast<DWORD>(old_program.size()), &written, nullptr);
    CloseHandle(file);
  }
  bool kept_old = false;
  inflate_buffer buffer;
  DWORD extract() { return extract_resource_to_file(101, path, buffer.bytes(), kept_old); }
};

// A longer old file is replaced in full and kept as the backup; a first
// file keeps none.
TEST_F(extract_resource_test, replaces_the_file_whole_and_keeps_the_old_one_as_the_backup) {
  for (bool update : {true, false}) {
    SCOPED_TRACE(update);
    if (update) install_old_program();
    EXPECT_EQ(extract(), 0u);
    EXPECT_EQ(test::read_file(path), program);
    EXPECT_EQ(kept_old, update);
    EXPECT_EQ(test::read_file(win::backup_path(path)), update ? old_program : "");
    EXPECT_EQ(GetFileAttributesW(win::staging_path(path).c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(path.c_str());
    DeleteFileW(win::backup_path(path).c_str());
  }
  // The temporary names are no longer than the file's own: a path that
  // works has siblings that work.
  EXPECT_EQ(win::staging_path(path), directory + L"\\qzv.ua.brq.new");
  EXPECT_EQ(win::backup_path(directory + L"\\a.b\\x"), directory + L"\\a.b\\x.old");
}

TEST_F(extract_resource_test, failures_before_writing_leave_the_file_as_it_was) {
  struct {
    const char* what;
    void (*fault)(test::fake_payloads&);
    DWORD expected;
  } cases[] = {
      {"resource missing", [](test::fake_payloads& p) { p.streams.erase(101); }, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"resource cannot be loaded",
       [](test::fake_payloads&) {
         api.LoadResource = [](HMODULE, HRSRC) -> HGLOBAL {
           ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
           return nullptr;
         };
       },
       ERROR_NOT_ENOUGH_MEMORY},
      {"resource cannot be loaded, no error set",
       [](test::fake_payloads&) {
         api.LoadResource = [](HMODULE, HRSRC) -> HGLOBAL {
           ::SetLastError(0);
           return nullptr;
         };
       },
       ERROR_RESOURCE_DATA_NOT_FOUND},
      {"resource cannot be locked",
       [](test::fake_payloads&) { api.LockResource = [](HGLOBAL) -> void* { return nullptr; }; }, ERROR_INVALID_DATA},
      {"wrong checksum", [](test::fake_payloads& p) { p.streams[101].back() ^= 0x01; }, ERROR_INVALID_DATA},
      {"stream cut short", [](test::fake_payloads& p) { p.streams[101].resize(p.streams[101].size() / 2); },
       ERROR_INVALID_DATA},
      {"file cannot be created",
       [](test::fake_payloads&) {
         api.CreateFileW = [](const wchar_t*, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) -> HANDLE {
           ::SetLastError(ERROR_ACCESS_DENIED);
           return INVALID_HANDLE_VALUE;
         };
       },
       ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::scoped_platform undo_fault;
    install_old_program();
    c.fault(payloads);
    EXPECT_EQ(extract(), c.expected);
    EXPECT_EQ(test::read_file(path), old_program);
    payloads.add(101, test::zlib_stream(program));
  }
}

TEST_F(extract_resource_test, failed_or_short_write_keeps_the_old_file_and_says_why) {
  struct {
    const char* what;
    DWORD error;
    bool short_write;
    DWORD expected;
    bool leftover_staging = false;  // an earlier run left the staging file
  } cases[] = {
      {"disk full", ERROR_DISK_FULL, false, ERROR_DISK_FULL},
      {"failed without a code", ERROR_SUCCESS, false, ERROR_WRITE_FAULT},
      // A stale 183 from CREATE_ALWAYS is no reason for a write that came back short.
      {"short write without a code", ERROR_SUCCESS, true, ERROR_WRITE_FAULT},
      {"short write without a code over a leftover", ERROR_SUCCESS, true, ERROR_WRITE_FAULT, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    install_old_program();
    if (c.leftover_staging) {
      CloseHandle(CreateFileW(win::staging_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    write_error = c.error;
    write_short = c.short_write;
    write_short_done = false;
    fail_without_code = c.error == ERROR_SUCCESS && !c.short_write;
    EXPECT_EQ(extract(), c.expected);
    EXPECT_EQ(test::read_file(path), old_program);
    EXPECT_EQ(GetFileAttributesW(win::staging_path(path).c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(extract_resource_test, a_file_held_without_sharing_gives_a_sharing_violation) {
  install_old_program();
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(extract(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(held);
  EXPECT_EQ(test::read_file(path), old_program);
}

}  // namespace
}  // namespace brq_install
