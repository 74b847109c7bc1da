// Every window of the program gives back what it took when it closes: its
// windows (controls, tooltips) and its GDI objects (DCs, bitmaps of pictures
// and image lists, brushes, fonts, pens, regions). The GDI objects are counted
// in the process's GDI handle table, as GetGuiResources answers 0 under Wine.
// Each window is opened and closed once first, so that what is made once per
// process (the shared interface font, the system's DC cache, the common
// controls' and rich edit's own objects) exists before counting.
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/win/support/ui_harness.h"
#include "tests/win/support/update_harness.h"
#include "tools/GdiCount.h"
#include "ui/uAboutForm.h"
#include "ui/uDownloaderForm.h"
#include "ui/uFavoritesForm.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"
#include "ui/uTrafInfo.h"

namespace zelt::updatetest {
namespace {

enum class Kind { Main, Popup, Traffic, Settings, Sounds, Favorites, About, UpdateInfo, Download };
struct Case {
  Kind kind;
  const char* name;
};
const Case kCases[] = {
    {Kind::Main, "main"},           {Kind::Popup, "popup"},   {Kind::Traffic, "traffic"},
    {Kind::Settings, "settings"},   {Kind::Sounds, "sounds"}, {Kind::Favorites, "favorites"},
    {Kind::About, "about"},         {Kind::UpdateInfo, "update_info"}, {Kind::Download, "download"},
};
// Opened over and over: the popup, shown at every poll's result, and a side
// window with every kind of control.
const Case kRepeatCases[] = {{Kind::Popup, "popup"}, {Kind::Settings, "settings"}};

// Names the case in the test's name.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

struct Counts {
  gdicount::GdiCounts gdi;
  int windows = 0;
};

std::string Text(const Counts& c) {
  const gdicount::GdiCounts& g = c.gdi;
  char s[200];
  std::snprintf(s, sizeof s, "windows=%d dc=%d bitmap=%d brush=%d font=%d pen=%d region=%d palette=%d other=%d",
                c.windows, g.dc, g.bitmap, g.brush, g.font, g.pen, g.region, g.palette, g.other);
  return s;
}

const std::vector<test::Topic> kTopics = {
    {"Поезд в Крым", "t101", "Путешествия", "9", "Иван"},
    {"Ремонт &quot;Жигулей&quot;", "t102", "Авто", "10", "Пётр"},
    {"Дача", "t103", "Дом", "2", "Ольга"},
};

class ReleaseTest : public UpdateFixture, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    UpdateFixture::SetUp();
    runPatch = [] {};
    checker->Favorites.Add("Тема A\x11Форум\x11http://127.0.0.1:18765/forum/a-0-17\x11");
    checker->Favorites.Add("Тема B\x11Форум\x11http://127.0.0.1:18765/forum/b-0-17\x11");
    checker->SoundNewMessages = "C:\\Sounds\\Сообщение.ogg";
  }

  Counts Take() {
    PumpFor(*app, 30);
    return {gdicount::OwnGdiCounts(), gdicount::OwnWindowCount()};
  }

  // Paints the window and its controls now, and each button once more as
  // hot (the mouse over it) and plain again.
  void Exercise(HWND top) {
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::vector<HWND> all;
    EnumChildWindows(
        top, [](HWND w, LPARAM lp) { return reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w), TRUE; },
        reinterpret_cast<LPARAM>(&all));
    for (HWND w : all) {
      wchar_t cls[32] = {};
      GetClassNameW(w, cls, 32);
      if (_wcsicmp(cls, L"Button") != 0 || !IsWindowVisible(w)) continue;
      SendMessageW(w, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
      UpdateWindow(w);
      SendMessageW(w, WM_MOUSELEAVE, 0, 0);
      UpdateWindow(w);
    }
    PumpFor(*app, 20);
    open = Take();
  }

  // Opens the window of the case, uses it, closes it and lets it go.
  void Cycle(Kind kind) {
    switch (kind) {
      case Kind::Main: return MainCycle();
      case Kind::Popup: {
        auto popup = std::make_unique<TInfoForm>(app->Handle());
        popup->SetMessage("3 тем обновлено");
        popup->Show(true);
        Exercise(popup->Handle());
        popup->SetUpdateAvailable(true);
        Exercise(popup->Handle());
        popup->Hide();
        return;
      }
      case Kind::Traffic: {
        auto traffic = std::make_unique<TTrafInfo>(app->Handle());
        traffic->Refresh();
        return SideCycle(std::move(traffic));
      }
      case Kind::Settings: return SideCycle(std::make_unique<TSettingsForm>(app->Handle(), *checker));
      case Kind::Sounds: return SideCycle(std::make_unique<TSoundsForm>(app->Handle(), *checker));
      case Kind::Favorites: return SideCycle(std::make_unique<TFavoritesForm>(app->Handle(), *checker));
      case Kind::About: return SideCycle(std::make_unique<TAboutForm>(app->Handle()));
      case Kind::UpdateInfo: {
        transport.Reset();
        transport.Serve(kUpdateInfoPath, {200, "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\b Новая\\b0 версия\\par}"});
        transport.Serve(kUpdateSetupPath, {200, PatternBytes(3000)});
        transport.Serve(kUpdatePatchPath, {200, PatternBytes(1000)});
        auto info = std::make_unique<TUpdateInfo>(app->Handle(), Env());
        TUpdateInfo* w = info.get();
        return SideCycle(std::move(info), [w] { return w->Answers() == 3; });
      }
      case Kind::Download: {
        // Painted halfway through the download, let go once it has ended (and
        // closed itself).
        transport.Reset();
        FakeReply reply{200, PatternBytes(10000)};
        reply.holdAfter = 4096;
        transport.Serve(kUpdatePatchPath, reply);
        checker->Tag = 0;
        auto download = std::make_unique<TDownloaderForm>(app->Handle(), Env());
        TDownloaderForm* w = download.get();
        download->Show(true);
        ASSERT_TRUE(PumpUntil(*app, [&] {
          return transport.Held(kUpdatePatchPath) && w->Progress().Position() == 40;
        }));
        Exercise(w->Handle());
        transport.Release(kUpdatePatchPath);
        ASSERT_TRUE(PumpUntil(*app, [w] { return w->CancelButton().Text() == "Завершено"; }));
        return;
      }
    }
  }

  void SideCycle(std::unique_ptr<TForm> form, const std::function<bool()>& ready = nullptr) {
    form->Show(true);
    if (ready) {
      ASSERT_TRUE(PumpUntil(*app, ready));
    }
    Exercise(form->Handle());
    form->Close();
    form.reset();  // as the main window frees a side window when its modal loop ends
  }

  // The main window over its own checker with three rows, closed as the
  // program ends it.
  void MainCycle() {
    auto main = std::make_unique<TMainForm>(*app, [this] {
      return CheckerPorts{*app, failing, app->CreateTimer(), registry, sound, clock, programDir,
                          programDir + "ZeltInformer.exe"};
    });
    ASSERT_TRUE(PumpUntil(*app, [] { return Checker && !Checker->Loader->Busy; }));
    main->ShowFromTray();
    Checker->HandleReply(test::CompressedBody(test::ReplyText(false, kTopics)));
    ASSERT_EQ(main->TopicList().Count(), 3);
    Exercise(main->Handle());
    SendMessageW(main->Handle(), WM_CLOSE, 0, 0);
    main.reset();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
  }

  test::FailingTransport failing;
  Counts open;
};

TEST_P(ReleaseTest, ClosingGivesBackEveryWindowAndGdiObject) {
  Cycle(GetParam().kind);  // warm-up
  const Counts before = Take();
  ASSERT_TRUE(before.gdi.valid) << "the GDI handle table cannot be read";
  Cycle(GetParam().kind);
  const Counts after = Take();
  std::printf("[ counts ] %s\n  before %s\n  open   %s\n  after  %s\n", GetParam().name, Text(before).c_str(),
              Text(open).c_str(), Text(after).c_str());
  // While open the window held windows and objects of its own, so the counts could move at all.
  EXPECT_GT(open.windows, before.windows);
  EXPECT_EQ(Text(after), Text(before));
}

using RepeatTest = ReleaseTest;

TEST_P(RepeatTest, OpeningTwentyTimesDoesNotGrow) {
  Cycle(GetParam().kind);
  const Counts before = Take();
  for (int i = 0; i < 20 && !HasFatalFailure(); ++i) Cycle(GetParam().kind);
  EXPECT_EQ(Text(Take()), Text(before));
}

INSTANTIATE_TEST_SUITE_P(ui_release, ReleaseTest, ::testing::ValuesIn(kCases));
INSTANTIATE_TEST_SUITE_P(ui_release, RepeatTest, ::testing::ValuesIn(kRepeatCases));

}  // namespace
}  // namespace zelt::updatetest
