#include "ui/uMainForm.h"

#include <shellapi.h>

#include "base/ProductNames.h"
#include "base/Text_win.h"
#include "core/Traffic.h"
#include "base/uZELTIMessages.h"
#include "ui/uInfoForm.h"
#include "ui/uTrafInfo.h"
#include "ui/uUpdateInfo.h"
#include "ui/LaunchUpdate.h"
#include "ui/TrayMenu.h"
#include "BuildConfig.h"
#include "base/Version.h"
#include "net/UpdateSignature_win.h"
#include "widgets/Accessible.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

TMainForm* MainForm = nullptr;

namespace {
constexpr const char* kProductCaption = build::kProductName;
constexpr int kUnreadImage = 0;
constexpr int kReadImage = 1;
constexpr int kTrayImage = 2;
}  // namespace

TMainForm::TMainForm(TApplication& app, CheckerPortsFactory makePorts, const INotificationState& userState)
    : app_(app) {
  MainForm = this;
  // Owned by the application window, which carries the taskbar entry; still a
  // top-level window, so broadcasts reach it.
  CreateForm("Zelt Rarazovo", "Zelt Rarazovo", kWidth, kHeight, app_.Handle(), TButton::Glyph::Hide, 0,
             kMainWindowClass.Wide);
  CentreOnScreen();
  app_.MainWindow = Handle();
  BuildControls();
  BuildMenus();

  Broadcast(ZELTI_START);
  tray_.SetTip(kProductCaption);
  app_.SetTitle(kProductCaption);
  SetWindowTextW(Handle(), Widen(kProductCaption).c_str());

  CheckerPorts ports = makePorts();
  http_ = ports.Http;
  checker_ = std::make_unique<TChecker>(std::move(ports));
  checker_->OnNetError = [this](const std::string& text, uint16_t code) { HandleNetError(text, code); };
  checker_->OnItem = [this](const TItemData& item) { AddRow(item); };
  checker_->OnStatus = [this](TCheckerStatus status) { HandleStatus(status); };
  quiet_ = std::make_unique<TQuietGate>(userState, app_.CreateTimer(), [this] {
    return TNews{checker_ && checker_->UnreadCount() > 0, checker_ && checker_->UpdateAvailable()};
  });
  quiet_->OnRelease = [this](TNews news) {
    ShowInfo();
    if (news.Messages && checker_ && checker_->Settings().UseSounds) checker_->SelectSound(TSoundEvent::NewMessages);
  };
  checker_->StartPolling();
  network_ = std::make_unique<TNetworkWatch>(app_, [this] {
    if (checker_) checker_->CatchUp();
  });

  // From here the program lives in the tray; the icon shows the envelope.
  // It reaches the shell once, complete: every call makes the shell work.
  if (trayStripIcon_) tray_.SetIcon(trayStripIcon_.get());
  tray_.Add(Handle(), tray_.Icon(), tray_.Tip());
  ShowMain(false);
}

TMainForm::~TMainForm() {
  network_.reset();
  // The application window outlives this one: it must not keep our icons.
  SendMessageW(app_.Handle(), WM_SETICON, ICON_BIG, 0);
  SendMessageW(app_.Handle(), WM_SETICON, ICON_SMALL, 0);
  // Rows point into the Checker's records: they go first.
  if (list_.Handle()) list_.Clear();
  checker_.reset();
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::LoadPictures() {
  const TDpiScope dpi(Dpi());
  HMODULE module = GetModuleHandleW(nullptr);
  // The icon file holds every size from 16 to 64 pixels: each DPI takes its own.
  bigIcon_.reset(static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, Scale(32), Scale(32), 0)));
  smallIcon_.reset(static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, Scale(16), Scale(16), 0)));
  trayResourceIcon_.reset(
      static_cast<HICON>(LoadImageA(module, "ZMAINFORM_TRAYICON", IMAGE_ICON, Scale(16), Scale(16), 0)));
  for (HWND window : {Handle(), app_.Handle()}) {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  }
  TScopedImageList strip(LoadImageStrip("MAINFORM_LVIMAGES", 16, RGB(0, 0, 0)));
  if (!strip) return;
  list_.SetImages(strip.get());
  images_ = std::move(strip);
  trayStripIcon_.reset(ImageListGetIcon(images_.get(), kTrayImage, ILD_TRANSPARENT));
}

void TMainForm::OnDpiChanged() {
  LoadPictures();
  // The old icons are gone: the tray takes the new one of its kind (after
  // start-up the strip's envelope).
  tray_.SetIcon(tray_.Added() && trayStripIcon_ ? trayStripIcon_.get() : trayResourceIcon_.get());
  FitColumns();
}

void TMainForm::BuildControls() {
  title_.Create(Body(), 8, 24, "Последние сообщения на форуме");
  title_.SetColour(palette::kNavy);
  title_.SetBold(true);

  list_.Create(Body(), 8, 40, 601, 209);
  list_.SetAccessibleName(title_.Text());
  LoadPictures();
  list_.AddColumn("Тема", 300);
  list_.AddColumn("Ответы", 40);
  list_.AddColumn("Форум", 150);
  list_.AddColumn("Автор", 50);
  list_.AddColumn("Новых", 50);
  list_.OnDoubleClick = [this] { OpenTopic(); };
  list_.OnColumnClick = [this](int column) { SortBy(column); };
  list_.OnContextMenu = [this](POINT pt) { listMenu_.Popup(Handle(), pt); };

  struct ButtonSpec {
    TButton& button;
    int x, w;
    const char* caption;
    const char* hint;
    const char* picture;
  };
  const ButtonSpec buttons[] = {
      {traffic_, 280, 73, "...", "Трафик", "MAINFORM_ICTRAFFIC"},
      {new_, 360, 73, "...", "Новые сообщения", "MAINFORM_ICNEW"},
      {allRead_, 440, 73, "Все", "Все прочитаны", "MAINFORM_ICALLREADED"},
      {favorites_, 520, 25, "", "Избранные темы", "MAINFORM_ICFAVORITES"},
      {settings_, 552, 25, "", "Настройки", "MAINFORM_ICCONFIG"},
      {refresh_, 584, 24, "", "Обновить", "MAINFORM_ICREFRESH"},
  };
  for (const ButtonSpec& b : buttons) {
    b.button.Create(Body(), b.x, 256, b.w, 24, b.caption);
    b.button.SetPicture(b.picture, 16);
    b.button.SetHint(b.hint);
  }
  traffic_.OnClick = [this] { ShowTrafficDialog(); };
  new_.OnClick = [this] { ShowInfo(); };
  allRead_.OnClick = [this] { MarkAllRead(); };
  favorites_.OnClick = [this] { ShowDialog(dkFavorites); };
  settings_.OnClick = [this] { ShowDialog(dkSettings); };
  refresh_.OnClick = [this] {
    if (checker_) checker_->StartPolling();
  };

  status_.Create(Body(), 8, 260, "   ...   ");
  status_.SetColour(palette::kGrey);

  // The tray starts with its own icon and shows the strip's envelope once
  // the window is ready.
  tray_.OnMouse = [this](UINT mouse) { HandleTrayMouse(mouse); };
  tray_.SetIcon(trayResourceIcon_.get());
}

void TMainForm::BuildMenus() {
  trayMenu_.AddItem("Настройки", [this] { ShowDialog(dkSettings); });
  trayMenu_.AddSeparator();
  trayMenu_.AddItem("Справка", [this] { OpenHelp(); });
  trayMenu_.AddItem("О программе", [this] { ShowDialog(dkAbout); });
  trayMenu_.AddSeparator();
  trayMenu_.AddItem("Выход", [this] { PostMessageW(Handle(), WM_CLOSE, 0, 0); });

  listMenu_.AddItem("В избранные темы", [this] {
    const int row = list_.Selected();
    const auto* item = row >= 0 ? static_cast<const TItemData*>(list_.Data(row)) : nullptr;
    if (item && checker_) checker_->AddFavorite(*item);
  });
  listMenu_.OnPopup = [this] { listMenu_.SetEnabled(0, list_.Selected() >= 0); };
}

// --- showing and hiding ---

void TMainForm::ShowMain(bool visible) {
  if (visible) {
    FollowMonitorDpi();
    ShowWindow(app_.Handle(), SW_SHOWNOACTIVATE);  // the taskbar entry
    ShowWindow(Handle(), SW_SHOW);
    SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Handle());
    return;
  }
  ShowWindow(Handle(), SW_HIDE);
  ShowWindow(app_.Handle(), SW_HIDE);
  if (InfoForm && InfoForm->Visible()) InfoForm->Hide();
}

void TMainForm::ShowFromTray() {
  FollowMonitorDpi();
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(list_.Handle());
  SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void TMainForm::ShowInfo() {
  if (!InfoForm || !checker_) return;
  const int32_t unread = checker_->UnreadCount();
  InfoForm->SetMessage(unread > 0 ? std::to_string(unread) + " тем обновлено" : "Новых сообщений нет");
  InfoForm->SetUpdateAvailable(checker_->UpdateAvailable());
  InfoForm->MoveToCorner();
  SetWindowPos(InfoForm->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  InfoForm->Show(true);
  SetFocus(InfoForm->Handle());
  AnnounceAlert(InfoForm->Handle());
  if (checker_->Settings().ShowOnNew) ShowMain(true);
}

// --- the topic list ---

void TMainForm::AddRow(const TItemData& item) {
  // The row only observes the record; the checker changes it.
  const int row = list_.AddRow(item.Title, item.Read ? kReadImage : kUnreadImage, const_cast<TItemData*>(&item));
  list_.SetCell(row, 1, item.Replies);
  list_.SetCell(row, 2, item.Forum);
  list_.SetCell(row, 3, item.Author);
  list_.SetCell(row, 4, std::to_string(item.NewCount));
}

void TMainForm::FitColumns() {
  static constexpr int kWidths[] = {52, 150, 60, 50};
  int sum = 0;
  for (int i = 1; i <= 4; ++i) list_.SetColumnWidth(i, kWidths[i - 1]);
  for (int i = 1; i <= 4; ++i) sum += list_.ColumnWidthPx(i);
  // The client width leaves out a vertical scroll bar: the topic column gives way.
  list_.SetColumnWidthPx(0, list_.ClientWidthPx() - sum);
  list_.SetColumnAlign(1, LVCFMT_CENTER);
  list_.SetColumnAlign(4, LVCFMT_CENTER);
}

void TMainForm::SortBy(int column) {
  sortOrder_ = sortOrder_ == TListView::SortOrder::Ascending ? TListView::SortOrder::Descending
                                                              : TListView::SortOrder::Ascending;
  list_.SortByColumn(column, sortOrder_);
}

void TMainForm::OpenTopic() {
  const int row = list_.Selected();
  const auto* item = row >= 0 ? static_cast<const TItemData*>(list_.Data(row)) : nullptr;
  if (!item || !checker_) return;
  const bool countedDown = checker_->MarkRead(*item);
  // Only a forum link goes to the shell: a damaged or hostile one opens nothing.
  if (IsForumLink(item->OpenLink)) Desktop().Open(Handle(), item->OpenLink);
  list_.SetImage(row, kReadImage);
  if (countedDown) {
    const std::string count = std::to_string(checker_->UnreadCount());
    list_.SetCell(row, 4, "0");
    if (InfoForm) InfoForm->SetMessage(count + " новых сообщений");
    new_.SetText(count);
  }
}

void TMainForm::MarkAllRead() {
  if (!checker_) return;
  std::vector<const TItemData*> rows;
  for (int row = 0; row < list_.Count(); ++row) rows.push_back(static_cast<const TItemData*>(list_.Data(row)));
  checker_->MarkAllRead(rows);
  for (int row = 0; row < list_.Count(); ++row) {
    list_.SetImage(row, kReadImage);
    list_.SetCell(row, 4, "0");
  }
  if (InfoForm) {
    InfoForm->SetMessage("0 новых сообщений");
    InfoForm->Show(checker_->UnreadCount() != 0);
  }
  new_.SetText("0");
}

void TMainForm::OpenHelp() {
  if (!checker_) return;
  // The program's directory already ends in a backslash.
  Desktop().OpenFile(Handle(), (checker_->ProgramDir() / L"Help" / L"Zelt Rarazovo.chm").wstring());
}

TUpdateEnv TMainForm::UpdateEnv() {
  return TUpdateEnv{*checker_, *http_, app_, build::kUpdateUrl, [this] { ShowDialog(dkDownload); },
                    [this](const std::filesystem::path& patch) { LaunchUpdate(patch); },
                    UpdateKeyFromHex(build::kUpdateKeyHex)};
}

void TMainForm::LaunchUpdate(const std::filesystem::path& patch) {
  if (checker_) zelt::LaunchUpdate(app_, patch, checker_->ProgramDir());
}

// --- the Checker's reports ---

void TMainForm::Repaint() {
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TMainForm::HandleStatus(TCheckerStatus status) {
  using enum TCheckerStatus;
  const bool sounds = checker_ && checker_->Settings().UseSounds;
  switch (status) {
    case csRequestSent:
      status_.SetText("Обновляю информацию...");
      break;
    case csListCleared:
      list_.Clear();
      break;
    case csNewMessages:
      if (!quiet_->Admit({.Messages = true})) break;
      ShowInfo();
      if (sounds) checker_->SelectSound(TSoundEvent::NewMessages);
      break;
    case csNewVersion: {
      // While the user presents the status line still tells; the sound is
      // not played later.
      const bool now = quiet_->Admit({.Version = true});
      if (now && sounds) checker_->SelectSound(TSoundEvent::NewVersion);
      status_.SetText("Выпущена новая версия!");
      if (now) ShowInfo();
      break;
    }
    case csDone:
      status_.SetText("Обновлено");
      if (checker_) new_.SetText(std::to_string(checker_->UnreadCount()));
      SetTrafficCaption();
      if (TTrafInfo* traffic = TrafficWindow()) traffic->Refresh();
      FitColumns();
      quiet_->Recheck();  // a popup that waited, if the user is free now
      break;
  }
  Repaint();
}

void TMainForm::HandleNetError(const std::string& text, uint16_t) {
  // One error sound per outage: the failures after it, and those a catch-up
  // poll is about to answer, only show in the status line.
  // Nor while the user presents: it is not played later.
  if (checker_ && checker_->Settings().UseSounds && !checker_->QuietError() && quiet_->SoundAllowed())
    checker_->SelectSound(TSoundEvent::Error);
  status_.SetText(text);
  Repaint();
}

void TMainForm::HandlePower(WPARAM event) {
  if (!checker_) return;
  switch (event) {
    case PBT_APMSUSPEND:
      checker_->Suspend();
      break;
    case PBT_APMRESUMEAUTOMATIC:  // every resume, with or without a user
    case PBT_APMRESUMESUSPEND:    // the user is back: a second report of the same resume
      checker_->CatchUp();
      break;
    default:
      break;
  }
}

// --- tray ---

void TMainForm::HandleTrayMouse(UINT mouse) {
  switch (mouse) {
    case WM_LBUTTONUP:
      ShowFromTray();
      break;
    case WM_RBUTTONUP:
      PopupTrayMenu();
      break;
    default:
      break;  // moves, presses, double-clicks, the middle button
  }
}

void TMainForm::PopupTrayMenu() {
  POINT pt;
  GetCursorPos(&pt);
  trayMenu_.Choose(TrackTrayMenu(app_, Handle(), trayMenu_, pt, [this] { return closed_; }));
}

// --- keys ---

bool TMainForm::OnKeyUp(UINT vk) {
  switch (vk) {
    case VK_F1:
      OpenHelp();
      return true;
    case VK_F3:
      ShowTrafficDialog();
      return true;
    case VK_F5:
      if (checker_) checker_->StartPolling();
      return true;
    case VK_F7:
      ShowDialog(dkSettings);
      return true;
    case VK_F9:
      MarkAllRead();
      return true;
    case VK_ESCAPE:
      ShowMain(false);
      return true;
    default:
      return false;
  }
}

LRESULT TMainForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg >= 0xC000 && HookInstanceMessage(msg)) return 0;
  if (tray_.HandleMessage(msg, wp, lp)) return 0;
  switch (msg) {
    case WM_CLOSE:
      CloseRequested();
      return 0;
    case WM_SYSCOMMAND:
      // Alt+F4 puts the window away as Esc does; only "Выход" and
      // "ZELTI_HALT" end the program.
      if ((wp & 0xFFF0) == SC_CLOSE) {
        ShowMain(false);
        return 0;
      }
      break;
    case WM_POWERBROADCAST:
      HandlePower(wp);
      return TRUE;
    case WM_SHOWWINDOW:
      if (wp) FitColumns();
      break;
    case WM_TIMER:
      if (wp == kHereTimer) {
        AnswerPendingFind();
        return 0;
      }
      break;
    case WM_DESTROY:
      if (app_.MainWindow == Handle()) app_.MainWindow = nullptr;
      tray_.Remove();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return TForm::OnMessage(msg, wp, lp);
}

}  // namespace zelt
