// The windows' looks that follow the system: high contrast draws every
// window in the system's colours without a gradient, and follows a change
// of the mode while running; and every window moved to a monitor of a larger
// scale (the system's WM_DPICHANGED with its suggested rectangle) grows with
// what is in it.
#include <map>
#include <string>
#include <vector>

#include "tests/win/desktop_support.h"

namespace zelt::fake {
namespace {

// A point of what a control paints (asked to paint into a picture: what
// reaches the screen is the same, later).
COLORREF Pixel(HWND hwnd, int x, int y) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  TWindowDc screen(nullptr);
  TScopedMemDc dc(CreateCompatibleDC(screen.get()));
  TScopedBitmap picture(CreateCompatibleBitmap(screen.get(), rc.right, rc.bottom));
  TSelect select(dc.get(), picture.get());
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND);
  return GetPixel(dc.get(), x, y);
}

// Colours of one window: its panel near the top and near the bottom, its
// title strip, and its first button near its top and near its bottom.
struct Look {
  COLORREF panelTop, panelBottom, strip, buttonTop, buttonBottom;
};

Look LookOf(TForm& form) {
  RECT body;
  GetClientRect(form.Body(), &body);
  Look look{Pixel(form.Body(), Scale(3), Scale(THeaderStrip::kHeight + 2)), Pixel(form.Body(), Scale(3), body.bottom - Scale(3)),
            Pixel(form.Strip().Handle(), Scale(3), Scale(3)), CLR_INVALID, CLR_INVALID};
  for (HWND h : Children(form.Body())) {  // the first enabled button
    auto* b = dynamic_cast<TButton*>(TWindow::FromHandle(h));
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    if (!b || !b->Visible() || style & WS_DISABLED || !(style & WS_TABSTOP)) continue;
    RECT rc;
    GetClientRect(h, &rc);
    look.buttonTop = Pixel(h, Scale(2), Scale(2));
    look.buttonBottom = Pixel(h, Scale(2), rc.bottom - Scale(3));
    break;
  }
  return look;
}

using HighContrastLook = DesktopTest;

TEST_F(HighContrastLook, EveryWindowDrawsInSystemColoursWithoutGradientsAndFollowsTheSwitch) {
  std::map<std::string, std::string> problems;
  ForEachWindow([&](const std::string& name, TForm& form) {
    std::string& p = problems[name];
    SetHighContrastOverride(0);
    SendMessageW(form.Handle(), WM_SYSCOLORCHANGE, 0, 0);
    const Look normal = LookOf(form);
    if (normal.panelTop == normal.panelBottom) p += " the panel has no gradient;";
    if (normal.buttonTop != CLR_INVALID && normal.buttonTop == normal.buttonBottom) p += " a button has no gradient;";

    SetHighContrastOverride(1);
    SendMessageW(form.Handle(), WM_SYSCOLORCHANGE, 0, 0);  // as the system tells every window
    if (!GetUpdateRect(form.Body(), nullptr, FALSE)) p += " nothing is painted anew;";
    const Look contrast = LookOf(form);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    if (contrast.panelTop != face || contrast.panelBottom != face) p += " the panel is not the system's face;";
    if (contrast.strip != GetSysColor(COLOR_ACTIVECAPTION)) p += " the strip is not the caption colour;";
    if (contrast.buttonTop != CLR_INVALID && (contrast.buttonTop != face || contrast.buttonBottom != face))
      p += " a button is not the system's face;";
    SetHighContrastOverride(-1);
    SendMessageW(form.Handle(), WM_SYSCOLORCHANGE, 0, 0);
    if (p.empty()) problems.erase(name);
  });
  EXPECT_EQ(problems, (std::map<std::string, std::string>{}));
}

using DpiChange = DesktopTest;

TEST_F(DpiChange, EveryWindowGrowsWithItsControlsFontsPicturesAndColumns) {
  std::map<std::string, std::string> problems;
  ForEachWindow([&](const std::string& name, TForm& form) {
    const Shape at96 = ShapeOf(form);
    for (int dpi : {144, 192}) {
      // At the screen's corner, where the larger window fits.
      RECT suggested{0, 0, MulDiv(at96.window.right - at96.window.left, dpi, 96),
                     MulDiv(at96.window.bottom - at96.window.top, dpi, 96)};
      SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
      app->ProcessMessages();
      const Shape now = ShapeOf(form);
      std::string p = Compare(at96, now, dpi);
      if (!EqualRect(&now.window, &suggested)) p += " the window did not take the suggested rectangle;";
      if (!p.empty()) problems[name + " at " + std::to_string(dpi)] = p;
      if (dpi == 192 && name == "main") {
        const int tray = IconSide(main->Tray().Icon());
        if (tray != 32) problems["tray icon at 192"] = std::to_string(tray) + " px";
      }
    }
    // Back to where the next window is made: windows made later keep 96.
    RECT back = at96.window;
    SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&back));
  });
  EXPECT_EQ(problems, (std::map<std::string, std::string>{}));
}

// The popup last shown on a monitor of another scale comes back to the work
// area's corner at the DPI of the monitor it is shown on: its right and
// bottom edges are the work area's.
TEST_F(DpiChange, ThePopupFillsTheWorkAreasCornerAtTheMonitorsDpiWhateverItHadBefore) {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const struct {
    int before, monitor;
  } cases[] = {{144, 96}, {96, 144}, {192, 120}, {120, 120}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.monitor));
    RECT there{0, 0, MulDiv(175, c.before, 96), MulDiv(101, c.before, 96)};
    SendMessageW(info->Handle(), WM_DPICHANGED, MAKEWPARAM(c.before, c.before), reinterpret_cast<LPARAM>(&there));
    info->Hide();
    SetDpiOverride(c.monitor);
    main->ShowInfo();
    RECT at;
    GetWindowRect(info->Handle(), &at);
    const int w = MulDiv(175, c.monitor, 96), h = MulDiv(101, c.monitor, 96);
    EXPECT_EQ(std::vector<long>({at.left, at.top, at.right, at.bottom}),
              std::vector<long>({work.right - w, work.bottom - h, work.right, work.bottom}));
  }
}

}  // namespace
}  // namespace zelt::fake
