#include "widgets/Dpi.h"

#include "base/ScopedWin.h"
#include "base/System_win.h"

namespace zelt {

namespace {
int g_override = 0;
thread_local int t_scope = 0;

int SystemDpi() {
  // GetDpiForSystem exists from Windows 10 1607; older systems answer through the screen DC.
  using GetDpiForSystemFn = UINT WINAPI();
  static auto* const fn = SystemFunction<GetDpiForSystemFn>(L"user32.dll", "GetDpiForSystem");
  if (fn) return static_cast<int>(fn());
  TWindowDc screen(nullptr);
  const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96;
}
}  // namespace

int CurrentDpi() {
  if (t_scope > 0) return t_scope;
  return g_override > 0 ? g_override : SystemDpi();
}

void SetDpiOverride(int dpi) { g_override = dpi; }

int Scale(int px96) { return MulDiv(px96, CurrentDpi(), 96); }

RECT ScaleRect(int x, int y, int w, int h) {
  const int l = Scale(x), t = Scale(y);
  return RECT{l, t, l + Scale(w), t + Scale(h)};
}

TDpiScope::TDpiScope(int dpi) : previous_(t_scope) {
  if (dpi > 0) t_scope = dpi;
}

TDpiScope::~TDpiScope() { t_scope = previous_; }

int MonitorDpiOf(HWND hwnd) {
  if (g_override > 0) return g_override;
  using GetDpiForWindowFn = UINT WINAPI(HWND);
  static auto* const fn = SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  return fn && hwnd ? static_cast<int>(fn(hwnd)) : 0;
}

}  // namespace zelt
