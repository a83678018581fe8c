#pragma once
// The platform boundary: one table holding a pointer to every Windows (and C
// runtime) function that the product calls. Product code calls them only
// through `api`; each entry is bound to the real function by default, and a
// test may replace single entries to inject faults or fake the system.
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <oleauto.h>
#include <psapi.h>
#include <sddl.h>
#include <winternl.h>

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
  X(fflush)                      \
  X(SetConsoleCtrlHandler)

#define BRQ_SYSTEM_FUNCTIONS(X) \
  X(GetLastError)               \
  X(SetLastError)               \
  X(LocalFree)                  \
  X(CloseHandle)                \
  X(GetTickCount)               \
  X(Sleep)                      \
  X(CreateMutexExW)             \
  X(WaitForSingleObject)        \
  X(ReleaseMutex)

#define BRQ_SECURITY_FUNCTIONS(X)                         \
  X(GetSecurityInfo)                                      \
  X(IsWellKnownSid)                                       \
  X(ConvertStringSecurityDescriptorToSecurityDescriptorW) \
  X(GetCurrentProcess)                                    \
  X(OpenProcessToken)                                     \
  X(LookupPrivilegeValueW)                                \
  X(AdjustTokenPrivileges)

#define BRQ_ENVIRONMENT_FUNCTIONS(X) \
  X(GetEnvironmentVariableW)         \
  X(ExpandEnvironmentStringsW)       \
  X(GetSystemDirectoryW)             \
  X(GetModuleHandleW)                \
  X(GetProcAddress)                  \
  X(LoadLibraryExW)                  \
  X(FreeLibrary)                     \
  X(SetDllDirectoryW)                \
  X(GetModuleFileNameW)              \
  X(GetSystemWindowsDirectoryW)      \
  X(SetCurrentDirectoryW)

#define BRQ_FILE_FUNCTIONS(X)   \
  X(CreateDirectoryW)           \
  X(GetFileAttributesW)         \
  X(CreateFileW)                \
  X(GetFileInformationByHandle) \
  X(MoveFileExW)                \
  X(DeleteFileW)                \
  X(SetFileAttributesW)         \
  X(RemoveDirectoryW)           \
  X(ReadFile)                   \
  X(FlushFileBuffers)           \
  X(GetTempFileNameW)

#define BRQ_SERVICE_FUNCTIONS(X) \
  X(OpenSCManagerW)              \
  X(CloseServiceHandle)          \
  X(EnumServicesStatusW)         \
  X(OpenServiceW)                \
  X(QueryServiceConfigW)         \
  X(CreateServiceW)              \
  X(DeleteService)               \
  X(ChangeServiceConfig2W)       \
  X(ControlService)              \
  X(StartServiceW)               \
  X(QueryServiceStatus)          \
  X(QueryServiceStatusEx)        \
  X(EnumDependentServicesW)

#define BRQ_REGISTRY_FUNCTIONS(X) \
  X(RegCreateKeyExW)              \
  X(RegSetValueExW)               \
  X(RegDeleteKeyExW)              \
  X(RegCloseKey)

#define BRQ_PROCESS_FUNCTIONS(X) \
  X(GetCurrentProcessId)         \
  X(K32EnumProcesses)            \
  X(OpenProcess)                 \
  X(QueryFullProcessImageNameW)  \
  X(TerminateProcess)

#define BRQ_PAYLOAD_FUNCTIONS(X) \
  X(FindResourceW)               \
  X(LoadResource)                \
  X(LockResource)                \
  X(SizeofResource)              \
  X(WriteFile)

#define BRQ_PLATFORM_FUNCTIONS(X) \
  BRQ_CONSOLE_FUNCTIONS(X)        \
  BRQ_SYSTEM_FUNCTIONS(X)         \
  BRQ_SECURITY_FUNCTIONS(X)       \
  BRQ_ENVIRONMENT_FUNCTIONS(X)    \
  BRQ_FILE_FUNCTIONS(X)           \
  BRQ_SERVICE_FUNCTIONS(X)        \
  BRQ_REGISTRY_FUNCTIONS(X)       \
  BRQ_PROCESS_FUNCTIONS(X)        \
  BRQ_PAYLOAD_FUNCTIONS(X)

// Functions of DLLs that are loaded only when first needed, from System32
// alone: version.dll is no KnownDLL, so importing it would let a copy planted
// next to the installer load before main runs; the COM DLLs load further
// DLLs of their own (Wine's user32 imports version.dll); ntdll.dll is in
// every process already, but no KnownDLL to import from. Each entry
// starts as a stub that, at its first call, loads its DLL, replaces itself in
// the table by the real function and forwards the call
// (win/lazy_binding.hpp).
#define BRQ_LAZY_FUNCTIONS(Y)                \
  Y(GetFileVersionInfoSizeW, L"version.dll") \
  Y(GetFileVersionInfoW, L"version.dll")     \
  Y(VerQueryValueW, L"version.dll")          \
  Y(CoInitializeEx, L"ole32.dll")            \
  Y(CoUninitialize, L"ole32.dll")            \
  Y(CoCreateInstance, L"ole32.dll")          \
  Y(SysAllocString, L"oleaut32.dll")         \
  Y(SysFreeString, L"oleaut32.dll")          \
  Y(NtCreateFile, L"ntdll.dll")

struct platform_table {
#define BRQ_PLATFORM_ENTRY(name) decltype(&::name) name;
  BRQ_PLATFORM_FUNCTIONS(BRQ_PLATFORM_ENTRY)
#undef BRQ_PLATFORM_ENTRY
#define BRQ_LAZY_PLATFORM_ENTRY(name, dll) decltype(&::name) name;
  BRQ_LAZY_FUNCTIONS(BRQ_LAZY_PLATFORM_ENTRY)
#undef BRQ_LAZY_PLATFORM_ENTRY
};

// The table in force. Bound to the real functions at start-up, the lazy
// entries to their stubs.
extern platform_table api;

// The table as bound at start-up, for tests that restore or forward to it.
// Its lazy entries are the stubs, so forwarding to them binds for real.
extern const platform_table real_api;

}  // namespace brq_install::win
