#include "widgets/Window.h"

#include "core/Text_win.h"

namespace zelt {

TWindow::~TWindow() {
  if (hwnd_) {
    // Unbind first so no message reaches a half-destroyed object.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    HWND h = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(h);
  }
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

LRESULT TWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }

LRESULT CALLBACK TWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TWindow* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    if (msg == WM_NCDESTROY) {
      const LRESULT r = self->OnMessage(msg, wp, lp);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->hwnd_ = nullptr;
      self->OnDestroyed();
      return r;
    }
    return self->OnMessage(msg, wp, lp);
  } catch (...) {
    // A failure inside a handler must not unwind through the system's code.
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace zelt
