#pragma once
// The command line of the installer and of the uninstaller: a plain run does
// the program's work; "--version" answers the version; "-h,--help" shows
// the help.
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
  // standard error) and the result is false. The help names the program
  // and opens with its description; by default the installer's.
  static bool parse(int argc, const char* const* argv, brq_install_arg& arg, const char* program = nullptr,
                    const char* description = nullptr);
};

}  // namespace brq_install
