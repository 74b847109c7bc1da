#include <oleacc.h>

#include "base/Text_win.h"
#include "widgets/Controls.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

bool TLabel::Create(HWND parent, int x, int y, const std::string& text, int w, int h) {
  Place96(x, y, w, h);
  autoSize_ = w == 0 && h == 0;
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateWnd(L"ZeltLabel", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, text, r.left, r.top, r.right - r.left,
                 r.bottom - r.top, parent))
    return false;
  FitToText();
  return true;
}

void TLabel::SetColour(COLORREF colour) {
  colour_ = colour;
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TLabel::SetBold(bool bold) {
  bold_ = bold;
  FitToText();
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TLabel::SetText(const std::string& text) {
  TControl::SetText(text);
  FitToText();
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TLabel::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  FitToText();
}

void TLabel::FitToText() {
  if (!autoSize_) return;
  const TDpiScope dpi(Dpi());
  const std::wstring text = Widen(Text());
  TWindowDc window(Handle());
  const HDC dc = window.get();
  RECT rc{0, 0, 0, 0};
  {
    TSelect font(dc, UiFont(bold_));
    if (text.empty()) {
      TEXTMETRICW tm;
      GetTextMetricsW(dc, &tm);
      rc.bottom = tm.tmHeight;
    } else {
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_NOPREFIX);
    }
  }
  SetWindowPos(Handle(), nullptr, 0, 0, rc.right, rc.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TLabel::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  PaintParentBackground(Handle(), dc);
  const std::wstring text = Widen(Text());
  TSelect font(dc, UiFont(bold_));
  SetBkMode(dc, TRANSPARENT);
  // Grey text stays set apart in high contrast; any other takes the face's text colour.
  SetTextColor(dc, SchemeColour(colour_, colour_ == palette::kGrey ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_NOPREFIX | DT_LEFT);
}

// A label is read as the text it shows.
std::wstring TLabel::AccessibleName() const { return Widen(Text()); }
long TLabel::AccessibleRole() const { return ROLE_SYSTEM_STATICTEXT; }

LRESULT TLabel::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  // Clicks go through to what lies under the label.
  if (msg == WM_NCHITTEST) return HTTRANSPARENT;
  return TPaintedControl::OnMessage(msg, wp, lp);
}

}  // namespace zelt
