#pragma once
// The installer's command line: a plain run installs; "--version" answers
// the version; "-h,--help" shows the help.
#include <cstdint>

namespace brq_install {

enum class install_action : uint32_t {
  install = 0,
  show_version = 1,
};

struct brq_install_arg {
  install_action action = install_action::install;

  // Parses the command line into `arg`. On a help request or a parse error
  // the parser's own text is printed (help on standard output, errors on
  // standard error) and the result is false.
  static bool parse(int argc, const char* const* argv, brq_install_arg& arg);
};

}  // namespace brq_install
