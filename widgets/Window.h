// Window base: one window procedure for every window class of ours. `this` is
// bound at WM_NCCREATE from the creation parameter, every message goes to the
// object's OnMessage, and no exception leaves the procedure.
#pragma once

#include <windows.h>

#include <string>

namespace zelt {

class TWindow {
 public:
  TWindow() = default;
  virtual ~TWindow();
  TWindow(const TWindow&) = delete;
  TWindow& operator=(const TWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  int32_t Tag = 0;

 protected:
  // Registers the class on first use and creates the window bound to this.
  bool CreateWnd(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption, int x,
                 int y, int w, int h, HWND parent, UINT classStyle = 0, HICON icon = nullptr);
  // Called for every message while the window exists.
  virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  // Called once the window has been destroyed (after WM_NCDESTROY).
  virtual void OnDestroyed() {}
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd_, msg, wp, lp); }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND hwnd_ = nullptr;
};

}  // namespace zelt
