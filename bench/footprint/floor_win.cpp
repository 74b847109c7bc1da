// The floor of the footprint measurement: the least a Win32 window program
// built with the program's toolchain and flags costs. It registers a class,
// creates and shows one window, writes the moment its window is up, and runs
// the message loop until the window is closed.
//   ZeltFloor.exe [stamp-file]   the file gets the wall-clock time (Unix
//                                microseconds) at which the window was shown
// Two options add, one at a time, what any program of the informer's kind
// pays for before its own code, so that its memory can be attributed:
//   --common-controls   loads the common controls library (list views,
//                       tooltips, progress bars) and initialises it
//   --worker-thread     runs one short worker thread, as a blocking network
//                       request off the window thread needs
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

LRESULT CALLBACK FloorProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

uint64_t UnixMicroseconds() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const uint64_t t = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return (t - 116444736000000000ULL) / 10;  // from 1601 in 100 ns to 1970 in us
}

void WriteStamp(const char* path, uint64_t us) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%llu\n", static_cast<unsigned long long>(us));
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, text, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(f);
}

bool TakeOption(char*& cmdLine, const char* option) {
  const size_t n = std::strlen(option);
  if (std::strncmp(cmdLine, option, n) != 0 || (cmdLine[n] != ' ' && cmdLine[n] != 0)) return false;
  cmdLine += n;
  while (*cmdLine == ' ') ++cmdLine;
  return true;
}

DWORD WINAPI Worker(void*) { return 0; }

}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR cmdLine, int) {
  for (bool more = true; more && cmdLine;) {
    more = false;
    if (TakeOption(cmdLine, "--common-controls")) {
      // Loaded by name, so the plain floor does not import it.
      using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
      if (HMODULE cc = LoadLibraryW(L"comctl32.dll")) {
        auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(cc, "InitCommonControlsEx")));
        const INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        if (init) init(&icc);
      }
      more = true;
    }
    if (TakeOption(cmdLine, "--worker-thread")) {
      if (HANDLE t = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr)) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
      }
      more = true;
    }
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = FloorProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"ZeltFloor";
  if (!RegisterClassW(&wc)) return 1;
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                              200, nullptr, nullptr, inst, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  const uint64_t shown = UnixMicroseconds();
  if (cmdLine && *cmdLine) WriteStamp(cmdLine, shown);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
