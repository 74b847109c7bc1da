// The widget layer on its own: a small form with a list, buttons, a label and
// a menu, driven by messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/Text_win.h"
#include "widgets/Application.h"
#include "widgets/Controls.h"
#include "widgets/Dpi.h"
#include "widgets/FileDialog.h"
#include "widgets/Form.h"
#include "widgets/ListView.h"
#include "widgets/Menu.h"
#include "widgets/Paint.h"
#include "widgets/TrayIcon.h"
#include "support/ui_harness.h"

namespace zelt::test {
namespace {

class TTestForm final : public TForm {
 public:
  TTestForm() {
    CreateForm("Test", "Test", 300, 200, nullptr);
    list.Create(Body(), 8, 24, 280, 120);
    list.AddColumn("A", 100);
    list.AddColumn("B", 100);
    button.Create(Body(), 8, 150, 80, 24, "Кнопка");
    label.Create(Body(), 100, 150, "Метка");
  }
  std::vector<UINT> keysUp;
  int escapes = 0;
  TListView list;
  TButton button;
  TLabel label;

 protected:
  bool OnKeyUp(UINT vk) override {
    keysUp.push_back(vk);
    return TForm::OnKeyUp(vk);
  }
  void OnEscape() override {
    ++escapes;
    TForm::OnEscape();
  }
};

class WidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>("simple");
    form = std::make_unique<TTestForm>();
  }
  void TearDown() override {
    form.reset();
    app.reset();
    SetDpiOverride(0);
  }
  std::unique_ptr<TApplication> app;
  std::unique_ptr<TTestForm> form;
};

TEST_F(WidgetsTest, ListSortsByColumnTextIgnoringCaseAndKeepsTheSortedStyle) {
  TListView& list = form->list;
  const char* rows[][2] = {{"b", "9"}, {"C", "10"}, {"a", "2"}, {"B", "1"}};
  for (auto& r : rows) {
    const int i = list.AddRow(r[0], 0, nullptr);
    list.SetCell(i, 1, r[1]);
  }
  list.SortByColumn(1, TListView::SortOrder::Ascending);
  std::vector<std::string> second;
  for (int i = 0; i < list.Count(); ++i) second.push_back(list.Cell(i, 1));
  EXPECT_EQ(second, (std::vector<std::string>{"1", "10", "2", "9"}));

  list.SortByColumn(0, TListView::SortOrder::Descending);
  std::vector<std::string> first;
  for (int i = 0; i < list.Count(); ++i) first.push_back(list.Cell(i, 0));
  // "b" and "B" are equal when case is ignored; they keep some order between them.
  EXPECT_EQ(first[0], "C");
  EXPECT_EQ(first[3], "a");
  EXPECT_EQ(list.SortStyle(), TListView::SortOrder::Descending);
  list.AddRow("bb", 0, nullptr);
  EXPECT_EQ(list.Cell(1, 0), "bb");
}

TEST_F(WidgetsTest, ListRowsKeepTheirDataAndImages) {
  TListView& list = form->list;
  int a = 1, b = 2;
  list.AddRow("x", 0, &a);
  list.AddRow("y", 1, &b);
  EXPECT_EQ(list.Data(0), &a);
  EXPECT_EQ(list.Data(1), &b);
  EXPECT_EQ(list.Image(1), 1);
  list.SetImage(0, 1);
  EXPECT_EQ(list.Image(0), 1);
  EXPECT_EQ(list.Selected(), -1);
  list.Select(1);
  EXPECT_EQ(list.Selected(), 1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Data(0), nullptr);
}

TEST_F(WidgetsTest, RussianTextsReachThePlatformAsUnicode) {
  wchar_t buffer[32] = {};
  GetWindowTextW(form->button.Handle(), buffer, 32);
  EXPECT_STREQ(buffer, L"Кнопка");
  form->label.SetText("Ёлка №1");
  GetWindowTextW(form->label.Handle(), buffer, 32);
  EXPECT_STREQ(buffer, L"Ёлка №1");
  EXPECT_EQ(form->label.Text(), "Ёлка №1");
}

TEST_F(WidgetsTest, LabelsAreSizedToTheirText) {
  RECT small, large;
  form->label.SetText("ab");
  GetWindowRect(form->label.Handle(), &small);
  form->label.SetText("abababababab");
  GetWindowRect(form->label.Handle(), &large);
  EXPECT_GT(large.right - large.left, 3 * (small.right - small.left));
  EXPECT_EQ(large.bottom - large.top, small.bottom - small.top);
  form->label.SetBold(true);
  RECT bold;
  GetWindowRect(form->label.Handle(), &bold);
  EXPECT_GT(bold.right - bold.left, large.right - large.left);
}

TEST_F(WidgetsTest, ButtonsReportClicksAndDoubleClicks) {
  int clicks = 0;
  form->button.OnClick = [&] { ++clicks; };
  SendMessageW(form->button.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  // A double-click is two clicks.
  SendMessageW(GetParent(form->button.Handle()), WM_COMMAND, MAKEWPARAM(0, BN_DOUBLECLICKED),
               reinterpret_cast<LPARAM>(form->button.Handle()));
  EXPECT_EQ(clicks, 2);
  form->button.SetEnabled(false);
  SendMessageW(form->button.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
}

TEST_F(WidgetsTest, MissingPictureLeavesTheButtonWithoutOne) {
  form->button.SetPicture("NO_SUCH_PICTURE", 16);
  EXPECT_FALSE(form->button.HasPicture());
  form->button.SetPicture("MAINFORM_ICNEW", 16);
  EXPECT_TRUE(form->button.HasPicture());
}

TEST_F(WidgetsTest, PngResourcesDecodeAtTheCurrentDpi) {
  struct Case {
    int dpi, size96, expected;
  } cases[] = {{96, 16, 16}, {96, 32, 32}, {144, 16, 24}, {144, 32, 48}, {120, 16, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    SetDpiOverride(c.dpi);
    TScopedBitmap bmp = LoadPngResource(c.size96 == 16 ? "MAINFORM_ICNEW" : "INFOFORM_ICREAD", c.size96);
    ASSERT_TRUE(bmp);
    const SIZE s = BitmapSize(bmp.get());
    EXPECT_EQ(s.cx, c.expected);
    EXPECT_EQ(s.cy, c.expected);
  }
  EXPECT_FALSE(LoadPngResource("NO_SUCH_PICTURE", 16));
}

TEST_F(WidgetsTest, ScaleKeepsNinetySixDpiValuesAndScalesOthers) {
  struct Case {
    int dpi, in, out;
  } cases[] = {{96, 617, 617}, {96, 17, 17}, {144, 17, 26}, {144, 617, 926}, {120, 284, 355}, {192, 10, 20}};
  for (const Case& c : cases) {
    SetDpiOverride(c.dpi);
    EXPECT_EQ(Scale(c.in), c.out) << c.dpi << " " << c.in;
  }
}

TEST_F(WidgetsTest, ImageStripIsCutIntoImagesWithBlackLeftOut) {
  TScopedImageList list(LoadImageStrip("MAINFORM_LVIMAGES", 16, RGB(0, 0, 0)));
  ASSERT_TRUE(list);
  EXPECT_EQ(ImageList_GetImageCount(list.get()), 3);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(list.get(), &cx, &cy);
  EXPECT_EQ(cx, 16);
  // The corner of the sphere is black in the strip: it is masked out.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 16, 16);
  HGDIOBJ old = SelectObject(mem, bmp);
  RECT rc{0, 0, 16, 16};
  FillSolid(mem, rc, RGB(255, 0, 255));
  ImageList_Draw(list.get(), 0, mem, 0, 0, ILD_TRANSPARENT);
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(255, 0, 255));
  EXPECT_NE(GetPixel(mem, 8, 8), RGB(255, 0, 255));
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(LoadImageStrip("NO_SUCH_STRIP", 16, 0), nullptr);
}

TEST_F(WidgetsTest, FormSeesKeysOfItsControlsAndActsOnEscapeAtKeyUp) {
  form->Show(true);
  HWND list = form->list.Handle();
  PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
  app->ProcessMessages();
  EXPECT_EQ(form->escapes, 0);
  EXPECT_TRUE(form->Visible());
  PostMessageW(list, WM_KEYUP, VK_F4, 0xC0000001);
  PostMessageW(list, WM_KEYUP, VK_ESCAPE, 0xC0000001);
  app->ProcessMessages();
  EXPECT_EQ(form->keysUp, (std::vector<UINT>{VK_F4, VK_ESCAPE}));
  EXPECT_EQ(form->escapes, 1);
  EXPECT_FALSE(form->Visible());
}

TEST_F(WidgetsTest, ModalLoopsNestAndEndInOrder) {
  TTestForm second;
  std::vector<std::string> events;
  RunLater([&] {
    events.push_back(form->InModal() ? "outer modal" : "outer not modal");
    RunLater([&] {
      events.push_back(second.InModal() ? "inner modal" : "inner not modal");
      PostKey(second.list.Handle(), VK_ESCAPE);
    });
    second.ShowModal();
    events.push_back("inner ended");
    form->Close();
  });
  form->ShowModal();
  events.push_back("outer ended");
  EXPECT_EQ(events, (std::vector<std::string>{"outer modal", "inner modal", "inner ended", "outer ended"}));
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(second.Visible());
}

TEST_F(WidgetsTest, ModalLoopDisablesItsOwnerMeanwhile) {
  TTestForm owner;
  class TOwned final : public TForm {
   public:
    explicit TOwned(HWND o) { CreateForm("Owned", "Owned", 100, 60, o); }
  } owned(owner.Handle());
  bool ownerEnabled = true;
  RunLater([&] {
    ownerEnabled = IsWindowEnabled(owner.Handle()) != FALSE;
    owned.Close();
  });
  owned.ShowModal();
  EXPECT_FALSE(ownerEnabled);
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
}

TEST_F(WidgetsTest, HeaderStripButtonClosesTheForm) {
  form->Show(true);
  SendMessageW(form->Strip().CloseButton().Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(form->Visible());
  RECT strip;
  GetClientRect(form->Strip().Handle(), &strip);
  EXPECT_EQ(strip.bottom, 17);
  EXPECT_EQ(strip.right, 300);
  RECT button;
  GetWindowRect(form->Strip().CloseButton().Handle(), &button);
  MapWindowPoints(nullptr, form->Strip().Handle(), reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.right, 300);
  EXPECT_EQ(button.top, 0);
  EXPECT_EQ(button.bottom, 17);
}

TEST_F(WidgetsTest, MenuItemsRunOnlyWhenEnabled) {
  TPopupMenu menu;
  std::vector<int> ran;
  menu.AddItem("Один", [&] { ran.push_back(0); });
  menu.AddSeparator();
  menu.AddItem("Два", [&] { ran.push_back(2); });
  EXPECT_EQ(menu.Caption(2), "Два");
  EXPECT_TRUE(menu.IsSeparator(1));
  menu.SetEnabled(2, false);
  EXPECT_FALSE(menu.Enabled(2));
  EXPECT_FALSE(menu.Choose(2));
  EXPECT_FALSE(menu.Choose(1));
  EXPECT_TRUE(menu.Choose(0));
  menu.SetEnabled(2, true);
  // Chosen from the open menu with the keyboard.
  RunLater([&] {
    PostMessageW(form->Handle(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(form->Handle(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(form->Handle(), WM_KEYDOWN, VK_RETURN, 0);
  });
  form->Show(true);
  EXPECT_EQ(menu.Popup(form->Handle(), POINT{100, 100}), 2);
  EXPECT_EQ(ran, (std::vector<int>{0, 2}));
}

TEST_F(WidgetsTest, TrayIconReportsMouseEventsAndComesBackWithTheShell) {
  TTrayIcon tray;
  std::vector<UINT> events;
  tray.OnMouse = [&](UINT m) { events.push_back(m); };
  tray.Add(form->Handle(), LoadIconW(nullptr, IDI_APPLICATION), "Подсказка");
  EXPECT_EQ(tray.Tip(), "Подсказка");
  EXPECT_TRUE(tray.HandleMessage(TTrayIcon::kCallbackMessage, 1, WM_LBUTTONUP));
  EXPECT_TRUE(tray.HandleMessage(TTrayIcon::kCallbackMessage, 1, WM_RBUTTONUP));
  EXPECT_FALSE(tray.HandleMessage(TTrayIcon::kCallbackMessage + 1, 1, WM_RBUTTONUP));
  EXPECT_EQ(events, (std::vector<UINT>{WM_LBUTTONUP, WM_RBUTTONUP}));
  EXPECT_TRUE(tray.HandleMessage(RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
  tray.Remove();
  EXPECT_FALSE(tray.Added());
}

// The tooltip windows a top-level window owns.
std::vector<HWND> ToolTipsOf(HWND root) {
  std::vector<HWND> found;
  for (HWND w = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); w;
       w = FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr)) {
    if (GetWindow(w, GW_OWNER) == root) found.push_back(w);
  }
  return found;
}

std::string ToolText(HWND tip, const TButton& button) {
  wchar_t buffer[128] = {};
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = GetParent(button.Handle());
  ti.uId = reinterpret_cast<UINT_PTR>(button.Handle());
  ti.lpszText = buffer;
  SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&ti));
  return Narrow(buffer);
}

TEST_F(WidgetsTest, HintsShareOneTooltipMadeWhenThePointerFirstComes) {
  TButton second;
  second.Create(form->Body(), 8, 178, 80, 24, "Вторая");
  form->button.SetHint("Первая подсказка");
  second.SetHint("Вторая подсказка");
  EXPECT_TRUE(ToolTipsOf(form->Handle()).empty()) << "no tooltip before the pointer comes";

  SendMessageW(form->button.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  std::vector<HWND> tips = ToolTipsOf(form->Handle());
  ASSERT_EQ(tips.size(), 1u);
  EXPECT_EQ(SendMessageW(tips[0], TTM_GETTOOLCOUNT, 0, 0), 1);
  EXPECT_EQ(ToolText(tips[0], form->button), "Первая подсказка");

  SendMessageW(second.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(ToolTipsOf(form->Handle()), tips) << "the second button joins the same tooltip";
  EXPECT_EQ(SendMessageW(tips[0], TTM_GETTOOLCOUNT, 0, 0), 2);
  second.SetHint("Новая");
  EXPECT_EQ(ToolText(tips[0], second), "Новая");

  DestroyWindow(second.Handle());
  EXPECT_EQ(SendMessageW(tips[0], TTM_GETTOOLCOUNT, 0, 0), 1) << "a destroyed button leaves the tooltip";
  EXPECT_EQ(ToolText(tips[0], form->button), "Первая подсказка");
}

TEST_F(WidgetsTest, SystemFileDialogsShowTheRequestAndCancelAsFalse) {
  SetFileDialogHook(nullptr);
  for (const FileDialogKind kind : {FileDialogKind::Open, FileDialogKind::Save}) {
    TFileDialogRequest r;
    r.Owner = form->Handle();
    r.Filters = {{"Звуки", "*.ogg;*.wav"}};
    r.FileName = "Ошибка.ogg";
    r.Title = kind == FileDialogKind::Open ? "Открыть звук" : "Сохранить";
    // A second thread finds the dialog by its title, reads the name it starts
    // with and cancels it.
    std::atomic<bool> seen{false};
    std::string startName;
    std::thread closer([&] {
      for (int i = 0; i < 400 && !seen; ++i) {
        if (HWND dlg = FindWindowW(L"#32770", Widen(r.Title).c_str())) {
          wchar_t name[MAX_PATH] = {};
          GetDlgItemTextW(dlg, 0x47c /* cmb13, the name box */, name, MAX_PATH);
          if (!name[0]) GetDlgItemTextW(dlg, 0x480 /* edt1 */, name, MAX_PATH);
          startName = Narrow(name);
          seen = true;
          PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
        }
        Sleep(25);
      }
    });
    std::string path = "unchanged";
    const bool chosen = kind == FileDialogKind::Open ? OpenFileDialog(r, path) : SaveFileDialog(r, path);
    closer.join();
    EXPECT_TRUE(seen) << r.Title;
    EXPECT_EQ(startName, "Ошибка.ogg") << r.Title;
    EXPECT_FALSE(chosen) << r.Title;
    EXPECT_EQ(path, "unchanged") << r.Title;
  }
}

TEST_F(WidgetsTest, ProgressBarKeepsItsPositionInRange) {
  TProgressBar bar;
  bar.Create(form->Body(), 8, 180, 200, 14);
  bar.SetRange(200);
  struct Case {
    int in, out;
  } cases[] = {{50, 50}, {-5, 0}, {250, 200}, {200, 200}};
  for (const Case& c : cases) {
    bar.SetPosition(c.in);
    EXPECT_EQ(bar.Position(), c.out);
  }
  bar.SetText("50 %");
  EXPECT_EQ(bar.Text(), "50 %");
}

}  // namespace
}  // namespace zelt::test
