// The simple controls the windows are built from. Positions and sizes are
// given at 96 DPI (they pass through Scale()); texts are cp1251.
//
//   TControl      base: bounds, visibility, enabled state, text (Control.h)
//   TButton       owner-drawn gradient button: PNG picture, caption, tooltip (Button.h)
//   TPanel        gradient background that fills a form; controls sit on it
//   THeaderStrip  the 17-pixel title strip: title text, drag to move the
//                 window, a caption-less close/hide button at its right end
//   TLabel        text on the panel, see-through; colour, bold, sized to text
//   TSeparator    an etched horizontal line
//   TProgressBar  a bar with a text drawn over it
//
// Typical use inside a form's construction routine:
//   label_.Create(Body(), 8, 24, "Text");  label_.SetColour(palette::kNavy);
#pragma once

#include <windows.h>

#include <string>

#include "widgets/Button.h"
#include "widgets/Control.h"

namespace zelt {

class TPanel : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  void SetColours(COLORREF top, COLORREF bottom);
  // A one-pixel frame along the edges (a borderless window's outline).
  void SetFrame(bool on) { frame_ = on; }

 protected:
  void Paint(HDC dc) override;

 private:
  COLORREF top_, bottom_;
  bool frame_ = false;
};

class THeaderStrip : public TPaintedControl {
 public:
  static constexpr int kHeight = 17;
  // Full width of the parent; the button closes or hides, as the owner decides.
  bool Create(HWND parent, int width, const std::string& title, TButton::Glyph glyph);
  TButton& CloseButton() { return close_; }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void Paint(HDC dc) override;

 private:
  TButton close_;
};

class TLabel : public TPaintedControl {
 public:
  // Sized to its text unless a size is given.
  bool Create(HWND parent, int x, int y, const std::string& text, int w = 0, int h = 0);
  void SetColour(COLORREF colour);
  void SetBold(bool bold);
  void SetText(const std::string& text) override;
  void ChangeDpi(int dpi) override;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void Paint(HDC dc) override;
  std::wstring AccessibleName() const override;
  long AccessibleRole() const override;

 private:
  void FitToText();
  bool autoSize_ = true;
  bool bold_ = false;
  COLORREF colour_ = RGB(0, 0, 0);
};

class TSeparator : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w);
  // The line stays two pixels thick at every DPI.
  void ChangeDpi(int dpi) override;

 protected:
  void Paint(HDC dc) override;
};

class TProgressBar : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  void SetRange(int max);
  void SetPosition(int position);
  int Position() const { return position_; }
  int Max() const { return max_; }
  // The text is drawn centred over the bar (window text).
  void SetText(const std::string& text) override;

 protected:
  void Paint(HDC dc) override;
  std::wstring AccessibleName() const override;
  long AccessibleRole() const override;

 private:
  int max_ = 100;
  int position_ = 0;
};

}  // namespace zelt
