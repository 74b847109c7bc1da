// A progress bar with its text drawn over it: the bytes received of a
// download. Position and size at 96 DPI; the text is cp1251.
//
//   progress_.Create(Body(), 8, 24, 297, 25);  progress_.SetRange(100);
//   progress_.SetPosition(40);  progress_.SetText("4 KB");
#pragma once

#include <windows.h>

#include <string>

#include "widgets/Control.h"

namespace zelt {

class TProgressBar : public TPaintedControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  void SetRange(int max);
  void SetPosition(int position);
  int Position() const { return position_; }
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
