#include "ui/TrayMenu.h"

#include "widgets/Dpi.h"

namespace zelt {

int TrackTrayMenu(TApplication& app, HWND owner, TPopupMenu& menu, POINT at, const std::function<bool()>& gone) {
  const bool hidden = !IsWindowVisible(owner);
  RECT old;
  GetWindowRect(owner, &old);
  if (hidden) {
    SetWindowPos(owner, nullptr, old.left, GetSystemMetrics(SM_CYSCREEN) + Scale(50), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(owner, SW_SHOW);
    app.ProcessMessages();
    if (gone()) return -1;
  }
  SetForegroundWindow(owner);
  const int chosen = menu.Track(owner, at);
  if (gone()) return -1;
  if (hidden) {
    ShowWindow(owner, SW_HIDE);
    SetWindowPos(owner, nullptr, old.left, old.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return chosen;
}

}  // namespace zelt
