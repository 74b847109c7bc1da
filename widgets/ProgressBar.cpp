#include "widgets/ProgressBar.h"

#include <oleacc.h>

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

bool TProgressBar::Create(HWND parent, int x, int y, int w, int h) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  return CreateWnd(L"ZeltProgressBar", kChild, 0, "", r.left, r.top, r.right - r.left, r.bottom - r.top, parent);
}

void TProgressBar::SetRange(int max) {
  max_ = max > 0 ? max : 1;
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TProgressBar::SetPosition(int position) {
  position_ = position < 0 ? 0 : (position > max_ ? max_ : position);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TProgressBar::SetText(const std::string& text) {
  TControl::SetText(text);
  InvalidateRect(Handle(), nullptr, FALSE);
}

// Read as a progress bar with the text it shows (the bytes received).
std::wstring TProgressBar::AccessibleName() const { return Widen(Text()); }
long TProgressBar::AccessibleRole() const { return ROLE_SYSTEM_PROGRESSBAR; }

void TProgressBar::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  FillSolid(dc, rc, SchemeColour(RGB(255, 255, 255), COLOR_WINDOW));
  RECT bar = rc;
  InflateRect(&bar, -1, -1);
  bar.right = bar.left + MulDiv(bar.right - bar.left, position_, max_);
  if (bar.right > bar.left) FillScheme(dc, bar, palette::kBarTop, palette::kBarBottom, COLOR_HIGHLIGHT);
  FrameRect(dc, rc, SchemeColour(palette::kButtonBorder, COLOR_WINDOWTEXT));
  const std::wstring text = Widen(Text());
  if (text.empty()) return;
  TSelect font(dc, UiFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, SchemeColour(palette::kText, COLOR_WINDOWTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  if (!HighContrast() || bar.right <= bar.left) return;
  // Over the highlight the text takes the highlight's own text colour.
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, bar.left, bar.top, bar.right, bar.bottom);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  RestoreDC(dc, saved);
}

}  // namespace zelt
