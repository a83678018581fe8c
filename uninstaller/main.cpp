#include "uninstall.hpp"
#include "win/dll_safety.hpp"

int main(int argc, char** argv) {
  // Before anything can load a DLL by name.
  brq_install::win::restrict_dll_search();
  return brq_install::uninstall(argc, argv);
}
