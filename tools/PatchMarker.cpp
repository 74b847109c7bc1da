// Stands in for the self-extracting patch in the update tests: when started it
// leaves "patch-ran.txt" beside itself, holding its own full path, and ends.
// The tests serve its bytes as the patch and look for the marker.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  std::wstring marker(self, n);
  marker.resize(marker.find_last_of(L"\\/") + 1);
  marker += L"patch-ran.txt";

  char path[MAX_PATH * 3];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, self, static_cast<int>(n), path, sizeof(path), nullptr, nullptr);
  HANDLE f = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const bool ok = bytes > 0 && WriteFile(f, path, static_cast<DWORD>(bytes), &written, nullptr) &&
                  written == static_cast<DWORD>(bytes);
  CloseHandle(f);
  return ok ? 0 : 3;
}
