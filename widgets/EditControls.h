// Input controls of the settings-style windows. Positions and sizes are at
// 96 DPI; texts are cp1251.
//
//   TEdit       a one-line edit field: a filter that sees each typed character
//               before the field takes it, and a change event for the user's
//               edits (typing, deleting, pasting), not the program's SetText
//   TCheckBox   a check box on a gradient panel, sized to its caption
//   TLinkLabel  a text that acts like a link: hand cursor, underlined while
//               the mouse is over it, a click event
//
//   edit_.Create(Body(), 48, 40, 57);
//   edit_.OnKeyPress = [](char c) { return c >= '0' && c <= '9' || c == 8; };
//   edit_.OnChange = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "widgets/Controls.h"
#include "base/ScopedWin.h"

namespace zelt {

class TEdit : public TControl {
 public:
  static constexpr int kHeight = 22;
  bool Create(HWND parent, int x, int y, int w, int h = kHeight, bool password = false);
  // Sets the text without raising OnChange: only the user's edits do.
  void SetText(const std::string& text) override;
  void SelectAll();
  void SetSelection(int start, int end);
  // Start and end of the selection, in characters.
  void GetSelection(int& start, int& end) const;
  bool IsPassword() const;
  void ChangeDpi(int dpi) override;

  // A character typed into the field (cp1251; 8 is Backspace, other control
  // characters are the Ctrl shortcuts), before the field takes it. Returning
  // false drops it. Unset: every character is taken.
  std::function<bool(char ch)> OnKeyPress;
  // The user changed the text.
  std::function<void()> OnChange;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  int quiet_ = 0;  // > 0 while the program itself changes the text
};

class TCheckBox : public TControl {
 public:
  // Sized to its caption unless a size is given.
  bool Create(HWND parent, int x, int y, const std::string& caption, int w = 0, int h = 0);
  bool Checked() const;
  void SetChecked(bool checked);
  void ChangeDpi(int dpi) override;

  // The user toggled the box.
  std::function<void()> OnClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void FitToCaption();
  // The panel's picture behind the box, as a brush the control fills with.
  TScopedBrush background_;
  bool autoSize_ = false;
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
