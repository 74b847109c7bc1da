#include "widgets/EditControls.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

// Text extent in the interface font.
SIZE TextSize(HWND hwnd, const std::string& text, HFONT font) {
  const std::wstring w = Widen(text);
  TWindowDc window(hwnd);
  const HDC dc = window.get();
  RECT rc{0, 0, 0, 0};
  {
    TSelect sel(dc, font);
    if (w.empty()) {
      TEXTMETRICW tm;
      GetTextMetricsW(dc, &tm);
      rc.bottom = tm.tmHeight;
    } else {
      DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &rc, DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE);
    }
  }
  return SIZE{rc.right, rc.bottom};
}

}  // namespace

// --- TEdit ---

bool TEdit::Create(HWND parent, int x, int y, int w, int h, bool password) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  DWORD style = kChild | WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
  if (password) style |= ES_PASSWORD;
  if (!CreateControl(L"EDIT", style, WS_EX_CLIENTEDGE, "", r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  SendMessageW(Handle(), EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Scale(2), Scale(2)));
  return true;
}

void TEdit::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  const TDpiScope scope(dpi);
  SendMessageW(Handle(), EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Scale(2), Scale(2)));
}

void TEdit::SetText(const std::string& text) {
  ++quiet_;
  TControl::SetText(text);
  --quiet_;
}

void TEdit::SelectAll() { SendMessageW(Handle(), EM_SETSEL, 0, -1); }

void TEdit::SetSelection(int start, int end) { SendMessageW(Handle(), EM_SETSEL, start, end); }

void TEdit::GetSelection(int& start, int& end) const {
  DWORD s = 0, e = 0;
  SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  start = static_cast<int>(s);
  end = static_cast<int>(e);
}

bool TEdit::IsPassword() const { return (GetWindowLongW(Handle(), GWL_STYLE) & ES_PASSWORD) != 0; }

LRESULT TEdit::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR && OnKeyPress) {
    const std::string c = Narrow(std::wstring(1, static_cast<wchar_t>(wp)));
    if (!OnKeyPress(c.empty() ? '?' : c[0])) return 0;
  }
  return Default(msg, wp, lp);
}

bool TEdit::OnReflect(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wp) == EN_CHANGE) {
    if (quiet_ == 0 && OnChange) OnChange();
    result = 0;
    return true;
  }
  return false;
}

// --- TCheckBox ---

bool TCheckBox::Create(HWND parent, int x, int y, const std::string& caption, int w, int h) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"BUTTON", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0, caption, r.left, r.top, r.right - r.left,
                     r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  autoSize_ = w == 0 && h == 0;
  FitToCaption();
  return true;
}

void TCheckBox::FitToCaption() {
  if (!autoSize_) return;
  const TDpiScope dpi(Dpi());
  // The box, the gap the control leaves after it, and the caption; the
  // control's own answer where it has one, whichever is wider.
  const SIZE text = TextSize(Handle(), Text(), UiFont());
  int width = GetSystemMetrics(SM_CXMENUCHECK) + Scale(12) + text.cx;
  SIZE ideal{0, 0};
  if (SendMessageW(Handle(), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > width)
    width = ideal.cx;
  SetWindowPos(Handle(), nullptr, 0, 0, width, Scale(16), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TCheckBox::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  FitToCaption();
}

bool TCheckBox::Checked() const { return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TCheckBox::SetChecked(bool checked) {
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT TCheckBox::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;
  return Default(msg, wp, lp);
}

bool TCheckBox::OnReflect(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND) {
    if (HIWORD(wp) == BN_CLICKED && OnClick) OnClick();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
    // The control fills its background with this brush: a picture of the
    // panel behind it, so the box looks see-through on the gradient.
    result = reinterpret_cast<LRESULT>(
        SeeThroughBrush(Handle(), reinterpret_cast<HDC>(wp), background_, palette::kText));
    return true;
  }
  return false;
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
  SIZE s = TextSize(Handle(), Text(), UiFont());
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
