// What the main window shows and plays at each report of a poll, the popup,
// the tray icon and its menu, side windows and closing.
#include "support/ui_harness.h"

#include "core/Traffic.h"
#include "ui/uTrafInfo.h"

namespace zelt::test {
namespace {

const std::vector<Topic> kTwoTopics = {
    {"Первая", "p1", "Общий", "5", "Анна"},
    {"Вторая", "p2", "Общий", "7", "Борис"},
};

class NotifyTest : public UiFixture {
 protected:
  // Records the status line after each report, in the order they come.
  void RecordStatus() {
    auto handler = Checker->OnStatus;
    Checker->OnStatus = [this, handler](int32_t code) {
      handler(code);
      seen.push_back(std::to_string(code) + " " + main->StatusLine().Text());
    };
    auto error = Checker->OnNetError;
    Checker->OnNetError = [this, error](const std::string& text, uint16_t code) {
      error(text, code);
      seen.push_back("error " + main->StatusLine().Text());
    };
  }
  void UseSounds() {
    Checker->UseSounds = true;
    Checker->SoundNewMessages = "new.ogg";
    Checker->SoundNewVersion = "version.ogg";
    Checker->SoundError = "error.ogg";
  }
  std::vector<std::string> seen;
};

TEST_F(NotifyTest, StatusTextsAndSoundsOfEachKindOfPoll) {
  RecordStatus();
  UseSounds();
  struct Case {
    const char* name;
    std::function<void()> poll;
    std::vector<std::string> statuses;
    std::vector<std::string> sounds;
  } cases[] = {
      {"topic reply",
       [&] {
         Checker->Poll();
         Reply(false, kTwoTopics);
       },
       {"1 Обновляю информацию...", "5 Обновляю информацию...", "4 Обновляю информацию...", "2 Обновлено"},
       {"new.ogg"}},
      {"same count again: no popup, no sound",
       [&] {
         Checker->Poll();
         Reply(false, kTwoTopics);
       },
       {"1 Обновляю информацию...", "5 Обновляю информацию...", "2 Обновлено"},
       {}},
      {"new version",
       [&] {
         Checker->Poll();
         Reply(true, {kTwoTopics[0], kTwoTopics[1], {"Третья", "p3", "Общий", "1", "Вера"}});
       },
       {"1 Обновляю информацию...", "5 Обновляю информацию...", "4 Обновляю информацию...",
        "3 Выпущена новая версия!", "2 Обновлено"},
       {"new.ogg", "version.ogg"}},
      {"forum list",
       [&] {
         Checker->NeedForumList = true;
         Checker->Poll();
         Checker->HandleReply(CompressedBody("Общий=1\r\n"));
       },
       {"1 Обновляю информацию...", "2 Обновлено"},
       {}},
      {"network error",
       [&] {
         Checker->Poll();
         ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker->Loader->Busy && seen.size() == 2; }));
       },
       {"1 Обновляю информацию...", "error Ошибка сети "},
       {"error.ogg"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker->Loader->Busy; }));
    app->ProcessMessages();
    seen.clear();
    sound.Played.clear();
    const int rows = List().Count();
    c.poll();
    EXPECT_EQ(seen, c.statuses);
    EXPECT_EQ(sound.Played, c.sounds);
    if (std::string(c.name) == "forum list" || std::string(c.name) == "network error") {
      EXPECT_EQ(List().Count(), rows) << "the rows stay as they were";
    }
  }
  EXPECT_EQ(main->NewButton().Text(), "3");
}

TEST_F(NotifyTest, SoundsStayOffWithoutTheSetting) {
  Checker->SoundNewMessages = "new.ogg";
  Checker->SoundError = "error.ogg";
  Reply(true, kTwoTopics);
  Checker->HandleNetError(12029);
  EXPECT_TRUE(sound.Played.empty());
}

TEST_F(NotifyTest, DoneShowsCountersOnTheButtons) {
  Checker->TotalInBytes = 1000;
  Checker->TotalOutBytes = 536;  // + the 544 of the fixture's first request
  Reply(false, kTwoTopics);
  EXPECT_EQ(main->NewButton().Text(), "2");
  EXPECT_EQ(main->TrafficButton().Text(), FormatSize(Checker->TotalInBytes + Checker->TotalOutBytes, 1));
  EXPECT_NE(main->TrafficButton().Text(), "...");
}

TEST_F(NotifyTest, ShowInfoTextsAndButtons) {
  struct Case {
    int unread;
    bool update;
    const char* message;
  } cases[] = {{3, false, "3 тем обновлено"}, {1, true, "1 тем обновлено"}, {0, true, "Новых сообщений нет"},
               {-1, false, "Новых сообщений нет"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    info->Hide();
    Checker->UnreadCount = c.unread;
    Checker->UpdateAvailable = c.update;
    SendMessageW(main->NewButton().Handle(), BM_CLICK, 0, 0);  // the new button calls ShowInfo
    EXPECT_EQ(info->Message(), c.message);
    EXPECT_TRUE(info->Visible());
    EXPECT_EQ(info->UpdateButton().Visible(), c.update);
    EXPECT_EQ(info->NoUpdateButton().Visible(), !c.update);
    EXPECT_EQ(GetForegroundWindow(), info->Handle());
    EXPECT_NE(GetWindowLongW(info->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  }
}

TEST_F(NotifyTest, PopupButtons) {
  Checker->UpdateAvailable = false;
  main->ShowInfo();
  SendMessageW(info->NoUpdateButton().Handle(), BM_CLICK, 0, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Обновление не требуется");
  EXPECT_EQ(boxes[0].text, "Необходимости в обновлении нет.\r\nВы обладаете последней версией программы.");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_TRUE(info->Visible());

  // "Читать": the main window alone comes forward, the popup goes.
  ASSERT_FALSE(IsWindowVisible(main->Handle()));
  SendMessageW(info->ReadButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
  EXPECT_FALSE(IsWindowVisible(app->Handle())) << "the taskbar entry keeps its state";
  EXPECT_FALSE(info->Visible());

  // Close button and Esc (at key-up) hide it.
  main->ShowInfo();
  SendMessageW(info->Strip().CloseButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(info->Visible());
  main->ShowInfo();
  PostMessageW(info->ReadButton().Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
  app->ProcessMessages();
  EXPECT_TRUE(info->Visible());
  PostMessageW(info->ReadButton().Handle(), WM_KEYUP, VK_ESCAPE, 0xC0000001);
  app->ProcessMessages();
  EXPECT_FALSE(info->Visible());

  // Hiding the main window hides a shown popup too.
  main->ShowInfo();
  main->ShowMain(false);
  EXPECT_FALSE(info->Visible());
}

TEST_F(NotifyTest, PopupLayout) {
  RECT rc;
  GetWindowRect(info->Handle(), &rc);
  EXPECT_EQ(rc.right - rc.left, 175);
  EXPECT_EQ(rc.bottom - rc.top, 101);
  struct Case {
    HWND hwnd;
    RECT expected;
  } cases[] = {
      {info->ReadButton().Handle(), {10, 54, 113, 97}},
      {info->UpdateButton().Handle(), {120, 54, 169, 97}},
      {info->NoUpdateButton().Handle(), {120, 54, 169, 97}},
  };
  for (const Case& c : cases) ExpectPlaced(c.hwnd, info->Handle(), c.expected);
  EXPECT_EQ(info->ReadButton().Text(), "Читать");
  EXPECT_EQ(info->UpdateButton().Text(), "");
  EXPECT_TRUE(info->ReadButton().HasPicture());
  EXPECT_TRUE(info->UpdateButton().HasPicture());
  EXPECT_TRUE(info->NoUpdateButton().HasPicture());
}

TEST_F(NotifyTest, PopupSitsAtTheWorkAreaCornerAndSnapsWithinTenPixels) {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  Checker->UnreadCount = 2;
  main->ShowInfo();
  RECT rc;
  GetWindowRect(info->Handle(), &rc);
  EXPECT_EQ(rc.right, work.right);
  EXPECT_EQ(rc.bottom, work.bottom);

  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  const int middleX = (work.left + work.right - w) / 2, middleY = (work.top + work.bottom - h) / 2;
  struct Case {
    int x, y, expectX, expectY;
  } cases[] = {
      {work.left + 10, middleY, work.left, middleY},
      {work.left + 11, middleY, work.left + 11, middleY},
      {work.right - w - 10, middleY, work.right - w, middleY},
      {work.right - w - 11, middleY, work.right - w - 11, middleY},
      {middleX, work.top + 10, middleX, work.top},
      {middleX, work.top + 11, middleX, work.top + 11},
      {middleX, work.bottom - h + 10, middleX, work.bottom - h},
      {middleX, work.bottom - h - 11, middleX, work.bottom - h - 11},
      {work.left - 7, work.top - 3, work.left, work.top},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    // A move as the drag loop makes it.
    SetWindowPos(info->Handle(), nullptr, c.x, c.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(info->Handle(), &rc);
    EXPECT_EQ(rc.left, c.expectX);
    EXPECT_EQ(rc.top, c.expectY);
  }
  // The next ShowInfo puts it back at the corner.
  main->ShowInfo();
  GetWindowRect(info->Handle(), &rc);
  EXPECT_EQ(rc.right, work.right);
  EXPECT_EQ(rc.bottom, work.bottom);
}

TEST_F(NotifyTest, ShowOnNewBringsTheMainWindowAndItsTaskbarEntryForward) {
  struct Case {
    bool showOnNew;
    bool mainShown;
  } cases[] = {{false, false}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.showOnNew);
    main->ShowMain(false);
    Checker->ShowOnNew = c.showOnNew;
    Checker->PrevUnreadCount = 0;
    Reply(false, kTwoTopics);
    EXPECT_TRUE(info->Visible());
    EXPECT_EQ(IsWindowVisible(main->Handle()) != FALSE, c.mainShown);
    EXPECT_EQ(IsWindowVisible(app->Handle()) != FALSE, c.mainShown);
    if (c.mainShown) {
      EXPECT_EQ(GetForegroundWindow(), main->Handle());
    }
  }
  // The new button also goes through ShowInfo.
  main->ShowMain(false);
  SendMessageW(main->NewButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
}

TEST_F(NotifyTest, TheTaskbarEntryActivatesTheMainWindow) {
  main->ShowMain(true);
  ASSERT_TRUE(IsWindowVisible(app->Handle()));
  SetForegroundWindow(app->Handle());
  SendMessageW(app->Handle(), WM_ACTIVATE, WA_CLICKACTIVE, 0);
  EXPECT_EQ(GetForegroundWindow(), main->Handle());
  // With a side window open, that window comes forward instead.
  HWND seen = nullptr;
  RunLater([&] {
    SendMessageW(app->Handle(), WM_ACTIVATE, WA_CLICKACTIVE, 0);
    seen = GetForegroundWindow();
    main->TrafficWindow()->Close();
  });
  main->ShowDialog(TMainForm::dkTraffic);
  EXPECT_NE(seen, main->Handle());
  EXPECT_NE(seen, nullptr);
}

TEST_F(NotifyTest, FewerOrEqualUnreadTopicsShowNoPopup) {
  Reply(false, kTwoTopics);
  ASSERT_TRUE(info->Visible());
  info->Hide();
  // All read by the user, then one new message: 1 is not more than 2.
  main->MarkAllRead();
  Reply(false, {{"Первая", "p1", "Общий", "6", "Анна"}, kTwoTopics[1]});
  EXPECT_FALSE(info->Visible());
  EXPECT_EQ(main->NewButton().Text(), "1");
  EXPECT_EQ(main->StatusLine().Text(), "Обновлено");
}

TEST_F(NotifyTest, TrafficWindowRowsBeforeAndAfterTraffic) {
  Checker->ResetTraffic();
  std::vector<std::string> before, after;
  std::string footer;
  RunLater([&] {
    TTrafInfo* t = main->TrafficWindow();
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < TTrafInfo::kRows; ++i) before.push_back(t->Caption(i) + "=" + t->Value(i));
    footer = t->Footer();
    // A poll completes while the window is open: it refreshes.
    Checker->HandleReply(CompressedBody(ReplyText(false, kTwoTopics)));
    Checker->TotalOutBytes += 2048;
    Checker->HandleReply(std::string(1, '0'));
    for (int i = 0; i < TTrafInfo::kRows; ++i) after.push_back(t->Value(i));
    t->Close();
  });
  SendMessageW(main->TrafficButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(before, (std::vector<std::string>{"Входящий=0 B", "Исходящий=0 B", "Общий=0 B", "Обновления=0 B",
                                              "Сжатие входящего=0%"}));
  EXPECT_EQ(footer, "От: " + FormatStamp(Checker->TrafficSince));
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after[0], FormatSize(Checker->TotalInBytes, 1));
  EXPECT_EQ(after[1], "2 KB");
  EXPECT_EQ(after[2], FormatSize(Checker->TotalInBytes + 2048, 1));
  EXPECT_EQ(after[3], "0 B");
  EXPECT_EQ(after[4], CompressionText(Checker->TotalInBytes, Checker->TotalInUnpacked));
  EXPECT_NE(after[4], "0%");
  EXPECT_EQ(main->TrafficButton().Text(), FormatSize(Checker->TotalInBytes + Checker->TotalOutBytes, 1));
}

TEST_F(NotifyTest, TrafficResetZeroesSavesAndRefreshes) {
  Checker->TotalInBytes = 5000;
  Checker->TotalOutBytes = 3000;
  std::vector<std::string> values;
  RunLater([&] {
    TTrafInfo* t = main->TrafficWindow();
    ASSERT_NE(t, nullptr);
    DeleteFileW(Widen(programDir + "data.dat").c_str());
    SendMessageW(t->ResetButton().Handle(), BM_CLICK, 0, 0);
    for (int i = 0; i < TTrafInfo::kRows; ++i) values.push_back(t->Value(i));
    PostKey(t->ResetButton().Handle(), VK_ESCAPE);
  });
  PostKey(List().Handle(), VK_F3);
  app->ProcessMessages();
  EXPECT_EQ(values, (std::vector<std::string>{"0 B", "0 B", "0 B", "0 B", "0%"}));
  EXPECT_EQ(Checker->TotalInBytes, 0u);
  EXPECT_GE(ReadFileBytes(programDir + "data.dat").size(), 64u) << "the reset is saved at once";
  EXPECT_EQ(main->TrafficButton().Text(), "0 B");
}

TEST_F(NotifyTest, TrafficWindowLayout) {
  RECT mainRect;
  GetWindowRect(main->Handle(), &mainRect);
  RunLater([&] {
    TTrafInfo* t = main->TrafficWindow();
    ASSERT_NE(t, nullptr);
    RECT rc;
    GetWindowRect(t->Handle(), &rc);
    EXPECT_EQ(rc.right - rc.left, 242);
    EXPECT_EQ(rc.bottom - rc.top, 134);
    EXPECT_EQ((rc.left + rc.right) / 2, (mainRect.left + mainRect.right) / 2);
    EXPECT_EQ((rc.top + rc.bottom) / 2, (mainRect.top + mainRect.bottom) / 2);
    RECT b;
    GetWindowRect(t->ResetButton().Handle(), &b);
    MapWindowPoints(nullptr, t->Handle(), reinterpret_cast<POINT*>(&b), 2);
    EXPECT_EQ(b.left, 132);
    EXPECT_EQ(b.top, 112);
    EXPECT_EQ(b.right - b.left, 101);
    EXPECT_EQ(b.bottom - b.top, 16);
    EXPECT_EQ(t->ResetButton().Text(), "Сброс");
    t->Close();
  });
  main->ShowDialog(TMainForm::dkTraffic);
}

TEST_F(NotifyTest, ExitIsDisabledWhileSideWindowsAreOpenNestedToo) {
  TPopupMenu& menu = main->TrayMenu();
  ASSERT_EQ(menu.Caption(TMainForm::tiExit), "Выход");
  EXPECT_TRUE(menu.Enabled(TMainForm::tiExit));
  std::vector<std::string> states;
  auto state = [&](const char* when) {
    states.push_back(std::string(when) + (menu.Enabled(TMainForm::tiExit) ? " on " : " off ") +
                     std::to_string(main->ModalDepth));
  };
  RunLater([&] {
    state("traffic open");
    // The popup's update button opens a second side window from inside the first.
    Checker->UpdateAvailable = true;
    main->ShowInfo();
    RunLater([&] {
      state("update open");
      main->Dialog(TMainForm::dkUpdateInfo)->Close();
    });
    SendMessageW(info->UpdateButton().Handle(), BM_CLICK, 0, 0);
    state("inner closed");
    EXPECT_FALSE(menu.Choose(TMainForm::tiExit)) << "a disabled item cannot be chosen";
    main->TrafficWindow()->Close();
  });
  main->ShowDialog(TMainForm::dkTraffic);
  state("all closed");
  EXPECT_EQ(states, (std::vector<std::string>{"traffic open off 1", "update open off 2", "inner closed off 1",
                                              "all closed on 0"}));
  EXPECT_TRUE(IsWindow(main->Handle())) << "exit was not carried out";
}

TEST_F(NotifyTest, TrayClicksShowTheWindowAndOpenTheMenu) {
  const UINT callback = TTrayIcon::kCallbackMessage;
  // Moves, presses, double-clicks and the middle button do nothing.
  for (UINT m : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MBUTTONUP, WM_RBUTTONDOWN}) {
    SendMessageW(main->Handle(), callback, 1, m);
    EXPECT_FALSE(IsWindowVisible(main->Handle())) << m;
  }
  SendMessageW(main->Handle(), callback, 1, WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(main->Handle()));
  EXPECT_FALSE(IsWindowVisible(app->Handle()));
  EXPECT_EQ(GetForegroundWindow(), main->Handle());

  // Right click with the window hidden: shown below the screen for the time
  // of the menu, hidden and put back afterwards.
  main->ShowMain(false);
  RECT before;
  GetWindowRect(main->Handle(), &before);
  RECT during{};
  bool visibleDuring = false, menuShown = false, exitEnabled = false;
  RunLater([&] {
    menuShown = FindWindowW(L"#32768", nullptr) != nullptr;
    visibleDuring = IsWindowVisible(main->Handle()) != FALSE;
    GetWindowRect(main->Handle(), &during);
    exitEnabled = main->TrayMenu().Enabled(TMainForm::tiExit);
    EndMenu();
  });
  SendMessageW(main->Handle(), callback, 1, WM_RBUTTONUP);
  EXPECT_TRUE(menuShown);
  EXPECT_TRUE(visibleDuring);
  EXPECT_EQ(during.top, GetSystemMetrics(SM_CYSCREEN) + 50);
  EXPECT_TRUE(exitEnabled);
  RECT after;
  GetWindowRect(main->Handle(), &after);
  EXPECT_FALSE(IsWindowVisible(main->Handle()));
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.left, before.left);

  // "Справка" chosen from the menu opens the help file after the menu has closed.
  RunLater([&] {
    PostMessageW(main->Handle(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(main->Handle(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(main->Handle(), WM_KEYDOWN, VK_RETURN, 0);
  });
  SendMessageW(main->Handle(), callback, 1, WM_RBUTTONUP);
  EXPECT_EQ(opened, (std::vector<std::string>{programDir + "Help\\Zelt Rarazovo.chm"}));
}

TEST_F(NotifyTest, ExitClosesTheProgramThroughItsCloseSequence) {
  Reply(false, kTwoTopics);
  DeleteFileW(Widen(programDir + "data.dat").c_str());
  ASSERT_TRUE(main->TrayMenu().Choose(TMainForm::tiExit));
  ASSERT_TRUE(PumpUntil(*app, [&] { return !IsWindow(main->Handle()); }));
  EXPECT_EQ(Checker, nullptr);
  EXPECT_GE(ReadFileBytes(programDir + "data.dat").size(), 64u);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the message loop ends";
}

TEST_F(NotifyTest, HaltWhileASideWindowIsOpenClosesItFirst) {
  Reply(false, kTwoTopics);
  RegisterInstanceMessages();
  bool trafficWasOpen = false;
  RunLater([&] {
    trafficWasOpen = main->TrafficWindow() != nullptr;
    // Another program asks the running copy to stop.
    SendMessageW(main->Handle(), ZELTI_HALT, 0, 0);
  });
  main->ShowDialog(TMainForm::dkTraffic);
  EXPECT_TRUE(trafficWasOpen);
  EXPECT_EQ(main->TrafficWindow(), nullptr);
  ASSERT_TRUE(PumpUntil(*app, [&] { return !IsWindow(main->Handle()); }));
  EXPECT_EQ(Checker, nullptr);
  EXPECT_GE(ReadFileBytes(programDir + "data.dat").size(), 64u);
}

TEST_F(NotifyTest, LaunchUpdateReportsAMissingPatchWithTheSystemsText) {
  main->LaunchUpdate();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Zelt Rarazovo 0.4");
  EXPECT_FALSE(boxes[0].text.empty());
  EXPECT_NE(boxes[0].text.back(), '\n');
  EXPECT_NE(boxes[0].text.back(), ' ');
}

}  // namespace
}  // namespace zelt::test
