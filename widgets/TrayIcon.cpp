#include "widgets/TrayIcon.h"

#include <shellapi.h>

#include "base/Text_win.h"

namespace zelt {

namespace {
constexpr UINT kIconId = 1;

UINT TaskbarCreatedMessage() {
  static const UINT msg = RegisterWindowMessageW(L"TaskbarCreated");
  return msg;
}
}  // namespace

TTrayIcon::~TTrayIcon() { Remove(); }

bool TTrayIcon::Notify(DWORD action) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = owner_;
  nid.uID = kIconId;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kCallbackMessage;
  nid.hIcon = icon_;
  const std::wstring tip = Widen(tip_);
  lstrcpynW(nid.szTip, tip.c_str(), static_cast<int>(sizeof(nid.szTip) / sizeof(nid.szTip[0])));
  return Shell_NotifyIconW(action, &nid) != FALSE;
}

bool TTrayIcon::Add(HWND owner, HICON icon, const std::string& tip) {
  owner_ = owner;
  icon_ = icon;
  tip_ = tip;
  TaskbarCreatedMessage();
  // Without a shell (a bare display) the call fails; the icon is added again
  // when a shell announces itself.
  added_ = Notify(NIM_ADD);
  return added_;
}

void TTrayIcon::SetIcon(HICON icon) {
  icon_ = icon;
  if (added_) Notify(NIM_MODIFY);
}

void TTrayIcon::SetTip(const std::string& tip) {
  tip_ = tip;
  if (added_) Notify(NIM_MODIFY);
}

void TTrayIcon::Remove() {
  if (added_) Notify(NIM_DELETE);
  added_ = false;
  owner_ = nullptr;
}

bool TTrayIcon::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (!owner_) return false;
  if (msg == kCallbackMessage && wp == kIconId) {
    if (OnMouse) OnMouse(static_cast<UINT>(LOWORD(lp)));
    return true;
  }
  if (msg == TaskbarCreatedMessage() && msg != 0) {
    // The shell restarted (or started late): its icons are gone.
    added_ = Notify(NIM_ADD);
    return true;
  }
  return false;
}

}  // namespace zelt
