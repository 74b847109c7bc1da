// A one-line edit field of the settings-style windows: a filter that sees
// each typed character before the field takes it, and a change event for
// the user's edits (typing, deleting, pasting), not the program's SetText.
// Position and size at 96 DPI; the text is cp1251.
//
//   edit_.Create(Body(), 48, 40, 57);
//   edit_.OnKeyPress = [](char c) { return c >= '0' && c <= '9' || c == 8; };
//   edit_.OnChange = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "widgets/Control.h"

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

}  // namespace zelt
