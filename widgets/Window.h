// Window base: one window procedure for every window class of ours. `this` is
// bound at the WM_NCCREATE of our own CreateWindowEx call, every message goes
// to the object's OnMessage, and no exception leaves the procedure.
//
// Any program on the desktop can send our windows any message: a pointer in
// one that another thread or program sent is never followed (a creation
// message binds nothing, a notification is not reflected), and the messages
// the system only ever sends never arrive posted (the application object
// empties them, see Application.h).
//
// The same base wraps the platform's controls (button, list view, static):
// CreateControl creates one and subclasses it (its window procedure is
// replaced), so its messages reach OnMessage too and Default() passes them on
// to the control's own procedure.
//
// Notifications a control sends to its parent (WM_COMMAND, WM_NOTIFY,
// WM_DRAWITEM, WM_CTLCOLOR*) are reflected: the parent's procedure first offers
// them to the control object's OnReflect, so each control handles its own.
// Only those sent on this thread by a child of the parent are.
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
  // The message being handled was sent by another thread or program: what
  // its parameters point to is not ours to follow.
  static bool SentByAnotherThread();
  void SetWindowDpi(int dpi) { dpi_ = dpi; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static bool Reflect(HWND parent, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  bool AnswerAccessible(WPARAM wp, LPARAM lp, LRESULT& result) const;
  void Unbind();
  HWND hwnd_ = nullptr;
  int dpi_ = 0;
  WNDPROC previous_ = nullptr;  // a control's own procedure; null for classes of ours
};

}  // namespace zelt
