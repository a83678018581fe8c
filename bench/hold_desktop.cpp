// Holds Wine's desktop for the benchmark: a process with a window of its own
// (message-only) keeps Wine's desktop process (explorer.exe) running, which
// otherwise ends a moment after the last process that used it. Prints "held",
// flushed, once the window exists, then waits the seconds given (600 by
// default) or until it is ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  DWORD seconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 600;
  HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "hold_desktop: CreateWindowW failed: %lu\n", GetLastError());
    return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  Sleep(seconds * 1000);
  DestroyWindow(window);
  return 0;
}
