#include "ui/uMainForm.h"

#include <shellapi.h>

#include "BuildConfig.h"
#include "base/ProductNames.h"
#include "base/Text_win.h"
#include "base/uZELTIMessages.h"
#include "core/Traffic.h"
#include "net/UpdateSignature_win.h"
#include "ui/TrayMenu.h"
#include "ui/WindowTable.h"
#include "ui/uTrafInfo.h"
#include "widgets/Accessible.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

constexpr const char* kProductCaption = build::kProductName;
constexpr int kUnreadImage = 0;
constexpr int kReadImage = 1;
constexpr int kTrayImage = 2;

// The topic list's columns, in TTopicColumn's order.
constexpr TListColumn kTopicColumns[] = {
    {"Тема", 300, 0}, {"Ответы", 40, 52, true}, {"Форум", 150, 150}, {"Автор", 50, 60}, {"Новых", 50, 50, true}};

std::string TopicCell(const TItemData& item, TTopicColumn column) {
  switch (column) {
    case TTopicColumn::Title:
      return item.Title;
    case TTopicColumn::Replies:
      return item.Replies;
    case TTopicColumn::Forum:
      return item.Forum;
    case TTopicColumn::Author:
      return item.Author;
    case TTopicColumn::New:
      return std::to_string(item.NewCount);
  }
  return {};
}

constexpr int Index(TTopicColumn column) { return static_cast<int>(column); }

}  // namespace

TMainForm::TMainForm(TApplication& app, CheckerPortsFactory makePorts, const INotificationState& userState)
    : app_(app) {
  // The first request goes out before the window is built: at the start the
  // user waits for the news, not for the window; its events wait in the
  // queue until the message loop runs.
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

  // Owned by the application window, which carries the taskbar entry; still a
  // top-level window, so broadcasts reach it.
  CreateForm("Zelt Rarazovo", "Zelt Rarazovo", kWidth, kHeight, app_.Owner(), TButton::Glyph::Hide, 0,
             kMainWindowClass.Wide);
  CentreOnScreen();
  app_.MainWindow = Handle();

  BuildControls();
  BuildMenus();
  // The status line the first request set before the line was there.
  if (checker_->Request().Pending()) HandleStatus(TCheckerStatus::csRequestSent);
  Broadcast(ZELTI_START);
  tray_.SetTip(kProductCaption);
  app_.SetTitle(kProductCaption);
  SetWindowTextW(Handle(), Widen(kProductCaption).c_str());

  // From here the program lives in the tray; the icon shows the envelope.
  // It reaches the shell once, complete: every call makes the shell work.
  if (trayStripIcon_) tray_.SetIcon(trayStripIcon_.get());
  tray_.Add(Handle(), tray_.Icon(), tray_.Tip());
  ShowMain(false);

  // A tool window of the application window, hidden until there is news.
  info_ = std::make_unique<TInfoForm>(
      app_.Owner(), [this] { ShowFromTray(); }, [this] { ShowDialog(TDialogKind::UpdateInfo); });
  // Last: its system libraries would load while the first request loads its own.
  network_ = std::make_unique<TNetworkWatch>(app_, [this] {
    if (checker_) checker_->CatchUp();
  });
}

TMainForm::~TMainForm() {
  network_.reset();
  // The application window outlives this one: it must not keep our icons.
  // (Handle, not Owner: going away makes no window.)
  SendMessageW(app_.Handle(), WM_SETICON, ICON_BIG, 0);
  SendMessageW(app_.Handle(), WM_SETICON, ICON_SMALL, 0);
  info_.reset();
  // Rows point into the Checker's records: they go first.
  if (list_.Handle()) list_.Clear();
  checker_.reset();
}

void TMainForm::LoadPictures() {
  const TDpiScope dpi(Dpi());
  HMODULE module = GetModuleHandleW(nullptr);
  // The icon file holds every size from 16 to 64 pixels: each DPI takes its own.
  bigIcon_.reset(static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, Scale(32), Scale(32), 0)));
  smallIcon_.reset(static_cast<HICON>(LoadImageA(module, "MAINICON", IMAGE_ICON, Scale(16), Scale(16), 0)));
  trayResourceIcon_.reset(
      static_cast<HICON>(LoadImageA(module, "ZMAINFORM_TRAYICON", IMAGE_ICON, Scale(16), Scale(16), 0)));
  for (HWND window : {Handle(), app_.Owner()}) {
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
  list_.AddColumns(kTopicColumns);
  list_.OnDoubleClick = [this] { OpenTopic(); };
  list_.OnColumnClick = [this](int column) { SortBy(static_cast<TTopicColumn>(column)); };
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
  traffic_.OnClick = [this] { ShowDialog(TDialogKind::Traffic); };
  new_.OnClick = [this] { ShowInfo(); };
  allRead_.OnClick = [this] { MarkAllRead(); };
  favorites_.OnClick = [this] { ShowDialog(TDialogKind::Favorites); };
  settings_.OnClick = [this] { ShowDialog(TDialogKind::Settings); };
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
  // The items that open a window are named by its title.
  trayMenu_.AddItem(WindowRow(TDialogKind::Settings).Title, [this] { ShowDialog(TDialogKind::Settings); });
  trayMenu_.AddSeparator();
  trayMenu_.AddItem("Справка", [this] { OpenHelp(); });
  trayMenu_.AddItem(WindowRow(TDialogKind::About).Title, [this] { ShowDialog(TDialogKind::About); });
  trayMenu_.AddSeparator();
  trayMenu_.AddItem("Выход", [this] { PostMessageW(Handle(), WM_CLOSE, 0, 0); });

  listMenu_.AddItem("В избранные темы", [this] {
    const TItemData* item = list_.Item(list_.Selected());
    if (item && checker_) checker_->AddFavorite(*item);
  });
  listMenu_.OnPopup = [this] { listMenu_.SetEnabled(0, list_.Selected() >= 0); };
}

// --- showing and hiding ---

void TMainForm::ShowMain(bool visible) {
  if (visible) {
    FollowMonitorDpi();
    ShowWindow(app_.Owner(), SW_SHOWNOACTIVATE);  // the taskbar entry
    ShowWindow(Handle(), SW_SHOW);
    SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Handle());
    return;
  }
  ShowWindow(Handle(), SW_HIDE);
  ShowWindow(app_.Owner(), SW_HIDE);
  if (info_ && info_->Visible()) info_->Hide();
}

void TMainForm::ShowFromTray() {
  FollowMonitorDpi();
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(list_.Handle());
  SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void TMainForm::ShowInfo() {
  if (!info_ || !checker_) return;
  const int32_t unread = checker_->UnreadCount();
  info_->SetMessage(unread > 0 ? std::to_string(unread) + " тем обновлено" : "Новых сообщений нет");
  info_->SetUpdateAvailable(checker_->UpdateAvailable());
  info_->MoveToCorner();
  SetWindowPos(info_->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  info_->Show(true);
  SetFocus(info_->Handle());
  AnnounceAlert(info_->Handle());
  if (checker_->Settings().ShowOnNew) ShowMain(true);
}

// --- the topic list ---

void TMainForm::AddRow(const TItemData& item) {
  // The row only observes the record; the checker changes it.
  const int row = list_.AddRow(TopicCell(item, TTopicColumn::Title), item.Read ? kReadImage : kUnreadImage, item);
  for (int column = 1; column < static_cast<int>(std::size(kTopicColumns)); ++column)
    list_.SetCell(row, column, TopicCell(item, static_cast<TTopicColumn>(column)));
}

// The topic column gives way to the others.
void TMainForm::FitColumns() { list_.FitColumns(kTopicColumns); }

void TMainForm::SortBy(TTopicColumn column) {
  sortOrder_ = sortOrder_ == TListView::SortOrder::Ascending ? TListView::SortOrder::Descending
                                                              : TListView::SortOrder::Ascending;
  list_.SortByColumn(Index(column), sortOrder_);
}

void TMainForm::OpenTopic() {
  const int row = list_.Selected();
  const TItemData* item = list_.Item(row);
  if (!item || !checker_) return;
  const bool countedDown = checker_->MarkRead(*item);
  // Only a forum link goes to the shell: a damaged or hostile one opens nothing.
  if (IsForumLink(item->OpenLink)) Desktop().Open(Handle(), item->OpenLink);
  list_.SetImage(row, kReadImage);
  if (countedDown) {
    const std::string count = std::to_string(checker_->UnreadCount());
    list_.SetCell(row, Index(TTopicColumn::New), "0");
    info_->SetMessage(count + " новых сообщений");
    new_.SetText(count);
  }
}

void TMainForm::MarkAllRead() {
  if (!checker_) return;
  std::vector<const TItemData*> rows;
  for (int row = 0; row < list_.Count(); ++row) rows.push_back(list_.Item(row));
  checker_->MarkAllRead(rows);
  for (int row = 0; row < list_.Count(); ++row) {
    list_.SetImage(row, kReadImage);
    list_.SetCell(row, Index(TTopicColumn::New), "0");
  }
  info_->SetMessage("0 новых сообщений");
  info_->Show(checker_->UnreadCount() != 0);
  new_.SetText("0");
}

void TMainForm::OpenHelp() {
  if (!checker_) return;
  // The program's directory already ends in a backslash.
  Desktop().OpenFile(Handle(), checker_->ProgramDir() + L"Help\\Zelt Rarazovo.chm");
}

// --- side windows ---

std::unique_ptr<TForm> TMainForm::MakeDialog(TDialogKind kind) {
  if (!checker_) return nullptr;
  const TWindowContext context{.Owner = Handle(),
                               .App = app_,
                               .Checker = *checker_,
                               .Http = *http_,
                               .UpdateUrl = build::kUpdateUrl,
                               .UpdateKey = UpdateKeyFromHex(build::kUpdateKeyHex),
                               .Choice = updateChoice_,
                               .Open = [this](TDialogKind other) { ShowDialog(other); },
                               .OpenDownload =
                                   [this](TUpdateChoice choice) {
                                     updateChoice_ = choice;
                                     ShowDialog(TDialogKind::Download);
                                   }};
  return WindowRow(kind).Make(context);
}

void TMainForm::ShowDialog(TDialogKind kind) {
  ++ModalDepth;
  trayMenu_.SetEnabled(kExitItem, false);
  dialogs_.Show(kind);
  --ModalDepth;
  // The traffic window may have reset the counters.
  if (kind == TDialogKind::Traffic) SetTrafficCaption();
  if (ModalDepth == 0) {
    trayMenu_.SetEnabled(kExitItem, true);
    // A close request that came while side windows were open ends the program now.
    if (closePending_) PostMessageW(Handle(), WM_CLOSE, 0, 0);
  }
}

void TMainForm::CloseDialogs() { dialogs_.CloseAll(); }

TTrafInfo* TMainForm::TrafficWindow() const { return static_cast<TTrafInfo*>(Dialog(TDialogKind::Traffic)); }

void TMainForm::SetTrafficCaption() {
  if (!checker_) return;
  const TTrafficCounters& counters = checker_->Traffic();
  traffic_.SetText(FormatSize(counters.TotalInBytes + counters.TotalOutBytes, 1));
}

// --- the end ---

void TMainForm::CloseRequested() {
  if (closed_) return;
  if (ModalDepth > 0) {
    // Side windows are open (a close request from another program): close
    // them first; the last ShowDialog to return asks again.
    closePending_ = true;
    CloseDialogs();
    return;
  }
  closed_ = true;
  CloseSequence();
  DestroyWindow(Handle());
}

void TMainForm::CloseSequence() {
  Broadcast(ZELTI_CLOSE);
  if (checker_) checker_->SaveData();
  CloseDialogs();
  network_.reset();
  list_.Clear();  // the rows point into the Checker's records
  quiet_.reset();
  checker_.reset();
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
  for (const TWindowRow& row : WindowTable()) {
    if (row.Key != 0 && row.Key == vk) {
      ShowDialog(row.Kind);
      return true;
    }
  }
  switch (vk) {
    case VK_F1:
      OpenHelp();
      return true;
    case VK_F5:
      if (checker_) checker_->StartPolling();
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
  if (msg >= 0xC000 && peers_.Hear(msg)) return 0;
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
      if (peers_.Tick(wp)) return 0;
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
