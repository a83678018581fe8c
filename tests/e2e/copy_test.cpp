// The payload copy of the built installer, for real on Wine's file system.
#include <gtest/gtest.h>


#include "child_process.hpp"
#include "console/console.hpp"
#include "files.hpp"
#include "installation.hpp"

namespace brq_install {
namespace {

using namespace testing;

const wchar_t* const payload_names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe",
                                        L"qzv.ua.brq.dev.exe"};

void expect_installed_payloads() {
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(wide_for_trace(payload_names[i]));
    std::string installed = read_file(installed_path(payload_names[i]));
    EXPECT_FALSE(installed.empty());
    EXPECT_TRUE(installed == read_file(payload_input_path(101 + i)));
  }
}

struct copy_e2e : ::testing::Test {
  void SetUp() override { remove_installation(); }
  void TearDown() override { remove_installation(); }
};

TEST_F(copy_e2e, first_installation_creates_the_directories_and_writes_the_payloads) {
  ASSERT_EQ(GetFileAttributesW(L"C:\\Program Files\\Quorvanta"), INVALID_FILE_ATTRIBUTES);
  auto result = run_child(installer_command());
  std::string out = after_os_line(result.out);
  EXPECT_NE(out.find("Copying \"qzv.ua.brq.exe\"... ok\r\n"
                     "Copying \"qzv.ua.brq.ctrl.exe\"... ok\r\n"
                     "Copying \"qzv.ua.brq.dev.exe\"... ok\r\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(result.exit_code, 0u);
  expect_installed_payloads();
}

TEST_F(copy_e2e, file_held_for_a_few_seconds_is_retried_then_written) {
  ASSERT_EQ(run_child(installer_command()).exit_code, 0u);
  HANDLE held = CreateFileW(installed_path(L"qzv.ua.brq.ctrl.exe").c_str(), GENERIC_READ, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  child_process installer(installer_command());
  Sleep(3000);  // inside the first five-second wait
  CloseHandle(held);
  auto result = installer.wait();
  EXPECT_NE(result.out.find("Copying \"qzv.ua.brq.ctrl.exe\"... \r\n  retry in 5 sec..... ok\r\n"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(result.exit_code, 0u);
  expect_installed_payloads();
}

TEST_F(copy_e2e, corrupt_payload_fails_and_leaves_the_installed_file_untouched) {
  ASSERT_EQ(run_child(installer_command()).exit_code, 0u);
  auto result = run_child(installer_command(L"", corrupt_installer_path()));
  std::string failure = "Copying \"qzv.ua.brq.exe\"... failed\r\n" +
                        wide_to_utf8(error_text(ERROR_INVALID_DATA)) + "\r\n";
  EXPECT_TRUE(result.out.ends_with(failure)) << result.out;
  EXPECT_EQ(result.exit_code, 1u);
  expect_installed_payloads();
}

}  // namespace
}  // namespace brq_install
