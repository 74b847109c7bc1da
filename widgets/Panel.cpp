#include "widgets/Panel.h"

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

// --- TPanel ---

bool TPanel::Create(HWND parent, int x, int y, int w, int h) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  return CreateWnd(L"ZeltPanel", kChild | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, "", r.left,
                   r.top, r.right - r.left, r.bottom - r.top, parent);
}

void TPanel::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  FillScheme(dc, rc, palette::kPanelTop, palette::kPanelBottom, COLOR_BTNFACE);
  if (frame_) FrameRect(dc, rc, SchemeColour(palette::kStripTop, COLOR_WINDOWFRAME));
}

// --- THeaderStrip ---

bool THeaderStrip::Create(HWND parent, int width, const std::string& title, TButton::Glyph glyph) {
  Place96(0, 0, width, kHeight);
  if (!CreateWnd(L"ZeltHeaderStrip", kChild | WS_CLIPCHILDREN, 0, title, 0, 0, Scale(width), Scale(kHeight),
                 parent))
    return false;
  constexpr int kButtonWidth = 28;
  close_.Create(Handle(), width - kButtonWidth, 0, kButtonWidth, kHeight);
  close_.SetGlyph(glyph);
  // The strip's button is reached by the mouse only; keys go to the window's handler.
  SetWindowLongW(close_.Handle(), GWL_STYLE, GetWindowLongW(close_.Handle(), GWL_STYLE) & ~WS_TABSTOP);
  return true;
}

void THeaderStrip::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  FillScheme(dc, rc, palette::kStripTop, palette::kStripBottom, COLOR_ACTIVECAPTION);
  const std::wstring title = Widen(Text());
  if (title.empty()) return;
  TSelect font(dc, UiFont(true));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, SchemeColour(palette::kStripText, COLOR_CAPTIONTEXT));
  RECT tr = rc;
  tr.left += Scale(8);
  DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &tr,
            DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
}

LRESULT THeaderStrip::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // Any button starts a move of the window, as its caption bar would.
      ReleaseCapture();
      SendMessageW(GetAncestor(Handle(), GA_ROOT), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
      return 0;
    case WM_SETTEXT: {
      const LRESULT r = Default(msg, wp, lp);
      InvalidateRect(Handle(), nullptr, FALSE);
      return r;
    }
    default:
      return TPaintedControl::OnMessage(msg, wp, lp);
  }
}

// --- TSeparator ---

bool TSeparator::Create(HWND parent, int x, int y, int w) {
  Place96(x, y, w, 2);
  const RECT r = ScaleRect(x, y, w, 0);
  return CreateWnd(L"ZeltSeparator", kChild, 0, "", r.left, r.top, r.right - r.left, 2, parent);
}

void TSeparator::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  RECT rc;
  GetWindowRect(Handle(), &rc);
  SetWindowPos(Handle(), nullptr, 0, 0, rc.right - rc.left, 2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TSeparator::Paint(HDC dc) {
  RECT rc;
  GetClientRect(Handle(), &rc);
  FillSolid(dc, RECT{rc.left, rc.top, rc.right, rc.top + 1}, SchemeColour(RGB(188, 196, 208), COLOR_BTNTEXT));
  FillSolid(dc, RECT{rc.left, rc.top + 1, rc.right, rc.top + 2}, SchemeColour(RGB(255, 255, 255), COLOR_BTNFACE));
}

}  // namespace zelt
