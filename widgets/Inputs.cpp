#include "widgets/Inputs.h"

#include <richedit.h>

#include <cstring>

#include "core/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

void SetStyleBit(HWND hwnd, LONG bit, bool on) {
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  SetWindowLongW(hwnd, GWL_STYLE, on ? (style | bit) : (style & ~bit));
  InvalidateRect(hwnd, nullptr, TRUE);
}
}  // namespace

// --- TEdit ---

bool TEdit::Create(HWND parent, int x, int y, int w, int h, const std::string& text) {
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"EDIT", kChild | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, text, r.left, r.top,
                     r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return true;
}

void TEdit::SetNumbersOnly(bool on) { SetStyleBit(Handle(), ES_NUMBER, on); }

void TEdit::SetPassword(bool on) {
  SendMessageW(Handle(), EM_SETPASSWORDCHAR, on ? L'*' : 0, 0);
  InvalidateRect(Handle(), nullptr, TRUE);
}

void TEdit::SetMaxLength(int chars) { SendMessageW(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(chars), 0); }

void TEdit::SetReadOnly(bool on) { SendMessageW(Handle(), EM_SETREADONLY, on, 0); }

bool TEdit::OnReflect(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wp) == EN_CHANGE) {
    if (OnChange) OnChange();
    result = 0;
    return true;
  }
  return false;
}

// --- TCheckBox / TRadioButton ---

bool TCheckBox::Create(HWND parent, int x, int y, int w, int h, const std::string& caption) {
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"BUTTON", kChild | WS_TABSTOP | kind_, 0, caption, r.left, r.top, r.right - r.left,
                     r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return true;
}

bool TCheckBox::Checked() const { return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TCheckBox::SetChecked(bool checked) {
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    if (OnClick) OnClick();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
    // See-through on the gradient: the control draws its box and text over
    // whatever the panel painted.
    HDC dc = reinterpret_cast<HDC>(wp);
    SetBkMode(dc, TRANSPARENT);
    PaintParentBackground(reinterpret_cast<HWND>(lp), dc);
    result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    return true;
  }
  return false;
}

bool TRadioButton::Create(HWND parent, int x, int y, int w, int h, const std::string& caption, bool groupStart) {
  kind_ = BS_AUTORADIOBUTTON | (groupStart ? WS_GROUP : 0);
  return TCheckBox::Create(parent, x, y, w, h, caption);
}

// --- TRichEdit ---

namespace {
struct StreamSource {
  const std::string* bytes;
  size_t pos;
};

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* s = reinterpret_cast<StreamSource*>(cookie);
  const size_t left = s->bytes->size() - s->pos;
  const size_t n = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
  memcpy(buffer, s->bytes->data() + s->pos, n);
  s->pos += n;
  *done = static_cast<LONG>(n);
  return 0;
}
}  // namespace

bool TRichEdit::Create(HWND parent, int x, int y, int w, int h) {
  static const HMODULE module = LoadLibraryW(L"Msftedit.dll");
  const wchar_t* cls = module ? MSFTEDIT_CLASS : L"RICHEDIT20W";
  if (!module) LoadLibraryW(L"Riched20.dll");
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(cls, kChild | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE, "",
                     r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  SendMessageW(Handle(), EM_AUTOURLDETECT, TRUE, 0);
  SendMessageW(Handle(), EM_SETEVENTMASK, 0, ENM_LINK);
  return true;
}

void TRichEdit::SetRtf(const std::string& rtf) {
  if (rtf.compare(0, 5, "{\\rtf") != 0) {
    // Plain cp1251 text, whatever the system's code page.
    SetWindowTextW(Handle(), Widen(rtf).c_str());
    return;
  }
  StreamSource source{&rtf, 0};
  EDITSTREAM es{reinterpret_cast<DWORD_PTR>(&source), 0, &ReadRtf};
  SendMessageW(Handle(), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es));
}

std::string TRichEdit::PlainText() const {
  GETTEXTLENGTHEX len{GTL_DEFAULT, 1200};
  const LRESULT n = SendMessageW(Handle(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GETTEXTEX get{static_cast<DWORD>((n + 1) * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
  const LRESULT got =
      SendMessageW(Handle(), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(w.data()));
  w.resize(static_cast<size_t>(got));
  return Narrow(w);
}

bool TRichEdit::OnReflect(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
  if (msg != WM_NOTIFY) return false;
  const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
  if (hdr->code != EN_LINK) return false;
  const auto* link = reinterpret_cast<const ENLINK*>(lp);
  result = 0;
  if (link->msg != WM_LBUTTONUP) return true;
  std::wstring url(static_cast<size_t>(link->chrg.cpMax - link->chrg.cpMin) + 1, L'\0');
  TEXTRANGEW range{link->chrg, url.data()};
  const LRESULT n = SendMessageW(Handle(), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  url.resize(static_cast<size_t>(n));
  if (OnLink) OnLink(Narrow(url));
  return true;
}

}  // namespace zelt
