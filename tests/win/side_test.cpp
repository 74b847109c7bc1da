// The side windows over a checker, driven by messages: settings (its
// fields, what "Сохранить" writes and sends, every other way out) and
// favourites.

#include "core/Settings.h"
#include "tests/support/Win.h"
#include "ui/uFavoritesForm.h"
#include "ui/uSettingsForm.h"

namespace zelt::fake {
namespace {

class Side : public WinCheckerTest {
 protected:
  // A known state, saved to data.dat and loaded by a new checker.
  TChecker& Load() {
    checker.reset();
    TDataImage d;
    static_cast<TSettings&>(d) = {.IntervalMs = 420000, .TopicCount = 12, .IgnoreOwnPosts = true, .AutoStart = true,
                                  .UseIESettings = true, .ProxyPort = 3128, .ProxyServer = "10.0.0.5",
                                  .UserName = "пользователь", .Password = "секрет", .Nick = "Ivan"};
    for (const std::string& f : {kA, kB, kC}) d.Favorites.Add(f);
    WriteData(d);
    return Make();
  }
  template <class Form>
  std::unique_ptr<Form> Open() {
    auto form = std::make_unique<Form>(Context(app->Owner()));
    form->Show(true);
    app->ProcessMessages();
    return form;
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

// What the checker makes of the settings (the count asked afresh at once,
// autostart) is the portable tests'; here, that every field reaches it.
TEST_F(Side, SaveWritesEveryFieldIntoTheChecker) {
  TChecker& c = Load();
  http.SetDefault({.failAt = Step::Send});
  auto f = Open<TSettingsForm>();
  EXPECT_EQ(f->ServerEdit().Text() + "|" + f->UserEdit().Text() + "|" + f->PasswordEdit().Text() + "|" +
                f->NickEdit().Text(),
            "10.0.0.5|пользователь|секрет|Ivan");
  EXPECT_TRUE(f->PasswordEdit().IsPassword());
  // Every field takes a new text; each box flips what it showed.
  const std::pair<TEdit*, const char*> typed[] = {
      {&f->TopicsEdit(), "25"}, {&f->IntervalEdit(), "2"}, {&f->ServerEdit(), "proxy.local"}, {&f->PortEdit(), ""},
      {&f->UserEdit(), "user2"}, {&f->PasswordEdit(), "pw2"}, {&f->NickEdit(), "Пётр"}};
  for (const auto& [edit, text] : typed) edit->SetText(text);
  for (TCheckBox* b : {&f->IgnoreOwnBox(), &f->ShowOnNewBox(), &f->AutoStartBox(), &f->UseSoundsBox(), &f->UseIEBox()})
    Click(*app, b->Handle());
  Click(*app, f->SaveButton().Handle());
  EXPECT_FALSE(f->Visible());
  const TDataImage d = Data();
  EXPECT_EQ(std::to_string(d.IntervalMs) + "|" + std::to_string(d.TopicCount) + "|" + d.ProxyServer + ":" +
                std::to_string(d.ProxyPort) + "|" + d.UserName + "|" + d.Password + "|" + d.Nick,
            "120000|25|proxy.local:0|user2|pw2|Пётр");
  EXPECT_EQ(std::string() + "01" [d.IgnoreOwnPosts] + "01"[d.ShowOnNew] + "01"[d.AutoStart] + "01"[d.UseSounds] +
                "01"[d.UseIESettings],
            "01010");
  EXPECT_EQ(c.Settings().IntervalMs, 120000);
}

TEST_F(Side, EveryWayOutOfTheSettingsButSaveChangesNothing) {
  const struct {
    const char* name;
    std::function<void(TSettingsForm&, TApplication&)> close;
  } ways[] = {
      {"Esc in a field", [](TSettingsForm& f, TApplication& a) { Press(a, f.NickEdit().Handle(), VK_ESCAPE); }},
      {"close button", [](TSettingsForm& f, TApplication& a) { Click(a, f.Strip().CloseButton().Handle()); }},
      {"Отмена", [](TSettingsForm& f, TApplication& a) { Click(a, f.CancelButton().Handle()); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    TChecker& c = Load();
    const std::string bytes = DataBytes();
    auto f = Open<TSettingsForm>();
    f->TopicsEdit().SelectAll();
    PostMessageW(f->TopicsEdit().Handle(), WM_CHAR, L'3', 1);  // typed, as the system queues it
    PostMessageW(f->NickEdit().Handle(), WM_CHAR, L'x', 1);
    app->ProcessMessages();
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

TEST_F(Side, DeletingOrSortingFavouritesKeepsEachRowTiedToItsEntryAndSavesAtOnce) {
  TChecker& c = Load();
  auto f = Open<TFavoritesForm>();
  f->Sort(TFavoriteColumn::Title);  // ignoring case
  EXPECT_EQ(Rows(*f), (std::vector<std::string>{"Тема A|Zeta|0", "тема b|Alpha|1", "Тема C|Mid|2"}));
  f->List().Select(1);
  Click(*app, f->DeleteButton().Handle());
  EXPECT_EQ(Rows(*f), (std::vector<std::string>{"Тема A|Zeta|0", "Тема C|Mid|1"}));
  EXPECT_EQ(Data().Favorites.Lines(), (std::vector<std::string>{kA, kC}));
  f->List().Select(1);
  const POINT p = RowPoint(f->List().Handle(), 1);
  SendMessageW(f->List().Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  app->ProcessMessages();
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

}  // namespace
}  // namespace zelt::fake
