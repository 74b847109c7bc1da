// The side windows over a checker, driven by messages: settings (fields,
// the typing rules, what "Сохранить" writes and sends, every other way out),
// favourites, the sound scheme and the about window.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include "BuildConfig.h"
#include "core/Settings.h"
#include "tests/support/Win.h"
#include "ui/uAboutForm.h"
#include "ui/uFavoritesForm.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"

namespace zelt::fake {
namespace {

class Side : public WinCheckerTest {
 protected:
  // A known state, saved to data.dat and loaded by a new checker.
  TChecker& Load() {
    checker.reset();
    TDataImage d;
    d.IntervalMs = 420000;
    d.TopicCount = 12;
    d.ProxyServer = "10.0.0.5";
    d.ProxyPort = 3128;
    d.UserName = "пользователь";
    d.Password = "секрет";
    d.Nick = "Ivan";
    d.IgnoreOwnPosts = d.AutoStart = d.UseIESettings = true;
    d.SoundNewMessages = "C:\\a\\one.ogg";
    d.SoundNewVersion = "C:\\a\\two.ogg";
    d.SoundError = "C:\\a\\three.ogg";
    for (const std::string& f : {kA, kB, kC}) d.Favorites.Add(f);
    d.TotalOutBytes = 1000;
    WriteData(d);
    return Make();
  }
  template <class Form>
  std::unique_ptr<Form> Open() {
    auto form = std::make_unique<Form>(Context(app->Handle()));
    form->Show(true);
    app->ProcessMessages();
    return form;
  }
  void DoubleClickRow(TListView& list, int row) {
    list.Select(row);
    const POINT p = RowPoint(list.Handle(), row);
    SendMessageW(list.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    app->ProcessMessages();
  }
  // Each row as "title|forum|its entry's number".
  std::vector<std::string> Rows(TFavoritesForm& f) {
    std::vector<std::string> rows;
    for (int r = 0; r < f.List().Count(); ++r)
      rows.push_back(f.List().Cell(r, 0) + "|" + f.List().Cell(r, 1) + "|" + std::to_string(f.EntryOf(r)));
    return rows;
  }
  static inline const std::string kA = "Тема A\x11Zeta\x11" + ForumBaseUrl() + "a-0-17\x11";
  static inline const std::string kB = "тема b\x11" "Alpha\x11" + ForumBaseUrl() + "b-0-17\x11";
  // One without the separator at its end: its link opens all the same.
  static inline const std::string kC = "Тема C\x11Mid\x11" + ForumBaseUrl() + "c-0-17";
};

TEST_F(Side, SettingsShowNumbersOutOfRangeCorrected) {
  const struct {
    int32_t intervalMs, topics;
    uint16_t port;
    const char *interval, *topicsText, *portText;
  } cases[] = {{300000, 10, 0, "5", "10", ""},     {90000, 30, 8080, "1", "30", "8080"},
               {7200000, 45, 65535, "60", "30", "65535"}, {30000, -3, 1, "1", "1", "1"}};
  TChecker& c = Load();
  for (const auto& k : cases) {
    TSettings s = c.Settings();
    s.IntervalMs = k.intervalMs;
    s.TopicCount = k.topics;
    s.ProxyPort = k.port;
    c.ApplySettings(s);
    auto f = Open<TSettingsForm>();
    EXPECT_EQ(f->IntervalEdit().Text() + "|" + f->TopicsEdit().Text() + "|" + f->PortEdit().Text(),
              std::string(k.interval) + "|" + k.topicsText + "|" + k.portText);
    EXPECT_EQ(c.Settings().TopicCount, k.topics) << "opening changes nothing";
  }
}

TEST_F(Side, SettingsFieldsTakeOnlyWhatFitsAndHoldItInRange) {
  enum Kind { SelectAll, End, Typed, Paste };
  const struct {
    const char* name;
    TEdit& (TSettingsForm::*field)();
    const char* initial;
    std::vector<std::tuple<Kind, std::string, const char*, int>> steps;  // what, text, expected, all selected
  } cases[] = {
      {"0 then 7", &TSettingsForm::IntervalEdit, "5", {{SelectAll, "", "5", 1}, {Typed, "0", "1", 1}, {Typed, "7", "7", 0}}},
      {"6 then 1", &TSettingsForm::IntervalEdit, "5", {{SelectAll, "", "5", 1}, {Typed, "6", "6", 0}, {Typed, "1", "60", 1}}},
      {"3 then 1", &TSettingsForm::TopicsEdit, "10", {{SelectAll, "", "10", 1}, {Typed, "3", "3", 0}, {Typed, "1", "30", 1}}},
      {"70000", &TSettingsForm::PortEdit, "", {{Typed, "7000", "7000", 0}, {Typed, "0", "65535", 1}}},
      {"emptied", &TSettingsForm::TopicsEdit, "10", {{End, "", "10", 0}, {Typed, "\b", "1", 0}, {Typed, "\b", "1", 1}}},
      {"letters in numbers", &TSettingsForm::IntervalEdit, "5", {{End, "", "5", 0}, {Typed, "a-+ .x\x16", "5", 0}}},
      {"letters in the server", &TSettingsForm::ServerEdit, "", {{Typed, "host10.0.0.1", "10.0.0.1", -1}}},
      {"anything in the nick", &TSettingsForm::NickEdit, "", {{Typed, "Иван Petrov!", "Иван Petrov!", -1}}},
      {"Ctrl+V in text fields", &TSettingsForm::UserEdit, "", {{Typed, "\x16", "clip 45", -1}}},
      {"pasted above the bound", &TSettingsForm::TopicsEdit, "10", {{SelectAll, "", "10", 1}, {Paste, "99", "30", 1}}},
      {"pasted letters", &TSettingsForm::IntervalEdit, "5", {{SelectAll, "", "5", 1}, {Paste, "abc", "1", 1}}},
      {"pasted huge", &TSettingsForm::PortEdit, "", {{Paste, "123456789012345678901234567890", "65535", 1}}},
      {"pasted in range", &TSettingsForm::IntervalEdit, "5", {{SelectAll, "", "5", 1}, {Paste, "45", "45", 0}}},
  };
  auto clip = [](const std::string& text) {
    const std::wstring w = Widen(text);
    OpenClipboard(nullptr);
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(mem), w.c_str(), (w.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(mem);
    SetClipboardData(CF_UNICODETEXT, mem);
    CloseClipboard();
  };
  TChecker& c = Load();
  auto f = Open<TSettingsForm>();
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    TEdit& e = ((*f).*k.field)();
    e.SetText(k.initial);
    SetFocus(e.Handle());
    clip("clip 45");
    for (const auto& [kind, text, expected, selected] : k.steps) {
      const int n = GetWindowTextLengthW(e.Handle());
      if (kind == SelectAll) e.SelectAll();
      if (kind == End) e.SetSelection(n, n);
      if (kind == Typed) Type(*app, e.Handle(), text);
      if (kind == Paste) {
        clip(text);
        SendMessageW(e.Handle(), WM_PASTE, 0, 0);
        app->ProcessMessages();
      }
      EXPECT_EQ(e.Text(), expected);
      int s = 0, t = 0;
      e.GetSelection(s, t);
      if (selected >= 0) {
        EXPECT_EQ(s == 0 && t == GetWindowTextLengthW(e.Handle()) && t > 0, selected == 1) << expected;
      }
    }
  }
  EXPECT_EQ(c.Settings().TopicCount, 12) << "the fields are the window's own until saved";
}

TEST_F(Side, SaveWritesEveryFieldAndPollsAtOnceAskingAfreshOnlyForANewCount) {
  for (const char* topics : {"25", "12"}) {
    SCOPED_TRACE(topics);
    TChecker& c = Load();
    c.HandleReply(CompressedBody(ReplyText(false, {{"Previous", "p", "F", "1", "x"}})));
    c.SaveData();
    ASSERT_EQ(registry.Values.count(std::string(kRunKey) + "\\" + kRunValue), 1u);
    http.Reset();
    http.SetDefault({.failAt = Step::Send});
    auto f = Open<TSettingsForm>();
    EXPECT_EQ(f->ServerEdit().Text() + "|" + f->UserEdit().Text() + "|" + f->PasswordEdit().Text() + "|" +
                  f->NickEdit().Text(),
              "10.0.0.5|пользователь|секрет|Ivan");
    EXPECT_TRUE(f->PasswordEdit().IsPassword());
    f->TopicsEdit().SetText(topics);
    f->IntervalEdit().SetText("2");
    f->ServerEdit().SetText("proxy.local");
    f->PortEdit().SetText("");
    f->UserEdit().SetText("user2");
    f->PasswordEdit().SetText("pw2");
    f->NickEdit().SetText("Пётр");
    // Each box flips what it showed.
    for (TCheckBox* b : {&f->IgnoreOwnBox(), &f->ShowOnNewBox(), &f->AutoStartBox(), &f->UseSoundsBox(), &f->UseIEBox()})
      Click(*app, b->Handle());
    Click(*app, f->SaveButton().Handle());
    EXPECT_FALSE(f->Visible());
    const TDataImage d = Data();
    EXPECT_EQ(std::to_string(d.IntervalMs) + "|" + std::to_string(d.TopicCount) + "|" + d.ProxyServer + ":" +
                  std::to_string(d.ProxyPort) + "|" + d.UserName + "|" + d.Password + "|" + d.Nick,
              "120000|" + std::string(topics) + "|proxy.local:0|user2|pw2|Пётр");
    EXPECT_EQ(std::string() + "01" [d.IgnoreOwnPosts] + "01"[d.ShowOnNew] + "01"[d.AutoStart] + "01"[d.UseSounds] +
                  "01"[d.UseIESettings],
              "01010");
    EXPECT_EQ(c.Settings().IntervalMs, 120000);
    EXPECT_EQ(registry.Values.count(std::string(kRunKey) + "\\" + kRunValue), 0u) << "autostart off";
    EXPECT_EQ(d.TotalOutBytes, 1000u) << "saved before the poll";
    ASSERT_TRUE(PumpUntil(*app, [&] { return http.RequestCount() == 1; }));
    EXPECT_EQ(http.Requests()[0].path, "/inf.php?c=" + std::string(topics) + "&u=0.4&p=" + (topics[0] == '2' ? "0" : "1"));
    ASSERT_TRUE(http.WaitIdle());
  }
}

TEST_F(Side, EveryWayOutOfTheSettingsButSaveChangesNothing) {
  const struct {
    const char* name;
    std::function<void(TSettingsForm&, TApplication&)> close;
  } ways[] = {
      {"Esc in a field", [](TSettingsForm& f, TApplication& a) { Press(a, f.NickEdit().Handle(), VK_ESCAPE); }},
      {"Esc on a box", [](TSettingsForm& f, TApplication& a) { Press(a, f.UseSoundsBox().Handle(), VK_ESCAPE); }},
      {"close button", [](TSettingsForm& f, TApplication& a) { Click(a, f.Strip().CloseButton().Handle()); }},
      {"Отмена", [](TSettingsForm& f, TApplication& a) { Click(a, f.CancelButton().Handle()); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    TChecker& c = Load();
    const std::string bytes = DataBytes();
    auto f = Open<TSettingsForm>();
    f->TopicsEdit().SelectAll();
    Type(*app, f->TopicsEdit().Handle(), "3");
    Type(*app, f->NickEdit().Handle(), "x");
    Click(*app, f->AutoStartBox().Handle());
    // A release whose press went elsewhere (a dialog that closed on it) is no Esc.
    KeyUp(*app, f->TopicsEdit().Handle(), VK_ESCAPE);
    ASSERT_TRUE(f->Visible());
    way.close(*f, *app);
    EXPECT_FALSE(f->Visible());
    c.SaveData();
    EXPECT_EQ(DataBytes(), bytes);
    EXPECT_EQ(http.RequestCount(), 0u);
  }
}

TEST_F(Side, TheSoundLinkOpensTheSchemeOverTheSettingsAndItsChangeOutlivesCancel) {
  TChecker& c = Load();
  const std::string bytes = DataBytes();
  auto f = Open<TSettingsForm>();
  TLinkLabel& link = f->EditSoundsLink();
  SendMessageW(link.Handle(), WM_MOUSEMOVE, 0, 0);
  EXPECT_TRUE(link.Underlined()) << "under the pointer";
  SendMessageW(link.Handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(link.Underlined());
  desktop.DialogAnswer = "C:\\new\\beep.wav";
  bool settingsDisabled = false;
  RunLater([&] {
    auto* sounds = dynamic_cast<TSoundsForm*>(TWindow::FromHandle(FindWindowW(L"ZeltForm", L"Звуковая схема")));
    settingsDisabled = !IsWindowEnabled(f->Handle());
    if (!sounds) return;
    sounds->List().Select(2);
    sounds->Replace();
    PostKey(sounds->List().Handle(), VK_ESCAPE);
  }, 100);
  SendMessageW(link.Handle(), WM_LBUTTONUP, 0, 0);  // a release without a press is no click
  SendMessageW(link.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(link.Handle(), WM_LBUTTONUP, 0, 0);
  EXPECT_TRUE(settingsDisabled);
  EXPECT_TRUE(IsWindowEnabled(f->Handle()));
  EXPECT_TRUE(f->Visible()) << "Esc in the scheme closes the scheme only";
  Click(*app, f->CancelButton().Handle());
  EXPECT_EQ(c.Settings().SoundError, "C:\\new\\beep.wav");
  EXPECT_EQ(DataBytes(), bytes) << "the sound reaches data.dat at the next save";
}

TEST_F(Side, DeletingOrSortingFavouritesKeepsEachRowTiedToItsEntryAndSavesAtOnce) {
  TChecker& c = Load();
  auto f = Open<TFavoritesForm>();
  f->Sort(TFavoriteColumn::Title);  // ignoring case
  EXPECT_EQ(Rows(*f), (std::vector<std::string>{"Тема A|Zeta|0", "тема b|Alpha|1", "Тема C|Mid|2"}));
  f->List().Select(1);
  Click(*app, f->DeleteButton().Handle());
  EXPECT_EQ(Rows(*f), (std::vector<std::string>{"Тема A|Zeta|0", "Тема C|Mid|1"}));
  EXPECT_EQ(Data().Favorites.Lines(), (std::vector<std::string>{kA, kC}));
  DoubleClickRow(f->List(), 1);
  EXPECT_EQ(desktop.Opened.at(0).second, ForumBaseUrl() + "c-0-17");
  f->Sort(TFavoriteColumn::Forum);  // any further click flips the direction: descending
  EXPECT_EQ(Rows(*f), (std::vector<std::string>{"Тема A|Zeta|0", "Тема C|Mid|1"}));
  f->List().Select(0);
  SetFocus(f->List().Handle());
  Press(*app, f->List().Handle(), VK_DELETE);
  EXPECT_EQ(Data().Favorites.Lines(), std::vector<std::string>{kC});
  f->List().Select(-1);
  Click(*app, f->DeleteButton().Handle());
  SendMessageW(f->List().Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 120));  // below the rows
  app->ProcessMessages();
  EXPECT_EQ(c.Favorites().Count(), 1u) << "no selection, nothing deleted";
  EXPECT_EQ(desktop.Opened.size(), 1u) << "nor opened";
  Click(*app, f->ClearButton().Handle());
  EXPECT_EQ(f->List().Count(), 0);
  EXPECT_TRUE(Data().Favorites.Empty());
  EXPECT_TRUE(f->Visible()) << "no question, no closing";
}

TEST_F(Side, TheSoundSchemeShowsFileNamesAndChangesTheCheckerAtOnce) {
  TChecker& c = Load();
  c.SetSound(TSoundEvent::NewVersion, "d:beep.wav");
  c.SetSound(TSoundEvent::Error, "C:\\dir\\");
  auto f = Open<TSoundsForm>();
  using V = std::vector<std::string>;
  auto cells = [&] { return ListRows(f->List(), {1}); };
  EXPECT_EQ(ListRows(f->List(), {0}), (V{"Новые сообщения", "Выпущено обновление", "Ошибка"}));
  EXPECT_EQ(cells(), (V{"one.ogg", "beep.wav", ""}));
  const std::string bytes = DataBytes();
  // Replace by the button, a double click or Enter; the dialog as asked.
  desktop.DialogAnswer = "C:\\Мои звуки\\новый.wav";
  Click(*app, f->ReplaceButton().Handle());
  EXPECT_TRUE(desktop.Dialogs.empty()) << "no row, no dialog";
  const std::function<void()> replace[] = {[&] { Press(*app, f->List().Handle(), VK_RETURN); },
                                           [&] { Click(*app, f->ReplaceButton().Handle()); },
                                           [&] { DoubleClickRow(f->List(), 2); }};
  for (int row = 0; row < 3; ++row) {
    f->List().Select(row);
    SetFocus(f->List().Handle());
    replace[row]();
  }
  EXPECT_EQ(cells(), (V{"новый.wav", "новый.wav", "новый.wav"}));
  EXPECT_EQ(c.Settings().SoundError, desktop.DialogAnswer);
  EXPECT_EQ(desktop.Dialogs.size(), 3u);
  desktop.DialogAnswer.clear();  // cancelled: the row keeps its sound
  Click(*app, f->ReplaceButton().Handle());
  EXPECT_EQ(c.Settings().SoundError, "C:\\Мои звуки\\новый.wav");
  // Delete, then the defaults beside the program (not looked for).
  SetFocus(f->List().Handle());
  Press(*app, f->List().Handle(), VK_DELETE);
  EXPECT_EQ(c.Settings().SoundError, "");
  EXPECT_EQ(cells(), (V{"новый.wav", "новый.wav", ""}));
  Click(*app, f->DefaultsButton().Handle());
  EXPECT_EQ(cells(), (V{"Сообщение.ogg", "Новая версия.ogg", "Ошибка.ogg"}));
  EXPECT_EQ(c.Settings().SoundNewVersion, NameOf(c.ProgramDir()) + "Sounds\\Новая версия.ogg");
  EXPECT_EQ(DataBytes(), bytes) << "data.dat gets them at the next save";
  // The release of an Esc that closed the file dialog is no Esc of its own.
  KeyUp(*app, f->List().Handle(), VK_ESCAPE);
  EXPECT_TRUE(f->Visible());
  Press(*app, f->List().Handle(), VK_ESCAPE);
  EXPECT_FALSE(f->Visible());
}

// The character range of the first occurrence of `text`.
CHARRANGE Find(TRichEdit& edit, const std::string& text) {
  std::wstring w = Widen(text);
  FINDTEXTEXW ft{{0, -1}, w.c_str(), {}};
  SendMessageW(edit.Handle(), EM_FINDTEXTEXW, FR_DOWN | FR_MATCHCASE, reinterpret_cast<LPARAM>(&ft));
  return ft.chrgText;
}
POINT PointOf(TRichEdit& edit, const CHARRANGE& range) {
  POINTL p{};
  SendMessageW(edit.Handle(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&p), (range.cpMin + range.cpMax) / 2);
  return POINT{p.x + 1, p.y + 4};
}

TEST_F(Side, TheAboutWindowShowsThisBuildsAddressesReadOnlyAndOpensTheThreadLink) {
  Make();
  TAboutForm f(Context(app->Handle()));
  f.Show(true);
  TRichEdit& text = f.Text();
  const std::string shown = text.PlainText();
  size_t at = 0;
  for (const std::string part : {"Zelt Rarazovo 0.4\r\n", "Программа Zelt Rarazovo 0.4 следит за форумом",
                                 build::kForumThread, build::kContactMail}) {
    at = shown.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " in " << shown;
  }
  Type(*app, text.Handle(), "xyz");
  SendMessageW(text.Handle(), WM_PASTE, 0, 0);
  EXPECT_EQ(text.PlainText(), shown) << "read-only";
  for (const std::string& where : {std::string("следит"), std::string(build::kForumThread)}) {
    const POINT p = PointOf(text, Find(text, where));
    SendMessageW(text.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(text.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    app->ProcessMessages();
  }
  EXPECT_EQ(desktop.Opened, (std::vector<std::pair<HWND, std::string>>{{f.Handle(), build::kForumThread}}));
  EXPECT_TRUE(f.Visible());
}

}  // namespace
}  // namespace zelt::fake
