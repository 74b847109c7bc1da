// Stands in for the browser and for any program the shell might start in the
// hostile-input tests (registered as the "http" handler of the test's Wine
// prefix and planted where a hostile link points), and for a patch that must
// never run: it appends its command line (UTF-8) as one line to "opened.txt"
// beside itself and ends.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  std::wstring log(self, n);
  log.resize(log.find_last_of(L"\\/") + 1);
  log += L"opened.txt";

  const std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  std::string utf8(line.size() * 4, '\0');
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, nullptr);
  HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const bool ok = bytes > 0 && WriteFile(f, utf8.data(), static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(f);
  return ok ? 0 : 3;
}
