// The main window: a borderless window that is hidden most of the time. It
// answers the instance messages, owns the Checker and the tray icon, and is
// the place every side window is opened from.
#pragma once

#include <memory>

#include "widgets/Application.h"
#include "widgets/Window.h"

namespace zelt {

class TMainForm final : public TWindow {
 public:
  explicit TMainForm(TApplication& app);
  ~TMainForm() override;

  // Shows or hides the main window and the application's taskbar entry.
  void ShowMain(bool visible);

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // Reacts to the instance messages; true when the message counts as handled.
  bool HookInstanceMessage(UINT msg);
  void CloseSequence();

  TApplication& app_;
};

// The one main window, while it exists.
extern TMainForm* MainForm;

}  // namespace zelt
