// Planted beside the Windows tests under the name of a system DLL the program
// loads: if it is ever loaded it leaves "planted-dll-loaded.txt" beside itself
// and refuses to load, so the test sees the program looked outside the system
// folder.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  std::wstring marker(path, n);
  marker.resize(marker.find_last_of(L"\\/") + 1);
  marker += L"planted-dll-loaded.txt";
  HANDLE f = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return FALSE;
}
