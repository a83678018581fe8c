#pragma once
// The platform boundary: one table holding a pointer to every Windows (and C
// runtime) function that the product calls. Product code calls them only
// through `api`; each entry is bound to the real function by default, and a
// test may replace single entries to inject faults or fake the system.
#include <windows.h>

#include <cstdio>

namespace brq_install::win {

// Entries by area. Each area's list is its own macro, so that adding the
// functions of one area never touches another's lines.

#define BRQ_CONSOLE_FUNCTIONS(X) \
  X(GetStdHandle)                \
  X(GetConsoleMode)              \
  X(GetConsoleScreenBufferInfo)  \
  X(SetConsoleTextAttribute)     \
  X(WriteConsoleW)               \
  X(FormatMessageW)              \
  X(MultiByteToWideChar)         \
  X(WideCharToMultiByte)         \
  X(fwrite) /* C runtime */      \
  X(fflush)

#define BRQ_SYSTEM_FUNCTIONS(X) \
  X(GetLastError)               \
  X(SetLastError)               \
  X(LocalFree)                  \
  X(CloseHandle)                \
  X(GetTickCount)               \
  X(Sleep)

#define BRQ_ENVIRONMENT_FUNCTIONS(X) \
  X(GetEnvironmentVariableW)         \
  X(GetModuleHandleW)                \
  X(GetProcAddress)                  \
  X(LoadLibraryExW)                  \
  X(FreeLibrary)                     \
  X(SetDllDirectoryW)

#define BRQ_FILE_FUNCTIONS(X) \
  X(CreateDirectoryW)

#define BRQ_SERVICE_FUNCTIONS(X)

#define BRQ_PROCESS_FUNCTIONS(X)

#define BRQ_COM_FUNCTIONS(X)

#define BRQ_PLATFORM_FUNCTIONS(X) \
  BRQ_CONSOLE_FUNCTIONS(X)        \
  BRQ_SYSTEM_FUNCTIONS(X)         \
  BRQ_ENVIRONMENT_FUNCTIONS(X)    \
  BRQ_FILE_FUNCTIONS(X)           \
  BRQ_SERVICE_FUNCTIONS(X)        \
  BRQ_PROCESS_FUNCTIONS(X)        \
  BRQ_COM_FUNCTIONS(X)

// Functions of DLLs that are not KnownDLLs. Importing such a DLL would let a
// copy planted next to the installer load before main runs, so these are not
// imported: each entry starts as a stub that, at its first call, loads the DLL
// from System32 alone, replaces itself in the table by the real function and
// forwards the call (win/lazy_binding.cpp).
#define BRQ_LAZY_VERSION_FUNCTIONS(X) \
  X(GetFileVersionInfoSizeW)          \
  X(GetFileVersionInfoW)              \
  X(VerQueryValueW)

#define BRQ_LAZY_FUNCTIONS(X) BRQ_LAZY_VERSION_FUNCTIONS(X)

struct platform_table {
#define BRQ_PLATFORM_ENTRY(name) decltype(&::name) name;
  BRQ_PLATFORM_FUNCTIONS(BRQ_PLATFORM_ENTRY)
  BRQ_LAZY_FUNCTIONS(BRQ_PLATFORM_ENTRY)
#undef BRQ_PLATFORM_ENTRY
};

// The table in force. Bound to the real functions at start-up, the lazy
// entries to their stubs.
extern platform_table api;

// The table as bound at start-up, for tests that restore or forward to it.
// Its lazy entries are the stubs, so forwarding to them binds for real.
extern const platform_table real_api;

}  // namespace brq_install::win
