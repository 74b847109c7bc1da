// The main window: a borderless window that is hidden most of the time. It
// lists the topics of the last reply, answers the instance messages, owns the
// Checker, the popup, the tray icon and both menus, reacts to every report of
// a poll, and is the place every side window is opened from (by kind, through
// the window table).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/ScopedWin.h"
#include "core/QuietGate.h"
#include "core/uChecker.h"
#include "net/NetworkChange_win.h"
#include "ui/PeerAnswer.h"
#include "ui/SideWindows.h"
#include "ui/WindowContext.h"
#include "ui/uInfoForm.h"
#include "widgets/Application.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/Label.h"
#include "widgets/ListView.h"
#include "widgets/Menu.h"
#include "widgets/TrayIcon.h"

namespace zelt {

class TTrafInfo;

// Builds the Checker's ports: the platform's in the program, fakes in tests.
using CheckerPortsFactory = std::function<CheckerPorts()>;

// The topic list's columns, in their order.
enum class TTopicColumn { Title, Replies, Forum, Author, New };

class TMainForm final : public TForm {
 public:
  static constexpr int kWidth = 617;
  static constexpr int kHeight = 284;
  // "Выход" in the tray menu, by index (separators counted).
  static constexpr int kExitItem = 5;

  // The Checker is made over the ports the factory gives: the platform's in
  // the program (made by the entry sequence), fakes in tests. While
  // `userState` says the user is busy, the popup and the sounds wait. The
  // popup is made last, hidden.
  TMainForm(TApplication& app, CheckerPortsFactory makePorts, const INotificationState& userState);
  ~TMainForm() override;

  // Shows or hides the main window and the application's taskbar entry;
  // hiding also hides the popup.
  void ShowMain(bool visible);
  // Shows the window alone (the taskbar entry keeps its state), in front and
  // with the keyboard focus: the tray icon's left click and the popup's "Читать".
  void ShowFromTray();
  // Fills, places and shows the popup.
  void ShowInfo();
  // Opens a side window modally; returns when it has closed.
  void ShowDialog(TDialogKind kind);
  void CloseDialogs();
  void FitColumns();
  void AddRow(const TItemData& item);
  void OpenTopic();
  void MarkAllRead();
  void OpenHelp();

  // Number of ShowDialog calls under way.
  int32_t ModalDepth = 0;

  // The Checker's reports.
  void HandleStatus(TCheckerStatus status);
  void HandleNetError(const std::string& text, uint16_t code);
  // Mouse events on the tray icon.
  void HandleTrayMouse(UINT mouseMessage);
  // The machine goes to sleep or wakes up (WM_POWERBROADCAST).
  void HandlePower(WPARAM event);

  // The checker, until the close sequence frees it.
  TChecker* Checker() const { return checker_.get(); }
  TInfoForm& Popup() { return *info_; }
  TListView& TopicList() { return list_; }
  TLabel& StatusLine() { return status_; }
  TButton& TrafficButton() { return traffic_; }
  TButton& NewButton() { return new_; }
  TButton& AllReadButton() { return allRead_; }
  TButton& RefreshButton() { return refresh_; }
  TPopupMenu& TrayMenu() { return trayMenu_; }
  TPopupMenu& ListMenu() { return listMenu_; }
  TTrayIcon& Tray() { return tray_; }
  // The open traffic window, if any.
  TTrafInfo* TrafficWindow() const;
  TForm* Dialog(TDialogKind kind) const { return dialogs_.Get(kind); }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnKeyUp(UINT vk) override;
  void OnEscape() override { ShowMain(false); }
  // The list's pictures, the tray icon and the window icons for the new DPI.
  void OnDpiChanged() override;
  void OnCloseButton() override { ShowMain(false); }
  void Close() override {}  // the main window is only hidden or ended, never "closed" as a side window

 private:
  void BuildControls();
  // The window icons and the list's image strip (whose third picture is the
  // tray icon) drawn for the window's DPI.
  void LoadPictures();
  void BuildMenus();
  // A close request ("Выход", "ZELTI_HALT"): ends the program, once the side
  // windows have closed.
  void CloseRequested();
  void CloseSequence();
  void SetTrafficCaption();
  void SortBy(TTopicColumn column);
  void PopupTrayMenu();
  void Repaint();
  std::unique_ptr<TForm> MakeDialog(TDialogKind kind);

  TApplication& app_;
  // The Checker's transport, shared by the update windows.
  std::optional<SharedTransport> http_;
  // The package the last "Загрузить" chose, for the download window.
  TUpdateChoice updateChoice_ = TUpdateChoice::Patch;
  TPeerAnswer peers_{*this};
  TLabel title_, status_;
  TListOf<TItemData> list_;
  TButton traffic_, new_, allRead_, favorites_, settings_, refresh_;
  TScopedImageList images_;
  TScopedIcon trayResourceIcon_, trayStripIcon_, bigIcon_, smallIcon_;
  TTrayIcon tray_;
  TPopupMenu trayMenu_, listMenu_;
  TListView::SortOrder sortOrder_ = TListView::SortOrder::None;
  TSideWindows dialogs_{[this](TDialogKind kind) { return MakeDialog(kind); }};
  std::unique_ptr<TChecker> checker_;
  // Holds the popup and the sounds back while the user presents.
  std::unique_ptr<TQuietGate> quiet_;
  // Tells the Checker when the machine regains a network.
  std::unique_ptr<TNetworkWatch> network_;
  std::unique_ptr<TInfoForm> info_;
  bool closePending_ = false;
  bool closed_ = false;
};

}  // namespace zelt
