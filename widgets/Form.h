// A borderless top-level window of the program: a gradient panel fills its
// client area, a 17-pixel header strip runs along the top with the title, moves
// the window when a mouse button is pressed on it, and carries a caption-less
// close (or hide) button at its right end.
//
// Keyboard preview: every key message for the form or any of its controls
// reaches OnKeyDown / OnKeyUp first, whichever control has the focus; Esc is
// acted on at key-up (OnEscape, by default Close) where the form has it, and
// only when its key-down reached the form too: the release of an Esc that
// closed a menu, a message box or a dialog over the form is not a press.
// Tab and Shift+Tab move through the controls in their order of creation,
// Space and Enter press the focused button.
//
// ShowModal runs a nested message loop until Close; the owner is disabled
// meanwhile, and everything else (timers, tray, other reports) goes on.
//
// A side window derives from TForm and builds its controls in its constructor:
//   TMyForm(HWND owner) { CreateForm("Title", "Title", 242, 134, owner);
//                         CentreOn(owner); button_.Create(Body(), ...); }
#pragma once

#include <windows.h>

#include <string>

#include "widgets/Button.h"
#include "widgets/Panel.h"
#include "widgets/Window.h"

namespace zelt {

class IDesktop;

class TForm : public TWindow {
 public:
  ~TForm() override;

  HWND Body() const { return body_.Handle(); }
  THeaderStrip& Strip() { return strip_; }

  // Hides the window and ends a modal loop running for it.
  virtual void Close();
  int ShowModal();
  bool InModal() const { return modal_; }
  void Show(bool visible);
  bool Visible() const { return IsWindowVisible(Handle()) != FALSE; }
  void CentreOnScreen();
  // Centred on another window, or on the screen when it is hidden or absent.
  void CentreOn(HWND other);
  // Window size at 96 DPI scaled.
  SIZE SizePx() const;
  // The window is on a monitor of another DPI (WM_DPICHANGED, or found so
  // before it shows): every control takes its place, size, font and
  // picture for it, and the window the size the system suggests (its own
  // size at that DPI where there is no suggestion).
  void ApplyDpi(int dpi, const RECT* suggested);
  // Takes the DPI of the window's monitor where it differs (a window shown
  // over an owner on another monitor, or moved to another monitor while
  // hidden).
  void FollowMonitorDpi();
  // The desktop of the application object the form lives under: the shell,
  // message boxes, file dialogs, starting a program.
  IDesktop& Desktop() const;

 protected:
  TForm() = default;
  // Creates the hidden window, its panel and strip. `owner` may be null.
  bool CreateForm(const std::string& caption, const std::string& stripTitle, int width96, int height96,
                  HWND owner, TButton::Glyph glyph = TButton::Glyph::Close, DWORD exStyle = 0,
                  const wchar_t* className = L"ZeltForm");
  // Esc at key-up closes the form unless it says otherwise.
  void SetEscapeEnabled(bool enabled) { escape_ = enabled; }
  // Notes the control with the keys, for the form to give them back when it
  // next takes the focus (before the form is disabled, which takes them).
  void RememberFocus();

  // Esc's key-down is taken here (it acts at key-up) unless a form says otherwise.
  virtual bool OnKeyDown(UINT vk);
  virtual bool OnKeyUp(UINT vk);
  virtual void OnEscape() { Close(); }
  // After the controls have followed a change of DPI: what the form keeps
  // of its own (image lists, icons) follows here.
  virtual void OnDpiChanged() {}
  virtual void OnCloseButton() { Close(); }
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  bool PreviewMessage(MSG& msg);
  TPanel body_;
  THeaderStrip strip_;
  int filterId_ = 0;
  bool escape_ = true;
  bool escapeDown_ = false;  // an Esc key-down reached this form and is not released yet
  HWND lastFocus_ = nullptr;  // the control that had the keys when the form was last left
  SIZE size96_{};
  bool modal_ = false;
  bool modalDone_ = false;
};

}  // namespace zelt
