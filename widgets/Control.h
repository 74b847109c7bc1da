// The base of every control: bounds at 96 DPI, visibility, enabled state and
// text (cp1251). TPaintedControl is the base of the controls of ours that
// draw themselves.
#pragma once

#include <windows.h>

#include <string>

#include "widgets/Window.h"

namespace zelt {

class TControl : public TWindow {
 public:
  void SetVisible(bool visible);
  bool Visible() const;
  void SetEnabled(bool enabled);
  bool Enabled() const;
  virtual void SetText(const std::string& text);
  std::string Text() const;
  // The name a screen reader gives the control, where its own text does not
  // say what it is (an edit field's label, a list's heading).
  void SetAccessibleName(const std::string& name);
  // The window moved to a monitor of another DPI: the control takes its
  // place, size, font and picture for it.
  virtual void ChangeDpi(int dpi);

 protected:
  // The style every control starts from: a visible child that leaves its
  // siblings' area alone.
  static constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  std::wstring AccessibleName() const override { return accessibleName_; }
  // Where the control stands at 96 DPI, kept for a change of DPI; w and h 0
  // for a control sized to its content.
  void Place96(int x, int y, int w, int h);
  // That place at the current DPI.
  POINT PlacedAt() const;

 private:
  std::wstring accessibleName_;
  RECT bounds96_{};
  bool placed_ = false;
};

// A control that paints all of itself: the background is never erased (the
// paint covers it, so nothing flickers), and WM_PAINT (double-buffered) and
// WM_PRINTCLIENT (a parent or a see-through child asking for a picture) both
// run Paint.
class TPaintedControl : public TControl {
 protected:
  virtual void Paint(HDC dc) = 0;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

}  // namespace zelt
