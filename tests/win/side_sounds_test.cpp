// The sound scheme window driven by messages: the list of events and their
// files, Replace through the file dialog (observed at its seam), Delete,
// Defaults, the keys, and changes that reach the Checker at once.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/uChecker.h"
#include "tests/win/support/side_Fixture.h"
#include "ui/uSoundsForm.h"
#include "widgets/Dpi.h"
#include "widgets/FileDialog.h"

namespace zelt {
namespace {

using namespace side_test;

struct DialogCall {
  FileDialogKind kind;
  TFileDialogRequest request;
};

class side_SoundsForm : public CheckerFixture {
 protected:
  void SetUp() override {
    CheckerFixture::SetUp();
    SetFileDialogHook([this](FileDialogKind kind, const TFileDialogRequest& r, std::string& path) {
      dialogs.push_back({kind, r});
      if (answer.empty()) return false;  // cancelled
      path = answer;
      return true;
    });
  }
  void TearDown() override {
    SetFileDialogHook(nullptr);
    CheckerFixture::TearDown();
  }

  TChecker& CheckerWithSounds(const std::string& a, const std::string& b, const std::string& c) {
    TChecker& k = MakeChecker();
    k.SoundNewMessages = a;
    k.SoundNewVersion = b;
    k.SoundError = c;
    k.SaveData();
    AgeData();
    return k;
  }

  std::unique_ptr<TSoundsForm> OpenForm(TChecker& c) {
    auto form = std::make_unique<TSoundsForm>(app->Handle(), c);
    form->Show(true);
    app->ProcessMessages();
    return form;
  }

  std::string Setting(TChecker& c, int i) {
    return i == 0 ? c.SoundNewMessages : i == 1 ? c.SoundNewVersion : c.SoundError;
  }

  std::vector<DialogCall> dialogs;
  std::string answer;  // what the dialog picks; empty: the user cancels
};

TEST_F(side_SoundsForm, ListsTheEventsWithTheFileNamePartOfTheirSettings) {
  struct Case {
    const char* a;
    const char* b;
    const char* c;
    const char* cells[3];
  };
  const Case cases[] = {
      {"C:\\Sounds\\Сообщение.ogg", "", "D:\\x\\y\\err.mp3", {"Сообщение.ogg", "", "err.mp3"}},
      {"d:beep.wav", "/home/u/new.ogg", "plain.wav", {"beep.wav", "new.ogg", "plain.wav"}},
      {"C:\\dir\\", "a:b\\c/d.ogg", "", {"", "d.ogg", ""}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.a);
    checker.reset();
    TChecker& c = CheckerWithSounds(k.a, k.b, k.c);
    auto form = OpenForm(c);
    TListView& list = form->List();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Cell(0, 0), "Новые сообщения");
    EXPECT_EQ(list.Cell(1, 0), "Выпущено обновление");
    EXPECT_EQ(list.Cell(2, 0), "Ошибка");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list.Cell(i, 1), k.cells[i]) << "row " << i;
    EXPECT_EQ(list.Selected(), -1);
  }
}

TEST_F(side_SoundsForm, ControlsStandAtTheirPlaces) {
  TChecker& c = CheckerWithSounds("C:\\s\\Сообщение.ogg", "", "C:\\s\\Ошибка.ogg");
  auto form = OpenForm(c);
  TSoundsForm& f = *form;
  RECT client;
  GetClientRect(f.Handle(), &client);
  EXPECT_EQ(client.right, Scale(380));
  EXPECT_EQ(client.bottom, Scale(189));
  EXPECT_EQ(f.Strip().Text(), "Звуковая схема");
  struct Place {
    const char* what;
    TControl& control;
    int x, y, w, h;
    const char* hint;
  };
  const Place places[] = {
      {"list", f.List(), 8, 24, 369, 137, nullptr},
      {"defaults", f.DefaultsButton(), 7, 162, 114, 24, "По умолчанию"},
      {"delete", f.DeleteButton(), 319, 162, 25, 24, "Удалить"},
      {"replace", f.ReplaceButton(), 351, 162, 25, 24, "Заменить"},
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
      auto& button = static_cast<TButton&>(p.control);
      EXPECT_EQ(button.Hint(), p.hint);
      EXPECT_TRUE(button.HasPicture());
    }
  }
  EXPECT_EQ(f.DefaultsButton().Text(), "По умолчанию");
  EXPECT_EQ(f.List().ColumnHeader(0), "Событие");
  EXPECT_EQ(f.List().ColumnHeader(1), "Звук");
  EXPECT_EQ(f.List().ColumnWidthPx(0), Scale(150));
  EXPECT_EQ(f.List().ColumnWidthPx(1), f.List().ClientWidthPx() - Scale(150));
  f.List().Select(0);
  EXPECT_FALSE(Screenshot(*app, f.Handle(), "sounds").empty());
}

TEST_F(side_SoundsForm, ReplaceAsksTheFileDialogAndChangesTheCheckerAtOnce) {
  struct Trigger {
    const char* name;
    std::function<void(TSoundsForm&, TApplication&)> fire;
  };
  const Trigger triggers[] = {
      {"Заменить", [](TSoundsForm& f, TApplication& a) { Click(a, f.ReplaceButton().Handle()); }},
      {"double click",
       [](TSoundsForm& f, TApplication& a) {
         RECT rc{LVIR_BOUNDS, 0, 0, 0};
         SendMessageW(f.List().Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(f.List().Selected()),
                      reinterpret_cast<LPARAM>(&rc));
         SendMessageW(f.List().Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                      MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2));
         a.ProcessMessages();
       }},
      {"Enter in the list",
       [](TSoundsForm& f, TApplication& a) {
         SetFocus(f.List().Handle());
         Press(a, f.List().Handle(), VK_RETURN);
       }},
  };
  for (const Trigger& t : triggers) {
    for (int row = 0; row < 3; ++row) {
      SCOPED_TRACE(std::string(t.name) + ", row " + std::to_string(row));
      checker.reset();
      dialogs.clear();
      TChecker& c = CheckerWithSounds("C:\\a\\one.ogg", "C:\\a\\two.ogg", "C:\\a\\three.ogg");
      const uint64_t stamp = DataStamp();
      auto form = OpenForm(c);
      form->List().Select(row);
      answer = "C:\\Мои звуки\\новый.wav";
      t.fire(*form, *app);
      ASSERT_EQ(dialogs.size(), 1u);
      const DialogCall& d = dialogs[0];
      EXPECT_EQ(d.kind, FileDialogKind::Open);
      EXPECT_EQ(d.request.Owner, form->Handle());
      ASSERT_EQ(d.request.Filters.size(), 2u);
      EXPECT_EQ(d.request.Filters[0].first, "*.ogg, *.wav, *.mp3");
      EXPECT_EQ(d.request.Filters[0].second, "*.ogg;*.wav;*.mp3");
      EXPECT_EQ(d.request.Filters[1].first, "*.*");
      EXPECT_EQ(d.request.Filters[1].second, "*.*");
      EXPECT_EQ(d.request.InitialDir, Narrow(c.ProgramDir().wstring()) + "sound\\");
      EXPECT_EQ(d.request.Flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY));
      for (int i = 0; i < 3; ++i) {
        const char* before[] = {"C:\\a\\one.ogg", "C:\\a\\two.ogg", "C:\\a\\three.ogg"};
        const char* cells[] = {"one.ogg", "two.ogg", "three.ogg"};
        EXPECT_EQ(Setting(c, i), i == row ? "C:\\Мои звуки\\новый.wav" : before[i]) << "setting " << i;
        EXPECT_EQ(form->List().Cell(i, 1), i == row ? "новый.wav" : cells[i]) << "cell " << i;
      }
      EXPECT_TRUE(form->Visible());
      EXPECT_EQ(DataStamp(), stamp) << "data.dat gets the change at the Checker's next save";
    }
  }
}

TEST_F(side_SoundsForm, ReplaceAndDeleteDoNothingWithoutASelectionAndCancelKeepsTheRow) {
  TChecker& c = CheckerWithSounds("C:\\a\\one.ogg", "C:\\a\\two.ogg", "C:\\a\\three.ogg");
  auto form = OpenForm(c);
  TSoundsForm& f = *form;
  answer = "C:\\b\\picked.ogg";
  ASSERT_EQ(f.List().Selected(), -1);
  Click(*app, f.ReplaceButton().Handle());
  SetFocus(f.List().Handle());
  Press(*app, f.List().Handle(), VK_RETURN);
  EXPECT_TRUE(dialogs.empty()) << "no row selected: no dialog";
  Click(*app, f.DeleteButton().Handle());
  Press(*app, f.List().Handle(), VK_DELETE);
  EXPECT_EQ(c.SoundNewMessages, "C:\\a\\one.ogg");
  EXPECT_EQ(c.SoundNewVersion, "C:\\a\\two.ogg");
  EXPECT_EQ(c.SoundError, "C:\\a\\three.ogg");

  answer.clear();  // the user cancels the dialog
  f.List().Select(1);
  Click(*app, f.ReplaceButton().Handle());
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(c.SoundNewVersion, "C:\\a\\two.ogg");
  EXPECT_EQ(f.List().Cell(1, 1), "two.ogg");
}

TEST_F(side_SoundsForm, DeleteEmptiesTheSelectedEventsSound) {
  struct Trigger {
    const char* name;
    std::function<void(TSoundsForm&, TApplication&)> fire;
  };
  const Trigger triggers[] = {
      {"Удалить", [](TSoundsForm& f, TApplication& a) { Click(a, f.DeleteButton().Handle()); }},
      {"Delete in the list",
       [](TSoundsForm& f, TApplication& a) {
         SetFocus(f.List().Handle());
         Press(a, f.List().Handle(), VK_DELETE);
       }},
  };
  for (const Trigger& t : triggers) {
    SCOPED_TRACE(t.name);
    checker.reset();
    TChecker& c = CheckerWithSounds("C:\\a\\one.ogg", "C:\\a\\two.ogg", "C:\\a\\three.ogg");
    auto form = OpenForm(c);
    form->List().Select(2);
    t.fire(*form, *app);
    EXPECT_EQ(c.SoundError, "");
    EXPECT_EQ(form->List().Cell(2, 1), "");
    EXPECT_EQ(c.SoundNewMessages, "C:\\a\\one.ogg");
    EXPECT_EQ(c.SoundNewVersion, "C:\\a\\two.ogg");
    EXPECT_EQ(form->List().Cell(0, 1), "one.ogg");
    EXPECT_TRUE(form->Visible());
  }
}

TEST_F(side_SoundsForm, DefaultsPointEveryEventAtSoundsBesideTheProgram) {
  // The folder does not exist in the test's program folder; no file is looked for.
  TChecker& c = CheckerWithSounds("", "C:\\a\\two.ogg", "");
  ASSERT_EQ(GetFileAttributesW(Widen(Narrow(c.ProgramDir().wstring()) + "Sounds").c_str()), INVALID_FILE_ATTRIBUTES);
  auto form = OpenForm(c);
  form->List().Select(1);  // a selection does not matter
  Click(*app, form->DefaultsButton().Handle());
  const std::string dir = Narrow(c.ProgramDir().wstring()) + "Sounds\\";
  EXPECT_EQ(c.SoundNewMessages, dir + "Сообщение.ogg");
  EXPECT_EQ(c.SoundNewVersion, dir + "Новая версия.ogg");
  EXPECT_EQ(c.SoundError, dir + "Ошибка.ogg");
  EXPECT_EQ(form->List().Cell(0, 1), "Сообщение.ogg");
  EXPECT_EQ(form->List().Cell(1, 1), "Новая версия.ogg");
  EXPECT_EQ(form->List().Cell(2, 1), "Ошибка.ogg");
  EXPECT_TRUE(dialogs.empty());
}

TEST_F(side_SoundsForm, EscClosesButNotTheReleaseOfAnEscThatClosedTheFileDialog) {
  TChecker& c = CheckerWithSounds("C:\\a\\one.ogg", "", "");
  auto form = OpenForm(c);
  TSoundsForm& f = *form;
  SetFocus(f.List().Handle());
  // The file dialog ends on Esc pressed; its release comes to the list.
  f.List().Select(0);
  Click(*app, f.ReplaceButton().Handle());
  ASSERT_EQ(dialogs.size(), 1u);
  KeyUp(*app, f.List().Handle(), VK_ESCAPE);
  EXPECT_TRUE(f.Visible());
  Press(*app, f.List().Handle(), VK_ESCAPE);
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(c.SoundNewMessages, "C:\\a\\one.ogg");
}

TEST(side_SoundFileName, IsTheTextAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"", ""},
      {"a.ogg", "a.ogg"},
      {"C:\\x\\a.ogg", "a.ogg"},
      {"C:a.ogg", "a.ogg"},
      {"/x/y/a.wav", "a.wav"},
      {"C:\\x/y:z\\b.mp3", "b.mp3"},
      {"C:\\x\\", ""},
  };
  for (const Case& k : cases) EXPECT_EQ(SoundFileName(k.path), k.name) << k.path;
}

}  // namespace
}  // namespace zelt
