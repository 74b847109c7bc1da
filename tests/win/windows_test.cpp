// Every window of the program, opened as the program opens it: its controls
// lie inside it, siblings do not overlap, and at 144 DPI each keeps its place
// scaled by one and a half; and closing it gives back every window and GDI
// object it took (counted in the process's GDI handle table, since
// GetGuiResources answers 0 under Wine).
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <ostream>

#include "tests/support/Win.h"
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

struct Control {
  HWND hwnd, parent;
  RECT rc;  // in the window's coordinates
};

std::vector<Control> VisibleControls(HWND top) {
  std::pair<HWND, std::vector<Control>> found{top, {}};
  EnumChildWindows(
      top,
      [](HWND w, LPARAM lp) {
        auto& out = *reinterpret_cast<std::pair<HWND, std::vector<Control>>*>(lp);
        RECT rc;
        GetWindowRect(w, &rc);
        MapWindowPoints(nullptr, out.first, reinterpret_cast<POINT*>(&rc), 2);
        if (IsWindowVisible(w)) out.second.push_back({w, GetParent(w), rc});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.second;
}

std::string Name(HWND w) {
  wchar_t cls[64] = {}, text[64] = {};
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, text, 64);
  return Narrow(cls) + " \"" + Narrow(text) + "\"";
}

TEST_P(WindowsTest, ControlsLieInsideWithoutOverlapAndKeepTheirPlacesAt144Dpi) {
  std::vector<Control> at96;
  for (int dpi : {96, 144}) {
    SCOPED_TRACE(dpi);
    SetDpiOverride(dpi);
    auto w = Open();
    RECT client;
    GetClientRect(w->Handle(), &client);
    const auto controls = VisibleControls(w->Handle());
    ASSERT_FALSE(controls.empty());
    for (size_t i = 0; i < controls.size(); ++i) {
      const Control& c = controls[i];
      RECT inside;
      IntersectRect(&inside, &c.rc, &client);
      EXPECT_TRUE(EqualRect(&inside, &c.rc)) << Name(c.hwnd) << " runs off the window";
      for (size_t j = i + 1; j < controls.size(); ++j) {
        RECT both;
        if (controls[j].parent == c.parent && IntersectRect(&both, &c.rc, &controls[j].rc))
          ADD_FAILURE() << Name(c.hwnd) << " overlaps " << Name(controls[j].hwnd);
      }
    }
    if (dpi == 96) {
      at96 = controls;
    } else {
      ASSERT_EQ(controls.size(), at96.size());
      for (size_t i = 0; i < controls.size(); ++i) {
        const RECT &a = at96[i].rc, &b = controls[i].rc;
        EXPECT_TRUE(std::abs(b.left - a.left * 3 / 2) <= 2 && std::abs(b.top - a.top * 3 / 2) <= 2 &&
                    std::abs((b.right - b.left) - (a.right - a.left) * 3 / 2) <= 3 + (a.right - a.left) / 8)
            << Name(controls[i].hwnd) << " moved";
      }
    }
    Close(std::move(w));
  }
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
