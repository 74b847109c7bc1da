// A popup menu: items with actions, separators, enabled state. Popup() tracks
// it at a screen point and runs the chosen item's action after the menu has
// closed, so an action may open a modal window or close the owner.
//
//   menu_.AddItem("Settings", [this] { ... });  menu_.AddSeparator();
//   menu_.SetEnabled(5, false);  menu_.Popup(owner, pt);
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/ScopedWin.h"

namespace zelt {

class TPopupMenu {
 public:
  TPopupMenu();
  TPopupMenu(const TPopupMenu&) = delete;
  TPopupMenu& operator=(const TPopupMenu&) = delete;

  HMENU Handle() const { return menu_.get(); }
  // Indexes count the separators.
  int AddItem(const std::string& caption, std::function<void()> action);
  int AddSeparator();
  int Count() const { return static_cast<int>(actions_.size()); }
  void SetEnabled(int index, bool enabled);
  bool Enabled(int index) const;
  bool IsSeparator(int index) const;

  // Runs before the menu opens (to update enabled states).
  std::function<void()> OnPopup;
  // Shows the menu at a screen point, owned by `owner`; returns the index of
  // the item chosen (its action has run by then), or -1.
  int Popup(HWND owner, POINT screen);
  // The same without running the action: the caller runs Choose() when ready.
  int Track(HWND owner, POINT screen);
  // Runs an item's action as a choice from the menu would; nothing for a
  // disabled item or a separator.
  bool Choose(int index);

 private:
  TScopedMenu menu_;
  std::vector<std::function<void()>> actions_;
};

}  // namespace zelt
