// The widget layer on its own: a small form with a list, a button and a
// label, driven by messages.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "tests/support/Win.h"
#include "widgets/Label.h"
#include "widgets/ListView.h"
#include "widgets/Paint.h"

namespace zelt::fake {
namespace {

class TTestForm final : public TForm {
 public:
  explicit TTestForm(HWND owner = nullptr) {
    CreateForm("Test", "Test", 300, 200, owner);
    List.Create(Body(), 8, 24, 280, 120);
    List.AddColumn("A", 100);
    List.AddColumn("B", 100);
    Button.Create(Body(), 8, 150, 80, 24, "Кнопка");
    Label.Create(Body(), 100, 150, "Метка");
  }
  TListView List;
  TButton Button;
  TLabel Label;
};

class Widgets : public ::testing::Test {
 protected:
  TSystemDesktop desktop;
  TApplication app{"widgets", desktop};
  TTestForm form;
};

TEST_F(Widgets, AListSortsByTheTextOfAColumnIgnoringCaseAndRowsKeepTheirKeys) {
  TListView& list = form.List;
  const char* rows[][2] = {{"b", "9"}, {"C", "10"}, {"a", "2"}, {"D", "1"}};
  for (int i = 0; i < 4; ++i) list.SetCell(list.AddRow(rows[i][0], i % 2, 100 + i), 1, rows[i][1]);
  list.SortByColumn(1, TListView::SortOrder::Ascending);
  EXPECT_EQ(ListRows(list, {0, 1}), (std::vector<std::string>{"D|1", "C|10", "a|2", "b|9"}));
  list.SortByColumn(0, TListView::SortOrder::Descending);
  EXPECT_EQ(ListRows(list, {0, 1, -1}), (std::vector<std::string>{"D|1|1", "C|10|1", "b|9|0", "a|2|0"}));
  for (int r = 0; r < 4; ++r)  // the row still carries its own key
    EXPECT_EQ(list.Cell(r, 0), rows[list.Key(r) - 100][0]);
  list.AddRow("bb", 0);  // a later row takes its place in the sorted order
  EXPECT_EQ(list.Cell(2, 0), "bb");
}

TEST_F(Widgets, LabelsFitTheirTexts) {
  RECT small, large, bold;
  form.Label.SetText("ab");
  GetWindowRect(form.Label.Handle(), &small);
  form.Label.SetText("Ёлка №1 Ёлка №1");
  GetWindowRect(form.Label.Handle(), &large);
  EXPECT_GT(large.right - large.left, 3 * (small.right - small.left));
  form.Label.SetBold(true);
  GetWindowRect(form.Label.Handle(), &bold);
  EXPECT_GT(bold.right - bold.left, large.right - large.left);
}

// Any thread or program can send a window of ours a message whose parameter
// claims to point at something of ours: a creation that would bind the form
// to another object or make the list start over, a list's double click, a
// button drawn into its DC or clicked, a monitor's DPI and rectangle. None
// from another thread is followed, and none of those posted at all.
TEST_F(Widgets, MessagesFromAnotherThreadAreNotFollowed) {
  int clicks = 0, doubleClicks = 0;
  form.Button.OnClick = [&] { ++clicks; };
  form.List.OnDoubleClick = [&] { ++doubleClicks; };
  form.List.AddRow("a", 0);
  TTestForm other;
  TWindowDc screen(nullptr);
  TScopedMemDc dc(CreateCompatibleDC(screen.get()));
  TScopedBitmap picture(CreateCompatibleBitmap(screen.get(), 20, 20));
  TSelect select(dc.get(), picture.get());
  PatBlt(dc.get(), 0, 0, 20, 20, WHITENESS);
  CREATESTRUCTW create{};
  create.lpCreateParams = &other;
  NMHDR notify{form.List.Handle(), 0, static_cast<UINT>(NM_DBLCLK)};
  DRAWITEMSTRUCT draw{ODT_BUTTON, 0, 0, ODA_DRAWENTIRE, 0, form.Button.Handle(), dc.get(), {0, 0, 20, 20}, 0};
  RECT away{0, 0, 1900, 1400};
  const auto state = [&] {
    RECT rc;
    GetWindowRect(form.Handle(), &rc);
    return std::to_string(TWindow::FromHandle(form.Handle()) == &form) + " rows " + std::to_string(form.List.Count()) +
           " clicks " + std::to_string(clicks) + "/" + std::to_string(doubleClicks) + " drawn " +
           std::to_string(GetPixel(dc.get(), 10, 10) != RGB(255, 255, 255)) + " dpi " + std::to_string(form.Dpi()) +
           " width " + std::to_string(rc.right - rc.left);
  };
  const std::string before = state();
  const struct {
    const char* name;
    HWND to;
    UINT msg;
    WPARAM wp;
    const void* lp;
  } cases[] = {
      {"the form made anew", form.Handle(), WM_NCCREATE, 0, &create},
      {"the list made anew", form.List.Handle(), WM_NCCREATE, 0, &create},
      {"a double click on the list", form.Body(), WM_NOTIFY, 0, &notify},
      {"the button drawn", form.Body(), WM_DRAWITEM, 0, &draw},
      {"the button clicked", form.Body(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), form.Button.Handle()},
      {"a monitor of 192 DPI", form.Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192), &away},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> sent{false};
    std::thread sender([&] {
      SendMessageW(c.to, c.msg, c.wp, reinterpret_cast<LPARAM>(c.lp));
      sent = true;
    });
    EXPECT_TRUE(PumpUntil(app, [&] { return sent.load(); }));
    sender.join();
    PostMessageW(c.to, c.msg, c.wp, reinterpret_cast<LPARAM>(c.lp));
    app.ProcessMessages();
    EXPECT_EQ(state(), before);
  }
}

// A timer acts on its own ticks only: a WM_TIMER posted with its id while it
// is off, or before its interval has passed, does nothing.
TEST_F(Widgets, ATimerActsOnlyOnTicksThatAreDue) {
  auto timer = app.CreateTimer();
  int ticks = 0;
  timer->SetOnTick([&] { ++ticks; });
  for (bool on : {false, true}) {
    timer->SetInterval(60000);
    timer->SetEnabled(on);
    for (WPARAM id = 0; id < 8; ++id) PostMessageW(app.QueueHandle(), WM_TIMER, id, 0);
    app.ProcessMessages();
    EXPECT_EQ(ticks, 0) << on;
  }
  timer->SetInterval(20);
  EXPECT_TRUE(PumpUntil(app, [&] { return ticks >= 3; })) << "the system's own ticks act";
}

TEST_F(Widgets, TheSystemsFileDialogsShowTheRequestAndACancelIsFalse) {
  for (const TFileDialogKind kind : {TFileDialogKind::Open, TFileDialogKind::Save}) {
    TFileDialogRequest r;
    r.Owner = form.Handle();
    r.Filters = {{"Звуки", "*.ogg;*.wav"}};
    r.FileName = "Ошибка.ogg";
    r.Title = kind == TFileDialogKind::Open ? "Открыть звук" : "Сохранить";
    // Another thread finds the dialog by its title, reads its name and cancels it.
    std::string startName;
    std::atomic<bool> seen{false};
    std::thread closer([&] {
      for (int i = 0; i < 800 && !seen; ++i, Sleep(25)) {
        HWND dlg = FindWindowW(L"#32770", Widen(r.Title).c_str());
        if (!dlg) continue;
        wchar_t name[MAX_PATH] = {};
        if (!GetDlgItemTextW(dlg, 0x47c, name, MAX_PATH)) GetDlgItemTextW(dlg, 0x480, name, MAX_PATH);
        startName = Narrow(name);
        seen = true;
        PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
      }
    });
    std::string path = "unchanged";
    const bool chosen = desktop.ChooseFile(kind, r, path);
    closer.join();
    EXPECT_EQ(startName, "Ошибка.ogg") << r.Title;
    EXPECT_FALSE(chosen);
    EXPECT_EQ(path, "unchanged");
  }
}

}  // namespace
}  // namespace zelt::fake
