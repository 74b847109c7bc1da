// Planted beside a program under the name of a system DLL it loads (the
// tests copy it under each name): if it is ever loaded it leaves a file named
// like itself with ".loaded" added beside itself and refuses to load, so the
// test sees the program looked outside the system folder, and for which name.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH + 8];
  const DWORD n = GetModuleFileNameW(self, marker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  lstrcpyW(marker + n, L".loaded");
  CloseHandle(CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return FALSE;
}
