// Every window moved to a monitor of a larger scale: the system's
// WM_DPICHANGED with its suggested rectangle, and what a person would check
// afterwards.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/win/desktop_support.h"
#include "widgets/ListView.h"
#include "widgets/Paint.h"

namespace zelt::fake {
namespace {

int FontHeight(HWND control) {
  auto* font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  return font && GetObjectW(font, sizeof(lf), &lf) ? std::abs(lf.lfHeight) : 0;
}

int IconSide(HICON icon) {
  ICONINFO ii{};
  if (!icon || !GetIconInfo(icon, &ii)) return 0;
  const int side = BitmapSize(ii.hbmColor ? ii.hbmColor : ii.hbmMask).cx;
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return side;
}

// What the window shows at one DPI, by control.
struct Control {
  HWND hwnd;
  RECT rect;  // in its parent's client area
  int font = 0, picture = 0;
  std::vector<int> columns;
};
struct Shape {
  RECT window;
  std::vector<Control> controls;
  int icon = 0;
};

Shape ShapeOf(TForm& form) {
  Shape shape{};
  GetWindowRect(form.Handle(), &shape.window);
  shape.icon = IconSide(reinterpret_cast<HICON>(SendMessageW(form.Handle(), WM_GETICON, ICON_SMALL, 0)));
  EnumChildWindows(
      form.Handle(),
      [](HWND h, LPARAM lp) {
        if (!IsWindowVisible(h)) return TRUE;
        Control c{h, {}, FontHeight(h)};
        GetWindowRect(h, &c.rect);
        MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&c.rect), 2);
        auto* self = TWindow::FromHandle(h);
        if (auto* button = dynamic_cast<TButton*>(self)) c.picture = button->PictureSize().cx;
        if (auto* list = dynamic_cast<TListView*>(self))
          for (int i = 0; i < list->ColumnCount(); ++i) c.columns.push_back(list->ColumnWidthPx(i));
        reinterpret_cast<Shape*>(lp)->controls.push_back(c);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&shape));
  return shape;
}

bool Near(int got, int at96, int dpi, int slack) { return std::abs(got - MulDiv(at96, dpi, 96)) <= slack; }

// What differs from the 96-DPI shape scaled to `dpi`, in words.
std::string Compare(const Shape& at96, const Shape& now, const RECT& suggested, int dpi) {
  std::string p;
  if (!EqualRect(&now.window, &suggested)) p += " the window did not take the suggested rectangle;";
  if (at96.icon && !Near(now.icon, at96.icon, dpi, 0)) p += " the window icon is " + std::to_string(now.icon) + " px;";
  if (now.controls.size() != at96.controls.size()) return p + " the controls changed;";
  for (size_t i = 0; i < now.controls.size(); ++i) {
    const Control &was = at96.controls[i], &c = now.controls[i];
    const std::string id = " control " + std::to_string(i);
    // Controls sized to their text may land a pixel or two off the ratio.
    if (!Near(c.rect.left, was.rect.left, dpi, 2) || !Near(c.rect.top, was.rect.top, dpi, 2))
      p += id + " is not in its place;";
    const int w96 = was.rect.right - was.rect.left, h96 = was.rect.bottom - was.rect.top;
    if (!Near(c.rect.right - c.rect.left, w96, dpi, 2 + w96 * dpi / 960) ||
        !Near(c.rect.bottom - c.rect.top, h96, dpi, 2 + h96 * dpi / 960))
      p += id + " is not sized for the DPI;";
    RECT client;
    GetClientRect(GetParent(c.hwnd), &client);
    RECT inside;
    IntersectRect(&inside, &c.rect, &client);
    if (!EqualRect(&inside, &c.rect)) p += id + " leaves its parent's client area;";
    for (size_t j = 0; j < i; ++j) {
      RECT both;
      const Control& o = now.controls[j];
      RECT before;
      if (GetParent(o.hwnd) == GetParent(c.hwnd) && IntersectRect(&both, &o.rect, &c.rect) &&
          !IntersectRect(&before, &at96.controls[j].rect, &was.rect))
        p += id + " now overlaps control " + std::to_string(j) + ";";
    }
    // The font is rounded at each DPI, not scaled from the 96-DPI pixels.
    if (was.font && !Near(c.font, was.font, dpi, 1)) p += id + " font is " + std::to_string(c.font) + " px;";
    if (was.picture && !Near(c.picture, was.picture, dpi, 0))
      p += id + " picture is " + std::to_string(c.picture) + " px;";
    for (size_t k = 0; k < was.columns.size() && k < c.columns.size(); ++k)
      if (c.columns[k] < MulDiv(was.columns[k], dpi, 96) - 1) p += id + " column " + std::to_string(k) + " too narrow;";
  }
  return p;
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
      const std::string p = Compare(at96, ShapeOf(form), suggested, dpi);
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

}  // namespace
}  // namespace zelt::fake
