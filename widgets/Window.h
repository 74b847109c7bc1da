// Window base: one window procedure for every window class of ours. `this` is
// bound at WM_NCCREATE from the creation parameter, every message goes to the
// object's OnMessage, and no exception leaves the procedure.
//
// The same base wraps the platform's controls (button, list view, static):
// CreateControl creates one and subclasses it (its window procedure is
// replaced), so its messages reach OnMessage too and Default() passes them on
// to the control's own procedure.
//
// Notifications a control sends to its parent (WM_COMMAND, WM_NOTIFY,
// WM_DRAWITEM, WM_CTLCOLOR*) are reflected: the parent's procedure first offers
// them to the control object's OnReflect, so each control handles its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zelt {

class TWindow {
 public:
  TWindow() = default;
  virtual ~TWindow();
  TWindow(const TWindow&) = delete;
  TWindow& operator=(const TWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  // The DPI the window is laid out for: that of its monitor, set when it is
  // made and changed with it.
  int Dpi() const;

  // The object bound to a window of ours (own class or subclassed control).
  static TWindow* FromHandle(HWND hwnd);

 protected:
  // Registers the class on first use and creates the window bound to this.
  bool CreateWnd(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption, int x,
                 int y, int w, int h, HWND parent, UINT classStyle = 0, HICON icon = nullptr);
  // Creates a control of a platform class and subclasses it.
  bool CreateControl(const wchar_t* className, DWORD style, DWORD exStyle, const std::string& caption, int x,
                     int y, int w, int h, HWND parent);
  // Called for every message while the window exists.
  virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  // A notification this control sent to its parent; true when handled, with
  // the parent's answer in `result`.
  virtual bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // Called once the window has been destroyed (after WM_NCDESTROY).
  virtual void OnDestroyed() {}
  // What assistive technology reads for this window (Active Accessibility):
  // an empty name keeps the platform's own, role 0 its own role.
  virtual std::wstring AccessibleName() const { return {}; }
  virtual long AccessibleRole() const { return 0; }
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);
  void SetWindowDpi(int dpi) { dpi_ = dpi; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static bool Reflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  bool AnswerAccessible(WPARAM wp, LPARAM lp, LRESULT& result) const;
  void Unbind();
  HWND hwnd_ = nullptr;
  int dpi_ = 0;
  WNDPROC previous_ = nullptr;  // a control's own procedure; null for classes of ours
};

}  // namespace zelt
