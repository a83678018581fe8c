// Extraction of one payload into a new file: every failing call gives its
// code and leaves no file, and a file written is whole and flushed.
#include "unit_prelude.hpp"

#include <utility>

#include "fake_payloads.hpp"
#include "inflate/inflate.hpp"
#include "win/files.hpp"
#include "win/payload_resource.hpp"

namespace brq_install {
namespace {

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
    RemoveDirectoryW(directory.c_str());
  }
  void install_old_program() {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, old_program.data(), static_cast<DWORD>(old_program.size()), &written, nullptr);
    CloseHandle(file);
  }
  inflate_buffer buffer;
  DWORD extract() { return extract_resource_to_file(101, path, buffer.bytes()); }
};

// A longer file left at the path is replaced in full.
TEST_F(extract_resource_test, writes_the_whole_file_over_a_longer_one) {
  install_old_program();
  EXPECT_EQ(extract(), 0u);
  EXPECT_EQ(test::read_file(path), program);
  // The temporary names are no longer than the file's own: a path that
  // works has siblings that work.
  EXPECT_EQ(win::staging_path(path), directory + L"\\qzv.ua.brq.new");
  EXPECT_EQ(win::backup_path(directory + L"\\a.b\\x"), directory + L"\\a.b\\x.old");
}

TEST_F(extract_resource_test, every_failure_gives_its_code_and_leaves_no_file) {
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
      // Unflushed, the bytes of a file moved into place may not be on disk.
      {"file cannot be flushed",
       [](test::fake_payloads&) {
         api.FlushFileBuffers = [](HANDLE) -> BOOL {
           ::SetLastError(ERROR_IO_DEVICE);
           return FALSE;
         };
       },
       ERROR_IO_DEVICE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::scoped_platform undo_fault;
    c.fault(payloads);
    EXPECT_EQ(extract(), c.expected);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    payloads.add(101, test::zlib_stream(program));
  }
}

TEST_F(extract_resource_test, failed_or_short_write_says_why) {
  struct {
    const char* what;
    DWORD error;
    bool short_write;
    DWORD expected;
  } cases[] = {
      {"disk full", ERROR_DISK_FULL, false, ERROR_DISK_FULL},
      {"failed without a code", ERROR_SUCCESS, false, ERROR_WRITE_FAULT},
      // A stale 183 from CREATE_ALWAYS is no reason for a write that came back short.
      {"short write without a code", ERROR_SUCCESS, true, ERROR_WRITE_FAULT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_error = c.error;
    write_short = c.short_write;
    write_short_done = false;
    fail_without_code = c.error == ERROR_SUCCESS && !c.short_write;
    EXPECT_EQ(extract(), c.expected);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
}  // namespace brq_install
