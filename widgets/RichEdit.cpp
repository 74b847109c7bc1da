#include "widgets/RichEdit.h"

#include <richedit.h>

#include <cstring>
#include <vector>

#include "base/System_win.h"
#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

// The newest rich edit the system has, from the system folder only (a DLL
// of the same name beside the exe is never loaded); the module stays loaded
// for the program's life, as its window class does.
const wchar_t* RichEditClass() {
  static const wchar_t* cls = [] {
    if (LoadSystemLibrary(L"Msftedit.dll")) return L"RICHEDIT50W";
    if (LoadSystemLibrary(L"Riched20.dll")) return L"RichEdit20W";
    return static_cast<const wchar_t*>(nullptr);
  }();
  return cls;
}

struct TStreamSource {
  const char* Data;
  size_t Size;
  size_t Pos;
};

DWORD CALLBACK ReadSource(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
  auto* src = reinterpret_cast<TStreamSource*>(cookie);
  const size_t left = src->Size - src->Pos;
  const size_t n = left < static_cast<size_t>(wanted) ? left : static_cast<size_t>(wanted);
  if (n) memcpy(buffer, src->Data + src->Pos, n);
  src->Pos += n;
  *got = static_cast<LONG>(n);
  return 0;
}

bool StreamIn(HWND hwnd, UINT format, const void* data, size_t size) {
  TStreamSource src{static_cast<const char*>(data), size, 0};
  EDITSTREAM es{};
  es.dwCookie = reinterpret_cast<DWORD_PTR>(&src);
  es.pfnCallback = &ReadSource;
  SendMessageW(hwnd, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&es));
  return es.dwError == 0;
}

}  // namespace

bool TRichEdit::Create(HWND parent, int x, int y, int w, int h, bool readOnly) {
  Place96(x, y, w, h);
  const wchar_t* cls = RichEditClass();
  if (!cls) return false;
  const RECT r = ScaleRect(x, y, w, h);
  DWORD style =
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL;
  if (readOnly) style |= ES_READONLY;
  if (!CreateControl(cls, style, WS_EX_CLIENTEDGE, "", r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  SetTextRect();
  // The system's window colour, whatever the control would pick.
  SendMessageW(Handle(), EM_SETBKGNDCOLOR, TRUE, 0);
  const LRESULT mask = SendMessageW(Handle(), EM_GETEVENTMASK, 0, 0);
  SendMessageW(Handle(), EM_SETEVENTMASK, 0, mask | ENM_LINK);
  return true;
}

bool TRichEdit::LoadRtf(const std::string& rtf) {
  return StreamIn(Handle(), SF_RTF, rtf.data(), rtf.size()) && GetWindowTextLengthW(Handle()) > 0;
}

void TRichEdit::SetPlainText(const std::string& text) {
  const std::wstring w = Widen(text);
  StreamIn(Handle(), SF_TEXT | SF_UNICODE, w.data(), w.size() * sizeof(wchar_t));
}

void TRichEdit::Clear() { SetPlainText(std::string()); }

std::string TRichEdit::PlainText() const {
  GETTEXTLENGTHEX len{GTL_USECRLF | GTL_NUMCHARS, 1200};
  const LRESULT n = SendMessageW(Handle(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (n <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1);
  GETTEXTEX get{};
  get.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  get.flags = GT_USECRLF;
  get.codepage = 1200;
  const LRESULT got =
      SendMessageW(Handle(), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(buffer.data()));
  return Narrow(std::wstring(buffer.data(), static_cast<size_t>(got > 0 ? got : 0)));
}

std::string TRichEdit::TextRange(int first, int last) const {
  if (last <= first) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(last - first) + 1);
  TEXTRANGEW range{};
  range.chrg.cpMin = first;
  range.chrg.cpMax = last;
  range.lpstrText = buffer.data();
  const LRESULT n = SendMessageW(Handle(), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  return Narrow(std::wstring(buffer.data(), static_cast<size_t>(n > 0 ? n : 0)));
}

bool TRichEdit::ReadOnly() const { return (GetWindowLongW(Handle(), GWL_STYLE) & ES_READONLY) != 0; }

void TRichEdit::SetUrlDetection(bool on) { SendMessageW(Handle(), EM_AUTOURLDETECT, on ? TRUE : FALSE, 0); }

void TRichEdit::SetTextRect() {
  // A little air between the frame and the text (the control keeps its size).
  const TDpiScope dpi(Dpi());
  RECT text;
  GetClientRect(Handle(), &text);
  InflateRect(&text, -Scale(4), -Scale(2));
  SendMessageW(Handle(), EM_SETRECT, 0, reinterpret_cast<LPARAM>(&text));
}

void TRichEdit::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  SetTextRect();
}

LRESULT TRichEdit::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  // Read-only text takes no Tab: the key moves on to the next control.
  if (msg == WM_GETDLGCODE && ReadOnly()) return Default(msg, wp, lp) & ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
  return Default(msg, wp, lp);
}

bool TRichEdit::OnReflect(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
  if (msg != WM_NOTIFY) return false;
  const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
  if (hdr->code != EN_LINK) return false;
  const auto* link = reinterpret_cast<const ENLINK*>(lp);
  if ((link->msg == WM_LBUTTONDOWN || link->msg == WM_RBUTTONDOWN) && OnLinkClick) {
    const std::string url = TextRange(link->chrg.cpMin, link->chrg.cpMax);
    if (!url.empty()) OnLinkClick(url);
  }
  result = 0;  // the control goes on with the mouse message as usual
  return true;
}

}  // namespace zelt
