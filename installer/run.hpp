#pragma once

namespace brq_install {

// The whole run: parse the command line, answer a version request, build the
// plan and run the install steps in their order. Returns the exit code.
int run(int argc, const char* const* argv);

}  // namespace brq_install
