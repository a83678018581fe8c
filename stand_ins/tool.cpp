// Stand-in for the control tool and the developer tool: a console program
// that says what it is. With --stay it stays alive until it is ended, so
// that tests can run a process from an installed file.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  std::printf("%s: stand-in for the qzv OPC UA %s for BRQ\n", BRQ_TOOL_FILE, BRQ_TOOL_ROLE);
  std::fflush(stdout);
  if (argc > 1 && std::strcmp(argv[1], "--stay") == 0) {
    for (;;) Sleep(INFINITE);
  }
  return 0;
}
