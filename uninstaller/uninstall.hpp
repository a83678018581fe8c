#pragma once
// The uninstaller's run: takes the product off the machine, as carefully as
// the installer puts it on.

namespace brq_install {

// Runs the removal for the command line `argv`; returns the exit code: 0
// when nothing of the product remains, 1 otherwise.
int uninstall(int argc, const char* const* argv);

}  // namespace brq_install
