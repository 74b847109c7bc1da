#include "widgets/Dpi.h"

#include "base/ScopedWin.h"

namespace zelt {

namespace {
int g_override = 0;

int SystemDpi() {
  // GetDpiForSystem exists from Windows 10 1607; older systems answer through the screen DC.
  using GetDpiForSystemFn = UINT(WINAPI*)();
  static const auto fn = reinterpret_cast<GetDpiForSystemFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
  if (fn) return static_cast<int>(fn());
  TWindowDc screen(nullptr);
  const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96;
}
}  // namespace

int CurrentDpi() { return g_override > 0 ? g_override : SystemDpi(); }

void SetDpiOverride(int dpi) { g_override = dpi; }

int Scale(int px96) { return MulDiv(px96, CurrentDpi(), 96); }

RECT ScaleRect(int x, int y, int w, int h) {
  const int l = Scale(x), t = Scale(y);
  return RECT{l, t, l + Scale(w), t + Scale(h)};
}

}  // namespace zelt
