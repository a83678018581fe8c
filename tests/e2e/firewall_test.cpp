// The firewall step of the built installer against Wine's firewall object.
#include <gtest/gtest.h>

#include "child_process.hpp"

namespace brq_install {
namespace {

using test::installer_command;
using test::run_child;

// Wine's firewall accepts the calls; whether it reports the exception as
// present or absent, the line ends in " ok".
TEST(firewall_e2e, plain_run_ensures_the_servers_exception) {
  auto result = run_child(installer_command());
  EXPECT_NE(result.out.find("Will configure firewall...\r\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\r\nexception for \"qzv.ua.brq.exe\"... ok\r\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_code, 0u);
}

}  // namespace
}  // namespace brq_install
