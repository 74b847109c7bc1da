// The main window, the popup and the side windows driven as a user would:
// replies arriving, clicks on rows and headers, keys, menus, side windows,
// the tray, and the end of the program.

#include "core/Traffic.h"
#include "tests/support/Win.h"
#include "ui/uTrafInfo.h"

namespace zelt::fake {
namespace {

const std::vector<Topic> kTopics = {
    {"Поезд в Крым", "t101", "Путешествия", "9", "Иван"},
    {"Ремонт &quot;Жигулей&quot;", "t102", "Авто", "10", "Пётр"},
    {"Дача", "t103", "Дом", "2", "Ольга"},
};

using Main = MainWindowTest;

TEST_F(Main, ARepliesTopicsBecomeRowsTheCounterShowsTheUnreadAndAllReadClearsThem) {
  Reply(false, {kTopics[2]});
  Checker().MarkItemRead(*Checker().Items().at(0));
  Reply(false, kTopics);
  // The texts, and the sphere: grey (1) for a read topic.
  EXPECT_EQ(ListRows(List(), {0, 1, 2, 3, 4, -1}), (std::vector<std::string>{"Поезд в Крым|9|Путешествия|Иван|9|0",
                                                                       "Ремонт \"Жигулей\"|10|Авто|Пётр|10|0",
                                                                       "Дача|2|Дом|Ольга|0|1"}));
  EXPECT_EQ(main->NewButton().Text(), "2");
  EXPECT_EQ(main->StatusLine().Text(), "Обновлено");
  EXPECT_EQ(main->TrafficButton().Text(), FormatSize(Checker().Traffic().TotalInBytes + Checker().Traffic().TotalOutBytes, 1));
  // "Все прочитаны" marks every row and sends the popup away.
  ASSERT_TRUE(info->Visible());
  Click(*app, main->AllReadButton().Handle());
  EXPECT_EQ(main->NewButton().Text(), "0");
  EXPECT_EQ(ListRows(List(), {4}), (std::vector<std::string>{"0", "0", "0"}));
  EXPECT_EQ(Data().ReadMarks.Count(), 3u);
  EXPECT_FALSE(info->Visible());
}

TEST_F(Main, OpeningATopicOpensItsLinkAndCountsItReadOnce) {
  main->ShowFromTray();
  Reply(false, kTopics);
  const HWND list = List().Handle();
  const int row = 2;  // "Дача"
  const POINT p = RowPoint(list, row);
  List().Select(row);
  for (bool right : {false, true}) {  // the second time it is already read
    if (right) RunLater([] { EndMenu(); });  // the release of the right button brings the list menu
    PostMessageW(list, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    SendMessageW(list, right ? WM_RBUTTONDBLCLK : WM_LBUTTONDBLCLK, right ? MK_RBUTTON : MK_LBUTTON,
                 MAKELPARAM(p.x, p.y));
    app->ProcessMessages();
    EXPECT_EQ(std::to_string(Checker().UnreadCount()) + "|" + main->NewButton().Text() + "|" + info->Message() + "|" +
                  std::to_string(List().Image(row)) + "|" + List().Cell(row, 4),
              "2|2|2 новых сообщений|1|0");
  }
  EXPECT_EQ(desktop.Opened.size(), 2u);
  EXPECT_EQ(desktop.Opened.at(0).second, ForumBaseUrl() + "t103-0-17");
  EXPECT_NE(DataBytes().find(ForumBaseUrl() + "t103-1\x11" "2"), std::string::npos) << "the mark is saved";
  List().Select(-1);
  main->OpenTopic();
  EXPECT_EQ(desktop.Opened.size(), 2u) << "no selection, nothing to open";
}

// A peer that answers every ZELTI_HERE with a ZELTI_FIND from inside it:
// FIND is answered once a second at most, or the answers would never end; a
// second later it is answered again.
TEST_F(Main, FindIsAnsweredOnceASecondAtMost) {
  static int heres;
  WNDCLASSW wc{};
  wc.lpszClassName = L"ZeltTestPeer";
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == ZELTI_HERE && ++heres < 20) Broadcast(ZELTI_FIND);
    return DefWindowProcW(h, m, w, l);
  };
  RegisterClassW(&wc);
  HWND peer = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(PumpUntil(*app, [&] {
    SendMessageW(main->Handle(), ZELTI_FIND, 0, 0);  // at first within a second of the last answer
    return heres > 0;
  }));
  app->ProcessMessages();
  EXPECT_EQ(heres, 1);
  DestroyWindow(peer);
}

TEST_F(Main, ExitIsOffWhileSideWindowsAreOpenAndEndsTheProgramThroughItsSave) {
  Reply(false, kTopics);
  std::vector<std::string> states;
  auto state = [&](const char* when) {
    states.push_back(std::string(when) + (main->TrayMenu().Enabled(TMainForm::kExitItem) ? " on" : " off"));
  };
  RunLater([&] {
    state("traffic");
    Reply(true, kTopics);
    main->ShowInfo();
    RunLater([&] {
      TForm* update = main->Dialog(TDialogKind::UpdateInfo);
      state(update ? "update" : "no update window");
      if (update) update->Close();
    });
    Click(*app, info->UpdateButton().Handle());  // a second side window from inside the first
    EXPECT_FALSE(main->TrayMenu().Choose(TMainForm::kExitItem));
    // Asked for again while open, the traffic window comes forward and the
    // call returns at once, instead of a second loop over the same window.
    RunLater([&] { main->TrafficWindow()->Close(); });
    main->ShowDialog(TDialogKind::Traffic);
    state(main->TrafficWindow() ? "traffic still open" : "traffic gone");
  });
  main->ShowDialog(TDialogKind::Traffic);
  state("none");
  EXPECT_EQ(states, (std::vector<std::string>{"traffic off", "update off", "traffic still open off", "none on"}));
  EXPECT_EQ(main->ModalDepth, 0);
  ASSERT_TRUE(IsWindow(main->Handle()));
  std::filesystem::remove(dir / "data.dat");
  ASSERT_TRUE(main->TrayMenu().Choose(TMainForm::kExitItem));
  ASSERT_TRUE(PumpUntil(*app, [&] { return !IsWindow(main->Handle()); }));
  EXPECT_EQ(main->Checker(), nullptr);
  EXPECT_GE(DataBytes().size(), 64u) << "the state is saved at the end";
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the message loop ends";
}

TEST_F(Main, EachReportOfAPollShowsItsTextAndPlaysItsSound) {
  std::vector<std::string> seen;  // each text the status line takes during a poll
  const auto told = [&] {
    if (seen.empty() || seen.back() != main->StatusLine().Text()) seen.push_back(main->StatusLine().Text());
  };
  const auto status = Checker().OnStatus;
  Checker().OnStatus = [&](TCheckerStatus code) {
    status(code);
    told();
  };
  TSettings settings = Checker().Settings();
  settings.UseSounds = true;
  settings.SoundNewMessages = "new.ogg";
  settings.SoundNewVersion = "version.ogg";
  settings.SoundError = "error.ogg";
  Checker().ApplySettings(settings);
  const fake::Reply two{.body = CompressedBody(ReplyText(false, {kTopics[0], kTopics[1]}))};
  std::vector<Topic> more = kTopics;
  more.push_back({"Баня", "t104", "Дом", "4", "Ольга"});
  const fake::Reply failed{.failAt = Step::Send}, four{.body = CompressedBody(ReplyText(false, more))};
  const std::string asking = "Обновляю информацию...", done = "Обновлено", error = "Ошибка сети ";
  // While the user presents the status line still tells, the popup and its
  // sound wait for the first poll after, and an error sound is not played.
  const struct {
    const char* name;
    fake::Reply reply;
    std::vector<std::string> statuses, sounds;
    bool popup, presenting;
  } cases[] = {
      {"topics", two, {asking, done}, {"new.ogg"}, true, false},
      {"the same count again", two, {asking, done}, {}, false, false},
      {"a new version", {.body = CompressedBody(ReplyText(true, kTopics))}, {asking, "Выпущена новая версия!", done},
       {"new.ogg", "version.ogg"}, true, false},
      {"a network error", failed, {asking, error}, {"error.ogg"}, false, false},
      {"more topics while presenting", four, {asking, done}, {}, false, true},
      {"an error while presenting", failed, {asking, error}, {}, false, true},
      {"the poll after", four, {asking, done}, {"new.ogg"}, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker().Request().Pending(); }));
    seen.clear();
    sound.Played.clear();
    info->Hide();
    userState.Busy = c.presenting;
    http.Push(c.reply);
    Checker().Poll();
    ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker().Request().Pending(); }));
    told();
    EXPECT_EQ(seen, c.statuses);
    EXPECT_EQ(sound.Played, c.sounds);
    EXPECT_EQ(info->Visible(), c.popup);
  }
  settings.UseSounds = false;
  Checker().ApplySettings(settings);
  ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker().Request().Pending(); }));
  sound.Played.clear();
  Reply(true, kTopics);
  Checker().HandleNetError(12029);
  EXPECT_TRUE(sound.Played.empty()) << "no sounds without the setting";
}

TEST_F(Main, ThePopupTellsTheUnreadCountAndOffersTheUpdate) {
  const struct {
    size_t unread;
    bool update;
    const char* message;
  } cases[] = {{3, false, "3 тем обновлено"}, {1, true, "1 тем обновлено"}, {0, true, "Новых сообщений нет"}};
  for (const auto& c : cases) {
    Reply(c.update, std::vector<Topic>(kTopics.begin(), kTopics.begin() + static_cast<long>(c.unread)));
    info->Hide();
    Click(*app, main->NewButton().Handle());
    EXPECT_EQ(info->Message(), c.message);
    EXPECT_TRUE(info->Visible());
    EXPECT_EQ(info->UpdateButton().Visible(), c.update);
    EXPECT_EQ(info->NoUpdateButton().Visible(), !c.update);
    EXPECT_TRUE(GetWindowLongW(info->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  }
  Reply(false, {});
  main->ShowInfo();
  Click(*app, info->NoUpdateButton().Handle());
  ASSERT_EQ(desktop.Boxes.size(), 1u);
  EXPECT_EQ(desktop.Boxes[0].Text, "Необходимости в обновлении нет.\r\nВы обладаете последней версией программы.");
  EXPECT_EQ(desktop.Boxes[0].Caption, "Обновление не требуется");
  // "Читать" brings the main window and sends the popup away.
  Click(*app, info->ReadButton().Handle());
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
  EXPECT_FALSE(info->Visible());
  main->ShowInfo();
  main->ShowMain(false);
  EXPECT_FALSE(info->Visible()) << "hiding the main window hides the popup";
}

}  // namespace
}  // namespace zelt::fake
