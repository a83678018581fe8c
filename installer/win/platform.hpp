#pragma once
// The platform boundary: one table holding a pointer to every Windows (and C
// runtime) function that the product calls. Product code calls them only
// through `api`; each entry is bound to the real function by default, and a
// test may replace single entries to inject faults or fake the system.
#include <windows.h>

#include <cstdio>

namespace brq_install::win {

#define BRQ_PLATFORM_FUNCTIONS(X)  \
  /* console and system texts */   \
  X(GetStdHandle)                  \
  X(GetConsoleMode)                \
  X(GetConsoleScreenBufferInfo)    \
  X(SetConsoleTextAttribute)       \
  X(WriteConsoleW)                 \
  X(FormatMessageW)                \
  X(MultiByteToWideChar)           \
  X(WideCharToMultiByte)           \
  /* C runtime output stream */    \
  X(fwrite)                        \
  X(fflush)                        \
  /* time */                       \
  X(GetTickCount)                  \
  X(Sleep)                         \
  /* errors, memory, handles */    \
  X(GetLastError)                  \
  X(SetLastError)                  \
  X(LocalFree)                     \
  X(CloseHandle)

struct platform_table {
#define BRQ_PLATFORM_ENTRY(name) decltype(&::name) name;
  BRQ_PLATFORM_FUNCTIONS(BRQ_PLATFORM_ENTRY)
#undef BRQ_PLATFORM_ENTRY
};

// The table in force. Bound to the real functions at start-up.
extern platform_table api;

// The table as bound at start-up, for tests that restore or forward to it.
extern const platform_table real_api;

}  // namespace brq_install::win
