// Tracking the tray menu of a window that is hidden most of the time.
#pragma once

#include <windows.h>

#include <functional>

#include "widgets/Application.h"
#include "widgets/Menu.h"

namespace zelt {

// Opens the menu at a screen point, owned by `owner`, and returns the index
// chosen (-1 for none) without running its action. A menu closes on a click
// elsewhere only while its owner is a shown foreground window: a hidden owner
// is shown below the bottom of the screen for the time of the menu, then
// hidden again at its old place. `gone` answers true once the owner has been
// destroyed meanwhile (the pending messages run before the menu opens); the
// owner is not touched again then, and -1 comes back.
int TrackTrayMenu(TApplication& app, HWND owner, TPopupMenu& menu, POINT at, const std::function<bool()>& gone);

}  // namespace zelt
