// The notification-area icon of a window: identified by window and id (not a
// GUID, which would bind it to the executable's path), with a tooltip and a
// callback message. The owner passes its messages to HandleMessage, which
// reports mouse events and re-adds the icon when the shell restarts
// ("TaskbarCreated").
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zelt {

class TTrayIcon {
 public:
  static constexpr UINT kCallbackMessage = WM_APP + 40;

  TTrayIcon() = default;
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Adds the icon for `owner`; the icon handle stays the caller's.
  bool Add(HWND owner, HICON icon, const std::string& tip);
  // Before Add these only set what Add will show.
  void SetIcon(HICON icon);
  void SetTip(const std::string& tip);
  void Remove();
  bool Added() const { return added_; }
  HICON Icon() const { return icon_; }
  const std::string& Tip() const { return tip_; }

  // Mouse events on the icon (WM_LBUTTONUP, WM_RBUTTONUP, ...).
  std::function<void(UINT mouseMessage)> OnMouse;
  // True when the message was the icon's (and has been handled).
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

 private:
  bool Notify(DWORD action);
  HWND owner_ = nullptr;
  HICON icon_ = nullptr;
  std::string tip_;
  bool added_ = false;
};

}  // namespace zelt
