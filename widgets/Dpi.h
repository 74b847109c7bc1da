// Every position and size in the windows is written as its value at 96 DPI and
// goes through Scale(), so the windows keep their proportions at 125 %, 150 %
// and 200 %. Each window has a DPI of its own (that of its monitor): while its
// messages are handled, and while a control of it lays itself out, Scale()
// answers for that DPI. Tests force a DPI with SetDpiOverride.
#pragma once

#include <windows.h>

namespace zelt {

// The DPI the windows are laid out for: the window's own where one is being
// handled, else the override when set, else the system's.
int CurrentDpi();
// 0 returns to the system's DPI.
void SetDpiOverride(int dpi);
// A 96-DPI length at the current DPI, rounded to the nearest pixel.
int Scale(int px96);
RECT ScaleRect(int x, int y, int w, int h);

// While it lives, CurrentDpi() is `dpi` (0 changes nothing). Scopes nest.
class TDpiScope {
 public:
  explicit TDpiScope(int dpi);
  ~TDpiScope();
  TDpiScope(const TDpiScope&) = delete;
  TDpiScope& operator=(const TDpiScope&) = delete;

 private:
  int previous_;
};

// The DPI of the monitor a window is on: while a test forces a DPI, that
// one (every monitor has it); else what the system tells (Windows 10 1607
// and later); 0 otherwise.
int MonitorDpiOf(HWND hwnd);

}  // namespace zelt
