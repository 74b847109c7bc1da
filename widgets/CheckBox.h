// The platform's check box and radio button on a gradient panel: each fills
// its background with a picture of the panel behind it, so it looks
// see-through. Position and size at 96 DPI; captions are cp1251.
//
//   TCheckBox      a check box, sized to its caption unless a size is given
//   TChoiceButton  a radio button with a coloured caption; the arrow keys
//                  move to the enabled choice beside it and choose it, the
//                  window keeps the choices exclusive itself
//
//   box_.Create(Body(), 8, 40, "Звуки");  box_.OnClick = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/ScopedWin.h"
#include "widgets/Control.h"

namespace zelt {

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

class TChoiceButton final : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h, const std::string& caption);
  bool Checked() const;
  void SetChecked(bool checked);
  void SetColour(COLORREF colour) { colour_ = colour; }

  // The user chose this button (a click, a double click, an arrow key).
  std::function<void()> OnClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  TChoiceButton* Neighbour(bool forward) const;
  TScopedBrush background_;
  COLORREF colour_ = RGB(0, 0, 0);
};

}  // namespace zelt
