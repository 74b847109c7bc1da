#include "widgets/Menu.h"

#include "base/Text_win.h"

namespace zelt {

namespace {
constexpr UINT kFirstId = 100;
}

TPopupMenu::TPopupMenu() : menu_(CreatePopupMenu()) {}

int TPopupMenu::AddItem(const std::string& caption, std::function<void()> action) {
  const int index = Count();
  AppendMenuW(menu_.get(), MF_STRING, kFirstId + static_cast<UINT>(index), Widen(caption).c_str());
  actions_.push_back(std::move(action));
  return index;
}

int TPopupMenu::AddSeparator() {
  const int index = Count();
  AppendMenuW(menu_.get(), MF_SEPARATOR, 0, nullptr);
  actions_.emplace_back();
  return index;
}

void TPopupMenu::SetEnabled(int index, bool enabled) {
  EnableMenuItem(menu_.get(), static_cast<UINT>(index), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool TPopupMenu::Enabled(int index) const {
  const UINT state = GetMenuState(menu_.get(), static_cast<UINT>(index), MF_BYPOSITION);
  return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

bool TPopupMenu::IsSeparator(int index) const {
  return (GetMenuState(menu_.get(), static_cast<UINT>(index), MF_BYPOSITION) & MF_SEPARATOR) != 0;
}

int TPopupMenu::Popup(HWND owner, POINT screen) {
  const int index = Track(owner, screen);
  return Choose(index) ? index : -1;
}

int TPopupMenu::Track(HWND owner, POINT screen) {
  if (OnPopup) OnPopup();
  const UINT id = static_cast<UINT>(TrackPopupMenu(menu_.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                                   screen.x, screen.y, 0, owner, nullptr));
  // The menu closes properly only after its owner has seen another message.
  PostMessageW(owner, WM_NULL, 0, 0);
  if (id < kFirstId) return -1;
  return static_cast<int>(id - kFirstId);
}

bool TPopupMenu::Choose(int index) {
  if (index < 0 || index >= Count() || IsSeparator(index) || !Enabled(index)) return false;
  // A copy: the action may change this menu.
  std::function<void()> action = actions_[static_cast<size_t>(index)];
  if (action) action();
  return true;
}

}  // namespace zelt
