// The main window: a borderless window that is hidden most of the time. It
// lists the topics of the last reply, answers the instance messages, owns the
// Checker, the tray icon and both menus, reacts to every report of a poll, and
// is the place every side window is opened from.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/QuietGate.h"
#include "core/uChecker.h"
#include "ui/SideWindows.h"
#include "widgets/Application.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/Label.h"
#include "widgets/ListView.h"
#include "widgets/Menu.h"
#include "base/ScopedWin.h"
#include "widgets/TrayIcon.h"
#include "net/NetworkChange_win.h"

namespace zelt {

class TTrafInfo;
struct TUpdateEnv;

// Builds the Checker's ports: the platform's in the program, fakes in tests.
using CheckerPortsFactory = std::function<CheckerPorts()>;

class TMainForm final : public TForm {
 public:
  static constexpr int kWidth = 617;
  static constexpr int kHeight = 284;
  // Side window kinds for ShowDialog.
  using enum TDialogKind;
  // Tray menu items, by index (separators counted).
  enum TrayItem { tiSettings = 0, tiHelp = 2, tiAbout = 3, tiExit = 5 };

  // The Checker is made over the ports the factory gives: the platform's in
  // the program (made by the entry sequence), fakes in tests. While
  // `userState` says the user is busy, the popup and the sounds wait.
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
  void ShowDialog(int kind);
  void CloseDialogs();
  void FitColumns();
  void AddRow(const TItemData& item);
  void OpenTopic();
  void MarkAllRead();
  void OpenHelp();
  // Starts the patch staged at `patch` on the program's folder.
  void LaunchUpdate(const std::filesystem::path& patch);

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
  TListView& TopicList() { return list_; }
  TLabel& StatusLine() { return status_; }
  TLabel& TitleLabel() { return title_; }
  TButton& TrafficButton() { return traffic_; }
  TButton& NewButton() { return new_; }
  TButton& AllReadButton() { return allRead_; }
  TButton& FavoritesButton() { return favorites_; }
  TButton& SettingsButton() { return settings_; }
  TButton& RefreshButton() { return refresh_; }
  TPopupMenu& TrayMenu() { return trayMenu_; }
  TPopupMenu& ListMenu() { return listMenu_; }
  TTrayIcon& Tray() { return tray_; }
  // The open traffic window, if any.
  TTrafInfo* TrafficWindow() const;
  TForm* Dialog(int kind) const;

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
  // Reacts to the instance messages; true when the message counts as handled.
  bool HookInstanceMessage(UINT msg);
  // Broadcasts HERE unless one went out less than a second ago; true when sent.
  bool AnswerFind();
  // The deferred answer to a FIND that came within that second.
  void AnswerPendingFind();
  // A close request ("Выход", "ZELTI_HALT"): ends the program, once the side
  // windows have closed.
  void CloseRequested();
  void CloseSequence();
  void ShowTrafficDialog();
  void SetTrafficCaption();
  void SortBy(int column);
  void PopupTrayMenu();
  void Repaint();
  std::unique_ptr<TForm> MakeDialog(TDialogKind kind);
  TUpdateEnv UpdateEnv();

  TApplication& app_;
  // The Checker's transport, shared by the update windows.
  std::optional<SharedTransport> http_;
  // When ZELTI_FIND was last answered.
  std::optional<std::chrono::steady_clock::time_point> lastHere_;
  bool herePending_ = false;
  static constexpr UINT_PTR kHereTimer = 0x5A48;
  TLabel title_, status_;
  TListView list_;
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
  bool closePending_ = false;
  bool closed_ = false;
};

// The one main window, while it exists.
extern TMainForm* MainForm;

}  // namespace zelt
