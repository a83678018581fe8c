/* A version.dll as someone might leave it in a download folder next to the
   installer. Should the installer ever load it, statically or at run time, it
   says so on standard output and ends the process with exit code 86 before
   the installer's own code could go on. It exports the functions the
   installer uses, so that a static import would bind to it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    static const char text[] = "planted version.dll loaded\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof text - 1, &written, NULL);
    ExitProcess(86);
  }
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  (void)file;
  (void)handle;
  return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
  (void)file;
  (void)handle;
  (void)size;
  (void)data;
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
  (void)block;
  (void)sub_block;
  (void)value;
  (void)length;
  return FALSE;
}
