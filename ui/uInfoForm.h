// The popup information window: a small borderless window shown above all
// others at the bottom-right corner of the work area to announce a poll's
// result. The main window makes it hidden at start-up and keeps it until the
// program ends; it is filled and placed by the main window's ShowInfo.
#pragma once

#include <functional>
#include <string>

#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/Label.h"

namespace zelt {

class TInfoForm final : public TForm {
 public:
  static constexpr int kWidth = 175;
  static constexpr int kHeight = 101;
  // Edges closer than this to the work area's edges snap to them.
  static constexpr int kSnapDistance = 10;

  // "Читать" calls `onRead` and sends the popup away; the update button
  // calls `onUpdate`.
  TInfoForm(HWND owner, std::function<void()> onRead, std::function<void()> onUpdate);

  void SetMessage(const std::string& text) { message_.SetText(text); }
  std::string Message() const { return message_.Text(); }
  // Exactly one of the update / no-update buttons is visible.
  void SetUpdateAvailable(bool available);
  void Hide() { Show(false); }
  // Puts the popup at the work area's bottom-right corner, at the DPI of
  // that monitor: its right and bottom edges are the work area's.
  void MoveToCorner();

  TButton& ReadButton() { return read_; }
  TButton& UpdateButton() { return update_; }
  TButton& NoUpdateButton() { return noUpdate_; }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  // A screen reader reads the popup as an alert with its message.
  std::wstring AccessibleName() const override;
  long AccessibleRole() const override;

 private:
  void SnapToWorkArea(WINDOWPOS& pos) const;
  std::function<void()> onRead_, onUpdate_;
  TLabel message_;
  TButton read_, update_, noUpdate_;
};

}  // namespace zelt
