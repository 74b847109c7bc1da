#include "widgets/Window.h"

#include <commctrl.h>

#include "core/Text_win.h"

namespace zelt {

namespace {
constexpr wchar_t kObjectProp[] = L"ZeltWindowObject";
constexpr UINT_PTR kSubclassId = 0x5A454C54;  // "ZELT"
}  // namespace

TWindow::~TWindow() {
  if (hwnd_) {
    // Unbind first so no message reaches a half-destroyed object.
    HWND h = hwnd_;
    Unbind();
    DestroyWindow(h);
  }
}

void TWindow::Unbind() {
  if (!hwnd_) return;
  RemovePropW(hwnd_, kObjectProp);
  if (subclassed_) {
    RemoveWindowSubclass(hwnd_, &TWindow::SubclassProc, kSubclassId);
    subclassed_ = false;
  } else {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  }
  hwnd_ = nullptr;
}

TWindow* TWindow::FromHandle(HWND hwnd) {
  return hwnd ? static_cast<TWindow*>(GetPropW(hwnd, kObjectProp)) : nullptr;
}

bool TWindow::CreateWnd(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption,
                        int x, int y, int w, int h, HWND parent, UINT classStyle, HICON icon) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  if (!GetClassInfoExW(inst, className, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = &TWindow::WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc)) return false;
  }
  const std::wstring text = Widen(caption);
  return CreateWindowExW(exStyle, className, text.c_str(), style, x, y, w, h, parent, nullptr, inst, this) !=
         nullptr;
}

bool TWindow::CreateControl(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption,
                            int x, int y, int w, int h, HWND parent) {
  const std::wstring text = Widen(caption);
  HWND hwnd = CreateWindowExW(exStyle, className, text.c_str(), style, x, y, w, h, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return false;
  hwnd_ = hwnd;
  SetPropW(hwnd, kObjectProp, this);
  subclassed_ = SetWindowSubclass(hwnd, &TWindow::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  return true;
}

LRESULT TWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }

bool TWindow::OnReflect(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TWindow::Default(UINT msg, WPARAM wp, LPARAM lp) {
  return subclassed_ ? DefSubclassProc(hwnd_, msg, wp, lp) : DefWindowProcW(hwnd_, msg, wp, lp);
}

bool TWindow::Reflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  HWND child = nullptr;
  switch (msg) {
    case WM_COMMAND:
      child = reinterpret_cast<HWND>(lp);  // null for menus and accelerators
      break;
    case WM_NOTIFY:
      child = reinterpret_cast<NMHDR*>(lp)->hwndFrom;
      break;
    case WM_DRAWITEM:
      child = reinterpret_cast<DRAWITEMSTRUCT*>(lp)->hwndItem;
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      child = reinterpret_cast<HWND>(lp);
      break;
    default:
      return false;
  }
  TWindow* target = FromHandle(child);
  return target && target->OnReflect(msg, wp, lp, result);
}

LRESULT CALLBACK TWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TWindow* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    SetPropW(hwnd, kObjectProp, self);
  } else {
    self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    LRESULT reflected = 0;
    if (Reflect(msg, wp, lp, reflected)) return reflected;
    if (msg == WM_NCDESTROY) {
      const LRESULT r = self->OnMessage(msg, wp, lp);
      self->Unbind();
      self->OnDestroyed();
      return r;
    }
    return self->OnMessage(msg, wp, lp);
  } catch (...) {
    // A failure inside a handler must not unwind through the system's code.
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK TWindow::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<TWindow*>(ref);
  try {
    if (msg == WM_NCDESTROY) {
      const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
      self->Unbind();
      self->OnDestroyed();
      return r;
    }
    LRESULT reflected = 0;
    if (Reflect(msg, wp, lp, reflected)) return reflected;
    return self->OnMessage(msg, wp, lp);
  } catch (...) {
    return DefSubclassProc(hwnd, msg, wp, lp);
  }
}

}  // namespace zelt
