// Every window of the program, opened as the program opens it: its controls
// lie inside it, siblings do not overlap, and at 144 DPI each keeps its place
// scaled by one and a half; and closing it gives back every window and GDI
// object it took (counted in the process's GDI handle table, since
// GetGuiResources answers 0 under Wine).
#include <windows.h>

#include <map>
#include <vector>

#include "tests/win/desktop_support.h"
#include "tools/GdiCount.h"
#include "ui/uUpdateInfo.h"

namespace zelt::fake {
namespace {

class WindowsTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    Fill();
  }
  // What the windows show: topics, a favourite, a sound, the update files
  // (the patch held halfway, so its window is painted mid-download).
  void Fill() {
    Checker().SetSound(TSoundEvent::NewMessages, "C:\\Sounds\\Сообщение.ogg");
    Checker().ResetTraffic();  // the same counters, so the same label widths, at each start
    Reply(true, {{"Поезд в Крым", "t1", "Путешествия", "9", "Иван"}, {"Дача", "t2", "Дом", "2", "Ольга"}});
    Checker().AddFavorite(*Checker().Items().at(1));  // once: it is kept from the start before
    http.Reset();
    http.SetDefault({.failAt = Step::OpenRequest});  // only the files below answer
    http.Serve(kUpdateInfoPath, {.body = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\b Новая\\b0 версия\\par}"});
    http.Serve(kUpdateSetupPath, {.body = std::string(3000, 's')});
    http.Serve(kUpdatePatchPath, {.body = std::string(10000, 'p'), .holdAt = Step::Read, .after = 4096});
  }
  // Each window once its requests have answered; the held patch is let go
  // only after its window closed, so no patch is ever started.
  void Walk(const std::function<void(const std::string& name, TForm& form)>& check) {
    ForEachWindow([&](const std::string& name, TForm& form) {
      auto* u = dynamic_cast<TUpdateInfo*>(&form);
      EXPECT_TRUE(!u || PumpUntil(*app, [&] { return u->Answers() == 3; })) << name;
      EXPECT_TRUE(name != "update-download" || PumpUntil(*app, [&] { return http.Held(kUpdatePatchPath); }));
      RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      app->ProcessMessages();
      check(name, form);
    });
    http.Release();
    EXPECT_TRUE(WaitIdle());
  }
  // The program ended (the main window ends the message loop it would run
  // in) and, unless `again` is false, started anew.
  void Restart(bool again = true) {
    MainWindowTest::TearDown();
    if (!again) return;
    DesktopTest::SetUp();
    Fill();
  }
};

TEST_F(WindowsTest, ControlsLieInsideWithoutOverlapAndKeepTheirPlacesAt144Dpi) {
  std::map<std::string, Shape> at96;
  Walk([&](const std::string& name, TForm& form) {
    const Shape& s = at96[name] = ShapeOf(form);
    EXPECT_FALSE(s.controls.empty()) << name;
    EXPECT_EQ(Compare(s, s, 96), "") << name;
  });
  EXPECT_EQ(at96.size(), WindowTable().size() + 2) << "every side window, the main window and the popup";
  SetDpiOverride(144);
  Restart();
  Walk([&](const std::string& name, TForm& form) { EXPECT_EQ(Compare(at96.at(name), ShapeOf(form), 144), "") << name; });
}

// The process's windows, then its GDI objects by kind.
std::vector<int> Counts() {
  const gdicount::GdiCounts g = gdicount::OwnGdiCounts();
  return {gdicount::OwnWindowCount(), g.valid, g.dc, g.region, g.bitmap, g.palette, g.font, g.brush, g.pen, g.other};
}

// Every window opened and closed once first, so what is made once per
// process (the interface font, the system's DC cache, the common controls'
// own objects) exists before counting; then five more times.
TEST_F(WindowsTest, ClosingGivesBackEveryWindowAndGdiObject) {
  Walk([](const std::string&, TForm&) {});
  Restart(false);
  const std::vector<int> before = Counts();
  ASSERT_EQ(before[1], 1) << "the GDI handle table cannot be read";
  for (int i = 0; i < 5; ++i) {
    Restart();
    Walk([&](const std::string& name, TForm&) { EXPECT_GT(gdicount::OwnWindowCount(), before[0]) << name; });
    Restart(false);
  }
  EXPECT_EQ(Counts(), before) << "windows, valid, dc, region, bitmap, palette, font, brush, pen, other";
}

}  // namespace
}  // namespace zelt::fake
