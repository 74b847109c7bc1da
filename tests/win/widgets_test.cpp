// The widget layer on its own: a small form with a list and a button,
// driven by messages.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

class TTestForm final : public TForm {
 public:
  TTestForm() {
    CreateForm("Test", "Test", 300, 200, nullptr);
    List.Create(Body(), 8, 24, 280, 120);
    List.AddColumn("A", 100);
    Button.Create(Body(), 8, 150, 80, 24, "Кнопка");
  }
  TListView List;
  TButton Button;
};

class Widgets : public ::testing::Test {
 protected:
  TSystemDesktop desktop;
  TApplication app{"widgets", desktop};
  TTestForm form;
};

TEST_F(Widgets, ASortedListsRowsKeepTheirKeys) {
  const char* rows[] = {"b", "C", "a"};
  for (int i = 0; i < 3; ++i) form.List.AddRow(rows[i], 0, 100 + i);
  form.List.SortByColumn(0, TListView::SortOrder::Ascending);
  EXPECT_EQ(ListRows(form.List, {0}), (std::vector<std::string>{"a", "b", "C"})) << "by text, ignoring case";
  for (int r = 0; r < 3; ++r) EXPECT_STREQ(form.List.Cell(r, 0).c_str(), rows[form.List.Key(r) - 100]);
}

// Any thread or program can send a window of ours a message whose parameter
// claims to point at something of ours: a creation that would bind the form
// to another object or make the list start over, a list's double click, a
// button clicked, a monitor's DPI and rectangle. None
// from another thread is followed, and none of those posted at all.
TEST_F(Widgets, MessagesFromAnotherThreadAreNotFollowed) {
  int clicks = 0, doubleClicks = 0;
  form.Button.OnClick = [&] { ++clicks; };
  form.List.OnDoubleClick = [&] { ++doubleClicks; };
  form.List.AddRow("a", 0);
  TTestForm other;
  CREATESTRUCTW create{};
  create.lpCreateParams = &other;
  NMHDR notify{form.List.Handle(), 0, static_cast<UINT>(NM_DBLCLK)};
  RECT away{0, 0, 1900, 1400};
  const auto state = [&] {
    RECT rc;
    GetWindowRect(form.Handle(), &rc);
    return std::to_string(TWindow::FromHandle(form.Handle()) == &form) + " rows " + std::to_string(form.List.Count()) +
           " clicks " + std::to_string(clicks) + "/" + std::to_string(doubleClicks) + " dpi " +
           std::to_string(form.Dpi()) + " width " + std::to_string(rc.right - rc.left);
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

}  // namespace
}  // namespace zelt::fake
