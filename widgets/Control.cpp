#include "widgets/Control.h"

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

// --- TControl ---

void TControl::Place96(int x, int y, int w, int h) {
  bounds96_ = RECT{x, y, w, h};
  placed_ = true;
}

POINT TControl::PlacedAt() const { return POINT{Scale(bounds96_.left), Scale(bounds96_.top)}; }

void TControl::ChangeDpi(int dpi) {
  SetWindowDpi(dpi);
  const TDpiScope scope(dpi);
  if (placed_) {
    const RECT& b = bounds96_;
    const bool sized = b.right > 0 || b.bottom > 0;
    SetWindowPos(Handle(), nullptr, Scale(b.left), Scale(b.top), Scale(b.right), Scale(b.bottom),
                 SWP_NOZORDER | SWP_NOACTIVATE | (sized ? 0 : SWP_NOSIZE));
  }
  // The platform's controls draw with the font they were given.
  if (SendMessageW(Handle(), WM_GETFONT, 0, 0)) SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
}

void TControl::SetVisible(bool visible) { ShowWindow(Handle(), visible ? SW_SHOWNA : SW_HIDE); }

bool TControl::Visible() const { return (GetWindowLongW(Handle(), GWL_STYLE) & WS_VISIBLE) != 0; }

void TControl::SetEnabled(bool enabled) { EnableWindow(Handle(), enabled); }

bool TControl::Enabled() const { return IsWindowEnabled(Handle()) != FALSE; }

void TControl::SetText(const std::string& text) { SetWindowTextW(Handle(), Widen(text).c_str()); }

std::string TControl::Text() const {
  const int n = GetWindowTextLengthW(Handle());
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(Handle(), w.data(), n + 1);
  w.resize(static_cast<size_t>(n));
  return Narrow(w);
}

void TControl::SetAccessibleName(const std::string& name) { accessibleName_ = Widen(name); }

// --- TPaintedControl ---

LRESULT TPaintedControl::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wp));
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      RECT rc;
      GetClientRect(Handle(), &rc);
      {
        TBufferedPaint buffer(dc, rc);
        Paint(buffer.dc());
      }
      EndPaint(Handle(), &ps);
      return 0;
    }
    default:
      return Default(msg, wp, lp);
  }
}

}  // namespace zelt
