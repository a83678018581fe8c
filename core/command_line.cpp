#include "command_line.hpp"

#include <CLI/CLI.hpp>

#include "product.h"

namespace brq_install {

bool brq_install_arg::parse(int argc, const char* const* argv, brq_install_arg& arg, const char* program,
                            const char* description) {
  CLI::App app(description != nullptr ? description : BRQ_INSTALLER_DESCRIPTION,
               program != nullptr ? program : "qzv.ua.brq.install");
  app.add_flag_callback(
      "--version", [&arg] { arg.action = install_action::show_version; }, "Show version");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    app.exit(error);  // help on stdout, other errors on stderr; its code is not ours
    return false;
  }
  return true;
}

}  // namespace brq_install
