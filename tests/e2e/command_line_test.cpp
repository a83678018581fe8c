// The command line of the built installer and uninstaller, run as child
// processes.
#include <gtest/gtest.h>

#include "child_process.hpp"
#include "product.h"

namespace brq_install {
namespace {

using test::installer_command;
using test::run_child;

std::string help_text(const std::string& description, const std::string& program) {
  return description + "\r\nUsage: " + program +
         " [OPTIONS]\r\n"
         "\r\n"
         "Options:\r\n"
         "  -h,--help                   Print this help message and exit\r\n"
         "  --version                   Show version\r\n"
         "\r\n";
}
const std::string help = help_text(BRQ_INSTALLER_DESCRIPTION, "qzv.ua.brq.install");

// Both programs answer the same way, each with its own name and description.
TEST(command_line, version_prints_the_version_alone_and_help_names_the_program) {
  for (const std::wstring& program : {test::installer_path(), test::uninstaller_path()}) {
    SCOPED_TRACE(test::wide_for_trace(program));
    auto result = run_child(installer_command(L"--version", program));
    EXPECT_EQ(result.out, BRQ_VERSION_TEXT "\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 0u);
  }
  auto result = run_child(installer_command(L"--help", test::uninstaller_path()));
  EXPECT_EQ(result.out, help_text(BRQ_UNINSTALLER_DESCRIPTION, "qzv.ua.brq.uninstall"));
  EXPECT_EQ(result.exit_code, 1u);
}

TEST(command_line, help_requests_print_the_help_and_exit_with_1) {
  for (const wchar_t* arguments : {L"-h", L"--help", L"--version --help", L"--help --version"}) {
    SCOPED_TRACE(test::wide_for_trace(arguments));
    auto result = run_child(installer_command(arguments));
    EXPECT_EQ(result.out, help);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 1u);
  }
}

TEST(command_line, bad_arguments_print_the_parsers_message_on_stderr) {
  const std::string hint = "Run with --help for more information.\r\n";
  struct {
    const wchar_t* arguments;
    std::string message;
  } cases[] = {
      {L"--bogus", "The following argument was not expected: --bogus\r\n" + hint},
      {L"install", "The following argument was not expected: install\r\n" + hint},
      {L"--version extra", "The following argument was not expected: extra\r\n" + hint},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::wide_for_trace(c.arguments));
    auto result = run_child(installer_command(c.arguments));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(result.exit_code, 1u);
  }
}

}  // namespace
}  // namespace brq_install
