// The composition root: the platform's side of every port, made once by the
// entry sequence and handed to the Checker (through the main window) and to
// the update windows. It outlives the main window.
#pragma once

#include <memory>

#include "app/WinPorts_win.h"
#include "core/uChecker.h"
#include "media/SoundPlayer.h"
#include "net/WinInetTransport_win.h"
#include "widgets/Application.h"

namespace zelt {

class TPlatform {
 public:
  // Binds the sound player's MCI notices to the application's queue window.
  explicit TPlatform(TApplication& app);
  ~TPlatform();
  TPlatform(const TPlatform&) = delete;
  TPlatform& operator=(const TPlatform&) = delete;

  // The Checker's ports over WinInet, the current user's registry values, MCI
  // and the local clock, for the program in its own folder.
  CheckerPorts MakeCheckerPorts();
  // Whether the user presents or plays full-screen: the main window holds
  // its popup and sounds back meanwhile.
  const INotificationState& UserState() const { return userState_; }

 private:
  TApplication& app_;
  // Shared with every request: one left behind at exit keeps it until it ends.
  std::shared_ptr<WinInetTransport> http_ = std::make_shared<WinInetTransport>();
  WinRegistry registry_;
  TSoundPlayer sound_;
  WinClock clock_;
  WinNotificationState userState_;
};

}  // namespace zelt
