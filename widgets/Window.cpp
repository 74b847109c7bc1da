#include "widgets/Window.h"

#include <commctrl.h>

#include <mutex>
#include <unordered_map>

#include "base/System_win.h"
#include "base/Text_win.h"
#include "widgets/Accessible.h"
#include "widgets/Dpi.h"

namespace zelt {

namespace {
// The objects behind the program's windows, by handle, and for the platform's
// controls the procedure they had before ours. Window properties and the
// common controls' subclassing would serve too, but under Wine each property
// lookup is a round trip to the window server, and a subclassed control looks
// one up for every message (a list gets hundreds while it is filled).
struct TBinding {
  TWindow* Object;    // null once unbound; the control may still get messages
  WNDPROC Previous;   // the control's own procedure; null for classes of ours
};
std::mutex g_bindingsLock;
std::unordered_map<HWND, TBinding>& Bindings() {
  static auto* bindings = new std::unordered_map<HWND, TBinding>;  // never destroyed: windows may outlive statics
  return *bindings;
}

void Bind(HWND hwnd, TWindow* object, WNDPROC previous) {
  std::lock_guard<std::mutex> lock(g_bindingsLock);
  Bindings()[hwnd] = TBinding{object, previous};
}

TBinding Lookup(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_bindingsLock);
  auto it = Bindings().find(hwnd);
  return it == Bindings().end() ? TBinding{nullptr, nullptr} : it->second;
}

// Unbinding a control keeps its previous procedure until WM_NCDESTROY: the
// window may still receive messages after its object is gone.
void Unbind(HWND hwnd, const TWindow* object) {
  std::lock_guard<std::mutex> lock(g_bindingsLock);
  auto it = Bindings().find(hwnd);
  if (it == Bindings().end() || it->second.Object != object) return;
  if (it->second.Previous) {
    it->second.Object = nullptr;
  } else {
    Bindings().erase(it);
  }
}

void Erase(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_bindingsLock);
  Bindings().erase(hwnd);
}

// The object whose window our own CreateWindowEx call on this thread is
// making, until its WM_NCCREATE has bound it.
thread_local TWindow* t_creating = nullptr;
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
  zelt::Unbind(hwnd_, this);
  if (!previous_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  hwnd_ = nullptr;
}

int TWindow::Dpi() const { return dpi_ > 0 ? dpi_ : CurrentDpi(); }

TWindow* TWindow::FromHandle(HWND hwnd) { return hwnd ? Lookup(hwnd).Object : nullptr; }

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
  dpi_ = CurrentDpi();
  TWindow* const outer = t_creating;  // a window made while another is being made
  t_creating = this;
  HWND made = CreateWindowExW(exStyle, className, text.c_str(), style, x, y, w, h, parent, nullptr, inst, this);
  t_creating = outer;
  return made != nullptr;
}

bool TWindow::CreateControl(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption,
                            int x, int y, int w, int h, HWND parent) {
  // The common controls register their window classes as they load; the
  // program does not import them (ImageListCreate in base/System_win.h). They
  // load with the first control, not before: the first request of the start
  // need not wait for them.
  static const bool commonControls = LoadSystemLibrary(L"comctl32.dll");
  (void)commonControls;
  const std::wstring text = Widen(caption);
  HWND hwnd = CreateWindowExW(exStyle, className, text.c_str(), style, x, y, w, h, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return false;
  hwnd_ = hwnd;
  dpi_ = CurrentDpi();
  previous_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
  Bind(hwnd, this, previous_);
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWindow::ControlProc));
  return true;
}

LRESULT TWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }

bool TWindow::OnReflect(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TWindow::Default(UINT msg, WPARAM wp, LPARAM lp) {
  return previous_ ? CallWindowProcW(previous_, hwnd_, msg, wp, lp) : DefWindowProcW(hwnd_, msg, wp, lp);
}

bool TWindow::SentByAnotherThread() {
  return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0;
}

bool TWindow::Reflect(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  // Our controls notify on this thread; one sent from elsewhere may point
  // anywhere (and names whatever control it likes).
  if (SentByAnotherThread()) return false;
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
  return target && GetParent(child) == parent && target->OnReflect(msg, wp, lp, result);
}

bool TWindow::AnswerAccessible(WPARAM wp, LPARAM lp, LRESULT& result) const {
  return AnswerAccessibleObject(hwnd_, wp, lp, AccessibleName(), AccessibleRole(), result);
}

LRESULT CALLBACK TWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    // Only the window our own CreateWindowEx is making is bound, once; the
    // creation parameter of any other WM_NCCREATE is never looked at.
    TWindow* const creating = t_creating;
    if (self || !creating || SentByAnotherThread()) return self ? FALSE : DefWindowProcW(hwnd, msg, wp, lp);
    if (reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams != creating) return DefWindowProcW(hwnd, msg, wp, lp);
    t_creating = nullptr;
    self = creating;
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    Bind(hwnd, self, nullptr);
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    // Everything the window does now is laid out for its own DPI.
    const TDpiScope dpi(self->dpi_);
    LRESULT reflected = 0;
    if (Reflect(hwnd, msg, wp, lp, reflected)) return reflected;
    if (msg == WM_GETOBJECT && self->AnswerAccessible(wp, lp, reflected)) return reflected;
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

LRESULT CALLBACK TWindow::ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const TBinding b = Lookup(hwnd);
  if (!b.Previous) return DefWindowProcW(hwnd, msg, wp, lp);
  // A control was made before it was subclassed: a creation message now is
  // another program's, and would make the control start over.
  if (msg == WM_NCCREATE || msg == WM_CREATE) return 0;
  TWindow* self = b.Object;
  if (!self) {
    const LRESULT r = CallWindowProcW(b.Previous, hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) Erase(hwnd);
    return r;
  }
  try {
    const TDpiScope dpi(self->dpi_);
    if (msg == WM_NCDESTROY) {
      const LRESULT r = CallWindowProcW(b.Previous, hwnd, msg, wp, lp);
      self->Unbind();
      Erase(hwnd);
      self->OnDestroyed();
      return r;
    }
    LRESULT reflected = 0;
    if (Reflect(hwnd, msg, wp, lp, reflected)) return reflected;
    if (msg == WM_GETOBJECT && self->AnswerAccessible(wp, lp, reflected)) return reflected;
    return self->OnMessage(msg, wp, lp);
  } catch (...) {
    return CallWindowProcW(b.Previous, hwnd, msg, wp, lp);
  }
}

}  // namespace zelt
