#include "run_start.hpp"

#include "command_line.hpp"
#include "console/console.hpp"
#include "product.h"

namespace brq_install {

run_start::run_start(int argc, const char* const* argv, const char* program, const char* description) {
  brq_install_arg arg;
  if (!brq_install_arg::parse(argc, argv, arg, program, description)) {
    ended = 1;
    return;
  }
  if (arg.action == install_action::show_version) {
    print_text(BRQ_VERSION_TEXT "\n");
    ended = 0;
    return;
  }
  cancel_.emplace();
  if (!lock_.acquire()) {
    ended = 1;
    return;
  }
  plan = build_install_plan();
}

}  // namespace brq_install
