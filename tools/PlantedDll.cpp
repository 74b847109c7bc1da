// Planted beside a program under the name of a system DLL it loads (the
// tests copy it under each name): if it is ever loaded it adds its own path
// to "planted-dll-loaded.txt" beside itself and refuses to load, so the test
// sees the program looked outside the system folder, and for which name.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  wchar_t marker[MAX_PATH + 32];
  lstrcpyW(marker, path);
  wchar_t* slash = marker;
  for (wchar_t* p = marker; *p; ++p)
    if (*p == L'\\' || *p == L'/') slash = p + 1;
  lstrcpyW(slash, L"planted-dll-loaded.txt");
  HANDLE f = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(f, path, n * sizeof(wchar_t), &written, nullptr);
    WriteFile(f, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(f);
  }
  return FALSE;
}
