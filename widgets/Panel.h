// The painted surfaces a form is made of. Positions and sizes are at 96 DPI
// (they pass through Scale()); texts are cp1251.
//
//   TPanel        gradient background that fills a form; controls sit on it
//   THeaderStrip  the 17-pixel title strip: title text, drag to move the
//                 window, a caption-less close/hide button at its right end
//   TSeparator    an etched horizontal line
#pragma once

#include <windows.h>

#include <string>

#include "widgets/Button.h"
#include "widgets/Control.h"

namespace zelt {

class TPanel : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  // A one-pixel frame along the edges (a borderless window's outline).
  void SetFrame(bool on) { frame_ = on; }

 protected:
  void Paint(HDC dc) override;

 private:
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

class TSeparator : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w);
  // The line stays two pixels thick at every DPI.
  void ChangeDpi(int dpi) override;

 protected:
  void Paint(HDC dc) override;
};

}  // namespace zelt
