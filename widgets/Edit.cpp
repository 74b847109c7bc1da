#include "widgets/Edit.h"

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

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

}  // namespace zelt
