// Texts on a form's panel, see-through, in the interface font. Positions at
// 96 DPI; texts are cp1251.
//
//   TLabel      a text, sized to it unless a size is given; colour, bold
//   TLinkLabel  a text that acts like a link: hand cursor, underlined while
//               the mouse is over it, a click event (mouse, Enter or Space)
//
//   label_.Create(Body(), 8, 24, "Text");  label_.SetColour(palette::kNavy);
//   link_.Create(Body(), 8, 40, "(изменить)");  link_.OnClick = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/ScopedWin.h"
#include "widgets/Control.h"

namespace zelt {

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

class TLinkLabel : public TPaintedControl {
 public:
  // Sized to its text.
  bool Create(HWND parent, int x, int y, const std::string& text);
  void SetColour(COLORREF colour);
  void SetText(const std::string& text) override;
  // True while the mouse is over the label: the text is then underlined.
  bool Underlined() const { return hot_; }
  void ChangeDpi(int dpi) override;

  std::function<void()> OnClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void Paint(HDC dc) override;
  std::wstring AccessibleName() const override;
  long AccessibleRole() const override;

 private:
  void FitToText();
  void MakeFont();
  void SetHot(bool hot);
  TScopedFont underlined_;
  COLORREF colour_ = RGB(0, 0, 128);
  bool hot_ = false;
  bool pressed_ = false;
};

}  // namespace zelt
