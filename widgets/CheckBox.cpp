#include "widgets/CheckBox.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "base/System_win.h"
#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

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
  const SIZE text = TextExtent(Handle(), Widen(Text()), UiFont(), DT_SINGLELINE);
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

// --- TChoiceButton ---

bool TChoiceButton::Create(HWND parent, int x, int y, int w, int h, const std::string& caption) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"BUTTON", kChild | WS_TABSTOP | BS_RADIOBUTTON, 0, caption, r.left, r.top, r.right - r.left,
                     r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  // A themed radio button draws its text in the theme's colour whatever the
  // window asks for: the classic look keeps the navy. uxtheme.dll is no
  // KnownDLL: it comes from the system folder.
  if (auto* setTheme = SystemFunction<decltype(SetWindowTheme)>(L"uxtheme.dll", "SetWindowTheme"))
    setTheme(Handle(), L"", L"");
  return true;
}

bool TChoiceButton::Checked() const { return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TChoiceButton::SetChecked(bool checked) {
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

// The other choice beside this one, in the direction of an arrow key, when
// it can be chosen.
TChoiceButton* TChoiceButton::Neighbour(bool forward) const {
  for (HWND h = GetWindow(Handle(), forward ? GW_HWNDNEXT : GW_HWNDPREV); h;
       h = GetWindow(h, forward ? GW_HWNDNEXT : GW_HWNDPREV)) {
    if (auto* choice = dynamic_cast<TChoiceButton*>(TWindow::FromHandle(h)))
      return choice->Enabled() ? choice : nullptr;
  }
  return nullptr;
}

LRESULT TChoiceButton::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      return Default(msg, wp, lp) | DLGC_WANTARROWS;
    case WM_KEYDOWN:
      // The arrow keys move to the other choice and choose it.
      if (wp == VK_UP || wp == VK_DOWN || wp == VK_LEFT || wp == VK_RIGHT) {
        if (TChoiceButton* next = Neighbour(wp == VK_DOWN || wp == VK_RIGHT)) {
          SetFocus(next->Handle());
          if (next->OnClick) next->OnClick();
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return Default(msg, wp, lp);
}

bool TChoiceButton::OnReflect(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND) {
    if ((HIWORD(wp) == BN_CLICKED || HIWORD(wp) == BN_DOUBLECLICKED) && OnClick) OnClick();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
    // Filled with a picture of the panel behind it, so the button looks
    // see-through on the gradient.
    result = reinterpret_cast<LRESULT>(
        SeeThroughBrush(Handle(), reinterpret_cast<HDC>(wp), background_, colour_));
    return true;
  }
  return false;
}

}  // namespace zelt
