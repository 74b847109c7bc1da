// Every window of the program, opened as the program opens it: its controls
// lie inside it, siblings do not overlap, and at 144 DPI each keeps its place
// scaled by one and a half; and closing it gives back every window and GDI
// object it took (counted in the process's GDI handle table, since
// GetGuiResources answers 0 under Wine).
#include <windows.h>

#include <ostream>

#include "tests/win/desktop_support.h"
#include "tools/GdiCount.h"
#include "ui/uAboutForm.h"
#include "ui/uDownloaderForm.h"
#include "ui/uFavoritesForm.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"
#include "ui/uTrafInfo.h"
#include "ui/uUpdateInfo.h"

namespace zelt::fake {
namespace {

class WindowsTest : public WinCheckerTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    TChecker& c = Make();
    c.Favorites.Add("Тема A\x11Форум\x11http://127.0.0.1/forum/a-0-17\x11");
    c.SoundNewMessages = "C:\\Sounds\\Сообщение.ogg";
    Serve();
  }
  void Serve() {
    http.Reset();
    http.Serve(kUpdateInfoPath, {.body = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\b Новая\\b0 версия\\par}"});
    http.Serve(kUpdateSetupPath, {.body = std::string(3000, 's')});
    http.Serve(kUpdatePatchPath, {.body = std::string(10000, 'p'), .holdAt = Step::Read, .after = 4096});
  }
  TUpdateEnv Env() { return TUpdateEnv{*checker, http, *app, "http://update.test", [] {}, [] {}}; }

  // Opens the window of the case as the program shows it.
  std::unique_ptr<TForm> Open() {
    const std::string kind = GetParam();
    const HWND owner = app->Handle();
    std::unique_ptr<TForm> w;
    if (kind == "main") {
      auto m = std::make_unique<TMainForm>(*app, [this] { return Ports(); });
      Checker->HandleReply(CompressedBody(ReplyText(true, {{"Поезд в Крым", "t1", "Путешествия", "9", "Иван"},
                                                          {"Дача", "t2", "Дом", "2", "Ольга"}})));
      m->ShowMain(true);
      w = std::move(m);
    } else if (kind == "popup") {
      auto p = std::make_unique<TInfoForm>(owner);
      p->SetMessage("3 тем обновлено");
      p->SetUpdateAvailable(true);
      w = std::move(p);
    } else if (kind == "traffic") {
      auto t = std::make_unique<TTrafInfo>(owner);
      t->Refresh();
      w = std::move(t);
    } else if (kind == "settings") {
      w = std::make_unique<TSettingsForm>(owner, *checker);
    } else if (kind == "sounds") {
      w = std::make_unique<TSoundsForm>(owner, *checker);
    } else if (kind == "favorites") {
      w = std::make_unique<TFavoritesForm>(owner, *checker);
    } else if (kind == "about") {
      w = std::make_unique<TAboutForm>(owner);
    } else if (kind == "update_info") {
      auto u = std::make_unique<TUpdateInfo>(owner, Env());
      EXPECT_TRUE(PumpUntil(*app, [&] { return u->Answers() == 3; }));
      w = std::move(u);
    } else {
      checker->Tag = 0;  // the patch, painted halfway
      w = std::make_unique<TDownloaderForm>(owner, Env());
      EXPECT_TRUE(PumpUntil(*app, [&] { return http.Held(kUpdatePatchPath); }));
    }
    if (kind != "main") w->Show(true);
    RedrawWindow(w->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    app->ProcessMessages();
    return w;
  }
  void Close(std::unique_ptr<TForm> w) {
    http.Release();
    EXPECT_TRUE(WaitIdle());
    SendMessageW(w->Handle(), WM_CLOSE, 0, 0);
    w.reset();
    Serve();
    MSG msg;  // the main window ends the message loop it would run in
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
  }
};

TEST_P(WindowsTest, ControlsLieInsideWithoutOverlapAndKeepTheirPlacesAt144Dpi) {
  auto w = Open();
  const Shape at96 = ShapeOf(*w);
  ASSERT_FALSE(at96.controls.empty());
  EXPECT_EQ(Compare(at96, at96, 96), "");
  Close(std::move(w));
  SetDpiOverride(144);
  w = Open();
  EXPECT_EQ(Compare(at96, ShapeOf(*w), 144), "");
  Close(std::move(w));
}

struct Counts {
  gdicount::GdiCounts gdi;
  int windows = 0;
  bool operator==(const Counts&) const = default;
};
void PrintTo(const Counts& c, std::ostream* os) {
  *os << "windows " << c.windows << ", dc " << c.gdi.dc << ", bitmap " << c.gdi.bitmap << ", brush " << c.gdi.brush
      << ", font " << c.gdi.font << ", pen " << c.gdi.pen << ", region " << c.gdi.region << ", other "
      << c.gdi.other;
}

// Opened and closed once first, so what is made once per process (the
// interface font, the system's DC cache, the common controls' own objects)
// exists before counting; then five more times.
TEST_P(WindowsTest, ClosingGivesBackEveryWindowAndGdiObject) {
  Close(Open());
  app->ProcessMessages();
  const Counts before{gdicount::OwnGdiCounts(), gdicount::OwnWindowCount()};
  ASSERT_TRUE(before.gdi.valid) << "the GDI handle table cannot be read";
  for (int i = 0; i < 5; ++i) {
    auto w = Open();
    EXPECT_GT(gdicount::OwnWindowCount(), before.windows);
    Close(std::move(w));
  }
  app->ProcessMessages();
  EXPECT_EQ((Counts{gdicount::OwnGdiCounts(), gdicount::OwnWindowCount()}), before);
}

INSTANTIATE_TEST_SUITE_P(Each, WindowsTest,
                         ::testing::Values("main", "popup", "traffic", "settings", "sounds", "favorites", "about",
                                           "update_info", "download"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace zelt::fake
