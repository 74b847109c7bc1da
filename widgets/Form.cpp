#include "widgets/Form.h"

#include "widgets/Application.h"
#include "widgets/Dpi.h"

namespace zelt {

TForm::~TForm() {
  if (filterId_ && TApplication::Instance()) TApplication::Instance()->RemoveMessageFilter(filterId_);
}

bool TForm::CreateForm(const std::string& caption, const std::string& stripTitle, int width96, int height96,
                       HWND owner, TButton::Glyph glyph, DWORD exStyle, const wchar_t* className) {
  size96_ = SIZE{width96, height96};
  const int w = Scale(width96), h = Scale(height96);
  // Borderless: an outline and the system's drop shadow keep the window
  // apart from what lies behind it.
  if (!CreateWnd(className, WS_POPUP | WS_CLIPCHILDREN, exStyle | WS_EX_CONTROLPARENT, caption, 0, 0, w, h, owner,
                 CS_DBLCLKS | CS_DROPSHADOW))
    return false;
  body_.Create(Handle(), 0, 0, width96, height96);
  body_.SetFrame(true);
  strip_.Create(Body(), width96, stripTitle, glyph);
  strip_.CloseButton().OnClick = [this] { OnCloseButton(); };
  if (TApplication* app = TApplication::Instance())
    filterId_ = app->AddMessageFilter([this](MSG& msg) { return PreviewMessage(msg); });
  return true;
}

IDesktop& TForm::Desktop() const { return TApplication::Instance()->Desktop(); }

SIZE TForm::SizePx() const {
  RECT rc;
  GetWindowRect(Handle(), &rc);
  return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

void TForm::CentreOnScreen() {
  const SIZE s = SizePx();
  SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - s.cx) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - s.cy) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::CentreOn(HWND other) {
  // A hidden owner (the main window while it sits in the tray) has no place
  // worth centring on.
  if (!other || !IsWindowVisible(other)) {
    CentreOnScreen();
    return;
  }
  RECT o;
  GetWindowRect(other, &o);
  const SIZE s = SizePx();
  SetWindowPos(Handle(), nullptr, o.left + (o.right - o.left - s.cx) / 2, o.top + (o.bottom - o.top - s.cy) / 2, 0,
               0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::ApplyDpi(int dpi, const RECT* suggested) {
  if (dpi <= 0) return;
  SetWindowDpi(dpi);
  const TDpiScope scope(dpi);
  // Parents come before their children.
  EnumChildWindows(
      Handle(),
      [](HWND child, LPARAM lp) {
        if (auto* control = dynamic_cast<TControl*>(TWindow::FromHandle(child))) control->ChangeDpi(static_cast<int>(lp));
        return TRUE;
      },
      dpi);
  RECT rc;
  GetWindowRect(Handle(), &rc);
  if (suggested) rc = *suggested;
  const int w = suggested ? rc.right - rc.left : Scale(size96_.cx);
  const int h = suggested ? rc.bottom - rc.top : Scale(size96_.cy);
  SetWindowPos(Handle(), nullptr, rc.left, rc.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  OnDpiChanged();
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TForm::FollowMonitorDpi() {
  const int monitor = MonitorDpiOf(Handle());
  if (monitor > 0 && monitor != Dpi()) ApplyDpi(monitor, nullptr);
}

void TForm::Show(bool visible) {
  if (visible) FollowMonitorDpi();
  ShowWindow(Handle(), visible ? SW_SHOW : SW_HIDE);
  if (visible) SetForegroundWindow(Handle());
}

void TForm::Close() {
  ShowWindow(Handle(), SW_HIDE);
  modalDone_ = true;
}

int TForm::ShowModal() {
  TApplication* app = TApplication::Instance();
  if (!app || !Handle()) return 0;
  HWND owner = GetWindow(Handle(), GW_OWNER);
  const bool disableOwner = owner && IsWindowEnabled(owner);
  if (disableOwner) EnableWindow(owner, FALSE);
  modal_ = true;
  modalDone_ = false;
  FollowMonitorDpi();
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(Handle());
  app->RunModal([this] { return modalDone_ || !Handle(); });
  modal_ = false;
  if (disableOwner && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (Handle()) ShowWindow(Handle(), SW_HIDE);
  return 1;
}

void TForm::RememberFocus() {
  HWND focus = GetFocus();
  if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
}

bool TForm::OnKeyDown(UINT vk) { return vk == VK_ESCAPE; }

bool TForm::OnKeyUp(UINT vk) {
  if (vk == VK_ESCAPE && escape_) {
    OnEscape();
    return true;
  }
  return false;
}

bool TForm::PreviewMessage(MSG& msg) {
  if (!Handle() || !(msg.hwnd == Handle() || IsChild(Handle(), msg.hwnd))) return false;
  switch (msg.message) {
    case WM_KEYDOWN:
      if (msg.wParam == VK_ESCAPE) escapeDown_ = true;
      if (OnKeyDown(static_cast<UINT>(msg.wParam))) return true;
      break;
    case WM_KEYUP:
      if (msg.wParam == VK_ESCAPE) {
        const bool pressedHere = escapeDown_;
        escapeDown_ = false;
        if (!pressedHere) return true;
      }
      if (OnKeyUp(static_cast<UINT>(msg.wParam))) return true;
      break;
    default:
      break;
  }
  return IsDialogMessageW(Handle(), &msg) != FALSE;
}

LRESULT TForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DPICHANGED:
      // The system sends it on this thread; from another thread or program
      // neither its DPI nor its rectangle is taken: the window asks its
      // monitor instead.
      if (SentByAnotherThread()) {
        FollowMonitorDpi();
      } else {
        ApplyDpi(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      }
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // The colours or the high-contrast mode changed: the controls that keep
      // colours of their own hear it too, and everything is painted anew.
      EnumChildWindows(
          Handle(),
          [](HWND child, LPARAM) {
            SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
            return TRUE;
          },
          0);
      RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
      return Default(msg, wp, lp);
    case WM_ACTIVATE:
      // Keep the control that had the keys while another window is in front.
      if (LOWORD(wp) == WA_INACTIVE) RememberFocus();
      return Default(msg, wp, lp);
    case WM_SETFOCUS: {
      // The form itself takes no keys: they go back to the control that had
      // them, at first to the first control in the tab order (an edit field
      // with its text selected, so that typing replaces it).
      if (lastFocus_ && IsWindow(lastFocus_) && IsChild(Handle(), lastFocus_) && IsWindowVisible(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      HWND first = GetNextDlgTabItem(Handle(), nullptr, FALSE);
      if (!first || first == Handle()) return 0;
      SetFocus(first);
      const bool field = (SendMessageW(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) &&
                         !(GetWindowLongW(first, GWL_STYLE) & ES_MULTILINE);
      if (field) SendMessageW(first, EM_SETSEL, 0, -1);
      return 0;
    }
    default:
      return Default(msg, wp, lp);
  }
}

}  // namespace zelt
