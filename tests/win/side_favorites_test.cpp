// The favourites window driven by messages: the rows of the Checker's
// Favorites, opening a link through the shell seam, deleting with the rows
// renumbered, sorting by a header click, clearing, and data.dat after each.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/uChecker.h"
#include "tests/win/support/side_Fixture.h"
#include "ui/uFavoritesForm.h"
#include "widgets/Dpi.h"
#include "widgets/Shell.h"

namespace zelt {
namespace {

using namespace side_test;

std::string Entry(const std::string& title, const std::string& forum, const std::string& link) {
  return title + '\x11' + forum + '\x11' + link + '\x11';
}

struct Opened {
  HWND owner;
  std::string file;
};

class side_FavoritesForm : public CheckerFixture {
 protected:
  void SetUp() override {
    CheckerFixture::SetUp();
    SetShellOpenHook([this](HWND owner, const std::string& file) { opened.push_back({owner, file}); });
  }
  void TearDown() override {
    SetShellOpenHook(nullptr);
    CheckerFixture::TearDown();
  }

  TChecker& CheckerWith(const std::vector<std::string>& entries) {
    TChecker& c = MakeChecker();
    for (const auto& e : entries) c.Favorites.Add(e);
    c.SaveData();
    AgeData();
    return c;
  }

  std::unique_ptr<TFavoritesForm> OpenForm(TChecker& c) {
    auto form = std::make_unique<TFavoritesForm>(app->Handle(), c);
    form->Show(true);
    app->ProcessMessages();
    return form;
  }

  void DoubleClickRow(TFavoritesForm& f, int row) {
    f.List().Select(row);
    RECT rc{LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(f.List().Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
    SendMessageW(f.List().Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                 MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2));
    app->ProcessMessages();
  }

  void ClickHeader(TFavoritesForm& f, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(f.List().Handle(), LVM_GETHEADER, 0, 0));
    RECT rc{};
    SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rc));
    const LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(header, WM_LBUTTONUP, 0, at);
    app->ProcessMessages();
  }

  // Each row as "title|forum|entry".
  std::vector<std::string> Rows(TFavoritesForm& f) {
    std::vector<std::string> rows;
    for (int r = 0; r < f.List().Count(); ++r)
      rows.push_back(f.List().Cell(r, 0) + "|" + f.List().Cell(r, 1) + "|" + std::to_string(f.EntryOf(r)));
    return rows;
  }

  std::vector<Opened> opened;
};

const std::string kA = Entry("Тема A", "Zeta", ForumBaseUrl() + "a-0-17");
const std::string kB = Entry("Тема B", "Alpha", ForumBaseUrl() + "b-0-17");
const std::string kC = Entry("Тема C", "Mid", ForumBaseUrl() + "c-0-17");

TEST_F(side_FavoritesForm, ListsEachEntryWithItsNumber) {
  TChecker& c = CheckerWith(
      {kA, Entry("", "Форум", ForumBaseUrl() + "empty-0-17"), "Без конца\x11Форум 2\x11" + ForumBaseUrl() + "tail", "Только название"});
  auto form = OpenForm(c);
  TFavoritesForm& f = *form;
  EXPECT_EQ(Rows(f),
            (std::vector<std::string>{"Тема A|Zeta|0", "|Форум|1", "Без конца|Форум 2|2", "Только название||3"}));
  EXPECT_EQ(f.Strip().Text(), "Избранные темы");
  RECT client;
  GetClientRect(f.Handle(), &client);
  EXPECT_EQ(client.right, Scale(425));
  EXPECT_EQ(client.bottom, Scale(193));
  struct Place {
    const char* what;
    TControl& control;
    int x, y, w, h;
    const char* hint;
  };
  const Place places[] = {
      {"list", f.List(), 8, 24, 409, 137, nullptr},
      {"clear", f.ClearButton(), 360, 162, 25, 24, "Очистить"},
      {"delete", f.DeleteButton(), 392, 162, 25, 24, "Удалить"},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.what);
    RECT rc;
    GetWindowRect(p.control.Handle(), &rc);
    MapWindowPoints(nullptr, f.Body(), reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(rc.left, Scale(p.x));
    EXPECT_EQ(rc.top, Scale(p.y));
    EXPECT_EQ(rc.right - rc.left, Scale(p.w));
    EXPECT_EQ(rc.bottom - rc.top, Scale(p.h));
    if (p.hint) {
      EXPECT_EQ(static_cast<TButton&>(p.control).Hint(), p.hint);
      EXPECT_TRUE(static_cast<TButton&>(p.control).HasPicture());
    }
  }
  EXPECT_EQ(f.List().ColumnHeader(0), "Тема");
  EXPECT_EQ(f.List().ColumnHeader(1), "Форум");
  EXPECT_EQ(f.List().ColumnWidthPx(1), Scale(150));
  EXPECT_EQ(f.List().ColumnWidthPx(0), f.List().ClientWidthPx() - Scale(150));

  // The entry without a title still opens its link; the one without its last
  // separator opens what follows the second; the one without a link, nothing.
  DoubleClickRow(f, 1);
  DoubleClickRow(f, 2);
  DoubleClickRow(f, 3);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].file, ForumBaseUrl() + "empty-0-17");
  EXPECT_EQ(opened[1].file, ForumBaseUrl() + "tail");
  EXPECT_EQ(opened[0].owner, f.Handle());
  f.List().Select(0);
  EXPECT_FALSE(Screenshot(*app, f.Handle(), "favorites").empty());
}

// A link that is not the forum's (edited into data.dat, or made from a
// hostile reply) never reaches the shell.
TEST_F(side_FavoritesForm, OpensForumLinksOnly) {
  const std::string links[] = {"\\\\host\\share\\x.exe", "C:\\x.exe", "file:///C:/x.exe", "http://elsewhere/forum/x",
                               ForumBaseUrl() + "t\" x", ForumBaseUrl() + "ok-0-17"};
  std::vector<std::string> entries;
  for (const std::string& link : links) entries.push_back(Entry("T", "F", link));
  auto form = OpenForm(CheckerWith(entries));
  for (int row = 0; row < 6; ++row) DoubleClickRow(*form, row);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].file, ForumBaseUrl() + "ok-0-17");
}

TEST_F(side_FavoritesForm, DeleteBThenOpenCThenDeleteC) {
  TChecker& c = CheckerWith({kA, kB, kC});
  auto form = OpenForm(c);
  TFavoritesForm& f = *form;

  f.List().Select(1);
  uint64_t stamp = DataStamp();
  Click(*app, f.DeleteButton().Handle());
  EXPECT_EQ(c.Favorites.Lines(), (std::vector<std::string>{kA, kC}));
  EXPECT_EQ(ReadData().Favorites.Lines(), (std::vector<std::string>{kA, kC}));
  EXPECT_NE(DataStamp(), stamp) << "written before the command returns";
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема A|Zeta|0", "Тема C|Mid|1"}));

  DoubleClickRow(f, 1);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].file, ForumBaseUrl() + "c-0-17");
  EXPECT_EQ(opened[0].owner, f.Handle());
  EXPECT_TRUE(f.Visible());
  EXPECT_EQ(GetForegroundWindow(), f.Handle()) << "the window comes back to the front";

  AgeData();
  stamp = DataStamp();
  f.List().Select(1);
  SetFocus(f.List().Handle());
  Press(*app, f.List().Handle(), VK_DELETE);
  EXPECT_EQ(c.Favorites.Lines(), (std::vector<std::string>{kA}));
  EXPECT_EQ(ReadData().Favorites.Lines(), (std::vector<std::string>{kA}));
  EXPECT_NE(DataStamp(), stamp);
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема A|Zeta|0"}));
}

TEST_F(side_FavoritesForm, SortingKeepsEachRowTiedToItsEntry) {
  TChecker& c = CheckerWith({kA, kB, kC});
  auto form = OpenForm(c);
  TFavoritesForm& f = *form;

  ClickHeader(f, 1);  // "Форум", ascending
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема B|Alpha|1", "Тема C|Mid|2", "Тема A|Zeta|0"}));
  f.List().Select(0);
  Click(*app, f.DeleteButton().Handle());
  EXPECT_EQ(c.Favorites.Lines(), (std::vector<std::string>{kA, kC})) << "the entry shown in the first row went";
  EXPECT_EQ(ReadData().Favorites.Lines(), (std::vector<std::string>{kA, kC}));
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема C|Mid|1", "Тема A|Zeta|0"}));

  DoubleClickRow(f, 0);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].file, ForumBaseUrl() + "c-0-17");

  ClickHeader(f, 0);  // a further click, on another header: descending
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема C|Mid|1", "Тема A|Zeta|0"}));
  ClickHeader(f, 1);  // and again ascending
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема C|Mid|1", "Тема A|Zeta|0"}));
  ClickHeader(f, 1);
  EXPECT_EQ(Rows(f), (std::vector<std::string>{"Тема A|Zeta|0", "Тема C|Mid|1"}));
}

TEST_F(side_FavoritesForm, SortingIgnoresCase) {
  TChecker& c = CheckerWith({Entry("cherry", "f", "l1"), Entry("Banana", "f", "l2"), Entry("apple", "f", "l3")});
  auto form = OpenForm(c);
  ClickHeader(*form, 0);
  EXPECT_EQ(Rows(*form), (std::vector<std::string>{"apple|f|2", "Banana|f|1", "cherry|f|0"}));
  ClickHeader(*form, 0);
  EXPECT_EQ(Rows(*form), (std::vector<std::string>{"cherry|f|0", "Banana|f|1", "apple|f|2"}));
}

TEST_F(side_FavoritesForm, ClearEmptiesFavoritesAndWritesDataDat) {
  struct Case {
    const char* name;
    std::vector<std::string> entries;
  };
  const Case cases[] = {{"three favourites", {kA, kB, kC}}, {"none", {}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    checker.reset();
    TChecker& c = CheckerWith(k.entries);
    const uint64_t stamp = DataStamp();
    auto form = OpenForm(c);
    Click(*app, form->ClearButton().Handle());
    EXPECT_TRUE(c.Favorites.Empty());
    EXPECT_EQ(form->List().Count(), 0);
    EXPECT_TRUE(ReadData().Favorites.Empty());
    EXPECT_NE(DataStamp(), stamp) << "data.dat is rewritten";
    EXPECT_TRUE(form->Visible()) << "no question, no closing";
  }
}

TEST_F(side_FavoritesForm, WithoutASelectionOpenAndDeleteDoNothing) {
  TChecker& c = CheckerWith({kA, kB});
  const uint64_t stamp = DataStamp();
  auto form = OpenForm(c);
  TFavoritesForm& f = *form;
  ASSERT_EQ(f.List().Selected(), -1);
  Click(*app, f.DeleteButton().Handle());
  SetFocus(f.List().Handle());
  Press(*app, f.List().Handle(), VK_DELETE);
  SendMessageW(f.List().Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 120));  // below the rows
  app->ProcessMessages();
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(c.Favorites.Count(), 2u);
  EXPECT_EQ(DataStamp(), stamp);
}

TEST_F(side_FavoritesForm, EscClosesEvenFromTheList) {
  TChecker& c = CheckerWith({kA});
  auto form = OpenForm(c);
  SetFocus(form->List().Handle());
  KeyDown(*app, form->List().Handle(), VK_ESCAPE);
  EXPECT_TRUE(form->Visible()) << "acted on at key-up";
  KeyUp(*app, form->List().Handle(), VK_ESCAPE);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(c.Favorites.Count(), 1u);
}

TEST(side_SplitFavorite, FieldsEndAtTheCharacter17) {
  struct Case {
    std::string entry;
    const char *title, *forum, *link;
  };
  const Case cases[] = {
      {"T\x11"
       "F\x11L\x11",
       "T", "F", "L"},
      {"T\x11"
       "F\x11L",
       "T", "F", "L"},
      {"T\x11"
       "F",
       "T", "F", ""},
      {"T", "T", "", ""},
      {"", "", "", ""},
      {"\x11\x11L\x11", "", "", "L"},
      {"T\x11"
       "F\x11L\x11"
       "extra\x11",
       "T", "F", "L"},
  };
  for (const Case& k : cases) {
    const TFavoriteFields f = SplitFavorite(k.entry);
    EXPECT_EQ(f.Title, k.title);
    EXPECT_EQ(f.Forum, k.forum);
    EXPECT_EQ(f.Link, k.link);
  }
}

}  // namespace
}  // namespace zelt
