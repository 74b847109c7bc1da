// The main window driven as a user would: replies arriving, clicks on rows
// and headers, keys, the context menu, the side-window counter.
#include "support/ui_harness.h"

#include "core/Traffic.h"
#include "ui/uTrafInfo.h"

namespace zelt::test {
namespace {

const std::vector<Topic> kTopics = {
    {"Поезд в Крым", "t101", "Путешествия", "9", "Иван"},
    {"Ремонт &quot;Жигулей&quot;", "t102", "Авто", "10", "Пётр"},
    {"Дача", "t103", "Дом", "2", "Ольга"},
};

using MainFormTest = UiFixture;

TEST_F(MainFormTest, ReplyFillsRowsWithTextsImagesAndRecords) {
  main->ShowFromTray();
  Reply(false, kTopics);
  ASSERT_EQ(List().Count(), 3);
  ASSERT_EQ(Checker->Items.size(), 3u);
  const char* titles[] = {"Поезд в Крым", "Ремонт \"Жигулей\"", "Дача"};
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    const TItemData* item = Checker->Items[static_cast<size_t>(r)].get();
    EXPECT_EQ(List().Data(r), item);
    EXPECT_EQ(List().Cell(r, 0), titles[r]);
    EXPECT_EQ(List().Cell(r, 1), kTopics[static_cast<size_t>(r)].replies);
    EXPECT_EQ(List().Cell(r, 2), kTopics[static_cast<size_t>(r)].forum);
    EXPECT_EQ(List().Cell(r, 3), kTopics[static_cast<size_t>(r)].author);
    EXPECT_EQ(List().Cell(r, 4), kTopics[static_cast<size_t>(r)].replies);  // never read: all replies are new
    EXPECT_EQ(List().Image(r), 0);
  }
  EXPECT_EQ(main->NewButton().Text(), "3");
  EXPECT_EQ(main->StatusLine().Text(), "Обновлено");

  // A reply that knows one topic as read shows it with the grey sphere.
  Checker->MarkItemRead(Checker->Items[2].get());
  Reply(false, kTopics);
  EXPECT_EQ(List().Image(RowOf("Дача")), 1);
  EXPECT_EQ(List().Cell(RowOf("Дача"), 4), "0");
  EXPECT_EQ(main->NewButton().Text(), "2");
}

TEST_F(MainFormTest, HeaderClicksSortTextuallyAndFlipTheDirection) {
  main->ShowFromTray();
  Reply(false, kTopics);
  HWND list = List().Handle();
  const POINT replies = HeaderPoint(list, 1);
  Click(HeaderOf(list), replies.x, replies.y);
  app->ProcessMessages();
  // Text order: "10" before "2" before "9".
  EXPECT_EQ(Column(1), (std::vector<std::string>{"10", "2", "9"}));
  EXPECT_EQ(List().SortStyle(), TListView::SortOrder::Ascending);

  // Any further header click reverses the one direction.
  const POINT author = HeaderPoint(list, 3);
  Click(HeaderOf(list), author.x, author.y);
  app->ProcessMessages();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"Пётр", "Ольга", "Иван"}));
  EXPECT_EQ(List().SortStyle(), TListView::SortOrder::Descending);
  Click(HeaderOf(list), replies.x, replies.y);
  app->ProcessMessages();
  EXPECT_EQ(Column(1), (std::vector<std::string>{"10", "2", "9"}));

  // Rows added later are placed by their topic text in the kept direction.
  Reply(false, {{"Б", "a", "Ф", "1", "x"}, {"В", "b", "Ф", "1", "x"}, {"А", "c", "Ф", "1", "x"}});
  EXPECT_EQ(Column(0), (std::vector<std::string>{"А", "Б", "В"}));
}

TEST_F(MainFormTest, OpeningUnreadAndReadTopics) {
  main->ShowFromTray();
  Reply(false, kTopics);
  info->SetMessage("---------");
  HWND list = List().Handle();

  // Unread: the link opens, the counter drops, the read mark is saved.
  const int row = RowOf("Дача");
  const POINT p = RowPoint(list, row);
  Click(list, p.x, p.y);
  DoubleClick(list, p.x, p.y);
  app->ProcessMessages();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], ForumBaseUrl() + "t103-0-17");
  EXPECT_EQ(Checker->UnreadCount, 2);
  EXPECT_EQ(main->NewButton().Text(), "2");
  EXPECT_EQ(info->Message(), "2 новых сообщений");
  EXPECT_EQ(List().Image(row), 1);
  EXPECT_EQ(List().Cell(row, 4), "0");
  EXPECT_NE(ReadFileBytes(programDir + "data.dat").find(ForumBaseUrl() + "t103-1\x11" "2"), std::string::npos);

  // Already read, with the right button this time: the link opens again,
  // nothing else changes. (The right button's release also opens the
  // context menu, which is dismissed.)
  RunLater([] { EndMenu(); });
  DoubleClick(list, p.x, p.y, /*right=*/true);
  app->ProcessMessages();
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(Checker->UnreadCount, 2);
  EXPECT_EQ(main->NewButton().Text(), "2");
  EXPECT_EQ(info->Message(), "2 новых сообщений");

  // No selection: nothing.
  List().Select(-1);
  main->OpenTopic();
  EXPECT_EQ(opened.size(), 2u);
}

// A peer that answers every ZELTI_HERE with a ZELTI_FIND sent from inside the
// HERE: the first FIND is answered once, those that arrive while the answer is
// under way are not (or the answers would never end).
TEST_F(MainFormTest, AFindArrivingWhileOneIsAnsweredIsIgnored) {
  static int heres;
  heres = 0;
  WNDCLASSW wc{};
  wc.lpszClassName = L"ZeltTestPeer";
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == ZELTI_HERE && ++heres < 20) Broadcast(ZELTI_FIND);
    return DefWindowProcW(h, m, w, l);
  };
  RegisterClassW(&wc);
  HWND peer = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  SendMessageW(main->Handle(), ZELTI_FIND, 0, 0);
  DestroyWindow(peer);
  EXPECT_EQ(heres, 1);
}

// A topic whose link holds a blank or a quote is marked read but not opened.
TEST_F(MainFormTest, ATopicLinkThatIsNoPlainForumLinkOpensNothing) {
  Reply(false, {{"Кавычка", "t\" x", "Ф", "1", "a"}});
  List().Select(0);
  main->OpenTopic();
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(List().Image(0), 1);
}

TEST_F(MainFormTest, LastUnreadTopicLeavesThePopupOnScreen) {
  Reply(false, {kTopics[0]});
  ASSERT_TRUE(info->Visible());
  List().Select(0);
  main->OpenTopic();
  EXPECT_EQ(info->Message(), "0 новых сообщений");
  EXPECT_EQ(main->NewButton().Text(), "0");
  EXPECT_TRUE(info->Visible());
}

TEST_F(MainFormTest, AllReadOnFullAndEmptyLists) {
  Reply(false, kTopics);
  ASSERT_TRUE(info->Visible());
  SendMessageW(main->AllReadButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(Checker->UnreadCount, 0);
  EXPECT_EQ(main->NewButton().Text(), "0");
  EXPECT_EQ(info->Message(), "0 новых сообщений");
  EXPECT_FALSE(info->Visible());
  for (int r = 0; r < List().Count(); ++r) {
    EXPECT_EQ(List().Image(r), 1);
    EXPECT_EQ(List().Cell(r, 4), "0");
    EXPECT_TRUE(static_cast<TItemData*>(List().Data(r))->Read);
  }
  EXPECT_EQ(Checker->ReadMarks.Count(), 3u);

  // An empty list: the counter still goes to 0 and the popup away.
  Reply(false, {});
  Checker->HandleReply(CompressedBody("0"));
  ASSERT_EQ(List().Count(), 0);
  Checker->UnreadCount = 4;
  main->ShowInfo();
  ASSERT_TRUE(info->Visible());
  SendMessageW(main->AllReadButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(Checker->UnreadCount, 0);
  EXPECT_EQ(main->NewButton().Text(), "0");
  EXPECT_FALSE(info->Visible());
}

TEST_F(MainFormTest, ContextMenuIsGreyedWithoutSelectionAndAddsTheSelectedTopic) {
  main->ShowFromTray();
  Reply(false, kTopics);
  HWND list = List().Handle();
  struct Case {
    int row;
    bool enabled;
  } cases[] = {{-1, false}, {1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    List().Select(c.row);
    bool seenEnabled = !c.enabled;
    bool menuShown = false;
    RunLater([&] {
      menuShown = FindWindowW(L"#32768", nullptr) != nullptr;
      seenEnabled = main->ListMenu().Enabled(0);
      // Choose the item with the keyboard, as a user would.
      PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
      PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    });
    RECT rc;
    GetWindowRect(list, &rc);
    SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(rc.left + 40, rc.top + 40));
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(seenEnabled, c.enabled);
  }
  ASSERT_EQ(Checker->Favorites.Count(), 1u);
  EXPECT_EQ(Checker->Favorites[0], "Ремонт \"Жигулей\"\x11" "Авто\x11" + ForumBaseUrl() + "t102-0-17\x11");
}

TEST_F(MainFormTest, KeysActOnKeyUpWithTheFocusInTheList) {
  main->ShowFromTray();
  Reply(false, kTopics);
  HWND list = List().Handle();
  SetFocus(list);

  // F5: a poll at once (the request is counted when it leaves).
  const uint32_t out = Checker->TotalOutBytes;
  PostMessageW(list, WM_KEYDOWN, VK_F5, 1);
  app->ProcessMessages();
  EXPECT_EQ(Checker->TotalOutBytes, out) << "key-down alone does nothing";
  PostMessageW(list, WM_KEYUP, VK_F5, 0xC0000001);
  app->ProcessMessages();
  EXPECT_EQ(Checker->TotalOutBytes, out + 544);
  ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker->Loader->Busy; }));

  // F3: the traffic window, modal; its caption is updated when it closes.
  bool trafficShown = false;
  RunLater([&] {
    TTrafInfo* t = main->TrafficWindow();
    trafficShown = t && t->Visible();
    if (t) PostKey(t->Handle(), VK_ESCAPE);
  });
  PostKey(list, VK_F3);
  app->ProcessMessages();
  EXPECT_TRUE(trafficShown);
  EXPECT_EQ(main->TrafficWindow(), nullptr);
  EXPECT_EQ(main->TrafficButton().Text(), FormatSize(Checker->TotalInBytes + Checker->TotalOutBytes, 1));

  // F9: everything read.
  PostKey(list, VK_F9);
  app->ProcessMessages();
  EXPECT_EQ(Checker->UnreadCount, 0);
  EXPECT_EQ(main->NewButton().Text(), "0");

  // F1: the help file beside the program.
  PostKey(list, VK_F1);
  app->ProcessMessages();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], programDir + "Help\\Zelt Rarazovo.chm");

  // F7: the settings window, modal; closing it leaves no count behind.
  bool settingsShown = false;
  RunLater([&] {
    TForm* s = main->Dialog(TMainForm::dkSettings);
    settingsShown = s && s->Visible();
    if (s) s->Close();
  });
  PostKey(list, VK_F7);
  app->ProcessMessages();
  EXPECT_TRUE(settingsShown);
  EXPECT_EQ(main->Dialog(TMainForm::dkSettings), nullptr);
  EXPECT_EQ(main->ModalDepth, 0);
  EXPECT_TRUE(main->TrayMenu().Enabled(TMainForm::tiExit));

  // Esc: the window goes to the tray.
  ASSERT_TRUE(IsWindowVisible(main->Handle()));
  PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
  app->ProcessMessages();
  EXPECT_TRUE(IsWindowVisible(main->Handle())) << "key-down alone does nothing";
  PostMessageW(list, WM_KEYUP, VK_ESCAPE, 0xC0000001);
  app->ProcessMessages();
  EXPECT_FALSE(IsWindowVisible(main->Handle()));
}

TEST_F(MainFormTest, FitColumnsGivesTheRestToTheTopicColumn) {
  main->ShowFromTray();
  Checker->TopicCount = 30;  // the most a reply may bring
  struct Case {
    int rows;
    bool scrollBar;
  } cases[] = {{3, false}, {30, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    std::vector<Topic> topics;
    for (int i = 0; i < c.rows; ++i)
      topics.push_back({"Тема " + std::to_string(i), "p" + std::to_string(i), "Ф", "1", "a"});
    Reply(false, topics);  // csDone fits the columns
    const bool hasBar = (GetWindowLongW(List().Handle(), GWL_STYLE) & WS_VSCROLL) != 0;
    EXPECT_EQ(hasBar, c.scrollBar);
    RECT client;
    GetClientRect(List().Handle(), &client);
    RECT window;
    GetWindowRect(List().Handle(), &window);
    const int border = 2 * GetSystemMetrics(SM_CXEDGE);
    const int bar = c.scrollBar ? GetSystemMetrics(SM_CXVSCROLL) : 0;
    EXPECT_EQ(client.right, window.right - window.left - border - bar);
    EXPECT_EQ(List().ColumnWidthPx(1), 52);
    EXPECT_EQ(List().ColumnWidthPx(2), 150);
    EXPECT_EQ(List().ColumnWidthPx(3), 60);
    EXPECT_EQ(List().ColumnWidthPx(4), 50);
    EXPECT_EQ(List().ColumnWidthPx(0), client.right - 312);
    EXPECT_EQ(List().ColumnAlign(1), LVCFMT_CENTER);
    EXPECT_EQ(List().ColumnAlign(4), LVCFMT_CENTER);
    EXPECT_EQ(List().ColumnAlign(2), LVCFMT_LEFT);
  }
}

TEST_F(MainFormTest, ControlsSitWhereTheLayoutPutsThem) {
  RECT rc;
  GetWindowRect(main->Handle(), &rc);
  EXPECT_EQ(rc.right - rc.left, 617);
  EXPECT_EQ(rc.bottom - rc.top, 284);
  struct Case {
    HWND hwnd;
    RECT expected;  // left, top, right, bottom in the window
  } cases[] = {
      {List().Handle(), {8, 40, 609, 249}},
      {main->TrafficButton().Handle(), {280, 256, 353, 280}},
      {main->NewButton().Handle(), {360, 256, 433, 280}},
      {main->AllReadButton().Handle(), {440, 256, 513, 280}},
      {main->FavoritesButton().Handle(), {520, 256, 545, 280}},
      {main->SettingsButton().Handle(), {552, 256, 577, 280}},
      {main->RefreshButton().Handle(), {584, 256, 608, 280}},
  };
  for (const Case& c : cases) ExpectPlaced(c.hwnd, main->Handle(), c.expected);
  RECT title, status;
  GetWindowRect(main->TitleLabel().Handle(), &title);
  GetWindowRect(main->StatusLine().Handle(), &status);
  MapWindowPoints(nullptr, main->Handle(), reinterpret_cast<POINT*>(&title), 2);
  MapWindowPoints(nullptr, main->Handle(), reinterpret_cast<POINT*>(&status), 2);
  EXPECT_EQ(title.left, 8);
  EXPECT_EQ(title.top, 24);
  EXPECT_EQ(status.left, 8);
  EXPECT_EQ(status.top, 260);

  struct Text {
    TButton& button;
    const char* caption;
    const char* hint;
  } texts[] = {
      {main->TrafficButton(), "...", "Трафик"},        {main->NewButton(), "...", "Новые сообщения"},
      {main->AllReadButton(), "Все", "Все прочитаны"}, {main->FavoritesButton(), "", "Избранные темы"},
      {main->SettingsButton(), "", "Настройки"},       {main->RefreshButton(), "", "Обновить"},
  };
  main->TrafficButton().SetText("...");  // the fixture's first poll failed, so no reply changed it
  for (const Text& t : texts) {
    EXPECT_EQ(t.button.Text(), t.caption);
    wchar_t buffer[128] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = GetParent(t.button.Handle());
    ti.uId = reinterpret_cast<UINT_PTR>(t.button.Handle());
    ti.lpszText = buffer;
    SendMessageW(t.button.ToolTip(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(Narrow(buffer), t.hint);
    EXPECT_TRUE(t.button.HasPicture());
  }
  const char* headers[] = {"Тема", "Ответы", "Форум", "Автор", "Новых"};
  ASSERT_EQ(List().ColumnCount(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(List().ColumnHeader(i), headers[i]);
  EXPECT_EQ(main->TitleLabel().Text(), "Последние сообщения на форуме");
  wchar_t caption[64] = {};
  GetWindowTextW(main->Handle(), caption, 64);
  EXPECT_EQ(Narrow(caption), "Zelt Rarazovo 0.4");
  EXPECT_EQ(app->Title(), "Zelt Rarazovo 0.4");
  EXPECT_EQ(main->Tray().Tip(), "Zelt Rarazovo 0.4");
}

}  // namespace
}  // namespace zelt::test
