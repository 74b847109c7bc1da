#include "widgets/Label.h"

#include <oleacc.h>

#include <algorithm>

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

// --- TLabel ---

bool TLabel::Create(HWND parent, int x, int y, const std::string& text, int w, int h) {
  Place96(x, y, w, h);
  autoSize_ = w == 0 && h == 0;
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateWnd(L"ZeltLabel", kChild, 0, text, r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
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
  const SIZE s = TextExtent(Handle(), Widen(Text()), UiFont(bold_), 0);
  SetWindowPos(Handle(), nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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

// --- TLinkLabel ---

bool TLinkLabel::Create(HWND parent, int x, int y, const std::string& text) {
  Place96(x, y, 0, 0);
  const RECT r = ScaleRect(x, y, 0, 0);
  if (!CreateWnd(L"ZeltLinkLabel", kChild | WS_TABSTOP, 0, text, r.left, r.top, 0, 0, parent)) return false;
  MakeFont();
  FitToText();
  return true;
}

void TLinkLabel::MakeFont() {
  const TDpiScope dpi(Dpi());
  LOGFONTW lf{};
  GetObjectW(UiFont(), sizeof(lf), &lf);
  lf.lfUnderline = TRUE;
  underlined_.reset(CreateFontIndirectW(&lf));
}

void TLinkLabel::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  MakeFont();
  FitToText();
}

void TLinkLabel::SetColour(COLORREF colour) {
  colour_ = colour;
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TLinkLabel::SetText(const std::string& text) {
  TControl::SetText(text);
  FitToText();
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TLinkLabel::FitToText() {
  const TDpiScope dpi(Dpi());
  SIZE s = TextExtent(Handle(), Widen(Text()), UiFont(), DT_SINGLELINE);
  // Room for a last glyph drawn past its advance (the closing bracket).
  s.cx += Scale(2);
  // Text grows faster than the layout at some scales: the link keeps clear
  // of its parent's right edge (and the frame there) by moving left rather
  // than losing its end.
  RECT parent{};
  GetClientRect(GetParent(Handle()), &parent);
  const POINT at = PlacedAt();
  const int x = std::max(0, std::min<int>(at.x, parent.right - Scale(8) - s.cx));
  SetWindowPos(Handle(), nullptr, x, at.y, s.cx, s.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TLinkLabel::SetHot(bool hot) {
  if (hot == hot_) return;
  hot_ = hot;
  if (hot_) {
    TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, Handle(), 0};
    TrackMouseEvent(&tme);
  }
  InvalidateRect(Handle(), nullptr, FALSE);
}

std::wstring TLinkLabel::AccessibleName() const { return Widen(Text()); }
long TLinkLabel::AccessibleRole() const { return ROLE_SYSTEM_LINK; }

void TLinkLabel::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  PaintParentBackground(Handle(), dc);
  const std::wstring text = Widen(Text());
  // In high contrast a link is told by its underline, in the face's text
  // colour (the link colour of some schemes is meant for a hover background).
  const bool contrast = HighContrast();
  TSelect font(dc, hot_ || contrast ? underlined_.get() : UiFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, contrast ? GetSysColor(COLOR_BTNTEXT) : colour_);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_NOPREFIX | DT_LEFT | DT_SINGLELINE);
  if (GetFocus() == Handle()) DrawFocusRect(dc, &rc);
}

LRESULT TLinkLabel::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(Handle(), nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE: {
      // Enter follows the focused link (the window's dialog keys would take it).
      const auto* key = reinterpret_cast<const MSG*>(lp);
      return key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN ? DLGC_WANTMESSAGE : 0;
    }
    case WM_KEYDOWN:
      if ((wp == VK_RETURN || wp == VK_SPACE) && OnClick) OnClick();
      return 0;
    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    case WM_MOUSEMOVE:
      SetHot(true);
      return 0;
    case WM_MOUSELEAVE:
      SetHot(false);
      pressed_ = false;
      return 0;
    case WM_LBUTTONDOWN:
      pressed_ = true;
      return 0;
    case WM_LBUTTONUP: {
      const bool click = pressed_;
      pressed_ = false;
      if (click && OnClick) OnClick();
      return 0;
    }
    default:
      return TPaintedControl::OnMessage(msg, wp, lp);
  }
}

}  // namespace zelt
