// For the tests of the windows as keyboard, screen-reader, high-contrast and
// high-DPI users meet them: every window of the program opened the way the
// user opens it, names read through Active Accessibility, and the shape of
// a window's controls compared with its shape at 96 DPI.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Win.h"
#include "ui/WindowTable.h"
#include "widgets/ListView.h"
#include "widgets/Paint.h"

namespace zelt::fake {

// The name (and role) a screen reader reads for a window's client area, as
// AccessibleObjectFromWindow and get_accName give it; "<none>" without an object.
inline std::string AccName(HWND hwnd, long* role = nullptr) {
  using FromWindow = HRESULT WINAPI(HWND, DWORD, REFIID, void**);
  static auto* fromWindow = reinterpret_cast<FromWindow*>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
  IAccessible* acc = nullptr;
  if (!fromWindow || FAILED(fromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                       reinterpret_cast<void**>(&acc))) || !acc)
    return "<none>";
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  acc->get_accName(self, &name);
  std::string out = name ? Narrow(std::wstring(name, SysStringLen(name))) : "";
  SysFreeString(name);
  if (role) {
    VARIANT r;
    VariantInit(&r);
    acc->get_accRole(self, &r);
    *role = r.vt == VT_I4 ? r.lVal : 0;
  }
  acc->Release();
  return out;
}

inline int FontHeight(HWND control) {
  auto* font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  return font && GetObjectW(font, sizeof(lf), &lf) ? std::abs(lf.lfHeight) : 0;
}

inline int IconSide(HICON icon) {
  ICONINFO ii{};
  if (!icon || !GetIconInfo(icon, &ii)) return 0;
  const int side = BitmapSize(ii.hbmColor ? ii.hbmColor : ii.hbmMask).cx;
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return side;
}

// A control as a message names it: its class and its text.
inline std::string Name(HWND w) {
  wchar_t cls[64] = {}, text[64] = {};
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, text, 64);
  return Narrow(cls) + " \"" + Narrow(text) + "\"";
}

// What a window shows at one DPI, by visible control.
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

inline Shape ShapeOf(TForm& form) {
  Shape shape{};
  GetWindowRect(form.Handle(), &shape.window);
  shape.icon = IconSide(reinterpret_cast<HICON>(SendMessageW(form.Handle(), WM_GETICON, ICON_SMALL, 0)));
  for (HWND h : Children(form.Handle())) {
    if (!IsWindowVisible(h)) continue;
    Control c{h, {}, FontHeight(h)};
    GetWindowRect(h, &c.rect);
    MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&c.rect), 2);
    auto* self = TWindow::FromHandle(h);
    if (auto* button = dynamic_cast<TButton*>(self)) c.picture = button->PictureSize().cx;
    if (auto* list = dynamic_cast<TListView*>(self))
      for (int i = 0; i < list->ColumnCount(); ++i) c.columns.push_back(list->ColumnWidthPx(i));
    shape.controls.push_back(c);
  }
  return shape;
}

inline bool Near(int got, int at96, int dpi, int slack) { return std::abs(got - MulDiv(at96, dpi, 96)) <= slack; }

// What is wrong with `now` as the 96-DPI shape scaled to `dpi`, in words:
// a control off its place or size, outside its parent, over a sibling, or
// with a font, picture or column not made for the DPI.
inline std::string Compare(const Shape& at96, const Shape& now, int dpi) {
  std::string p;
  if (at96.icon && !Near(now.icon, at96.icon, dpi, 0)) p += " the window icon is " + std::to_string(now.icon) + " px;";
  if (now.controls.size() != at96.controls.size()) return p + " the controls changed;";
  for (size_t i = 0; i < now.controls.size(); ++i) {
    const Control &was = at96.controls[i], &c = now.controls[i];
    const std::string id = " " + Name(c.hwnd);
    // Controls sized to their text may land a pixel or two off the ratio.
    if (!Near(c.rect.left, was.rect.left, dpi, 2) || !Near(c.rect.top, was.rect.top, dpi, 2))
      p += id + " is not in its place;";
    const int w96 = was.rect.right - was.rect.left, h96 = was.rect.bottom - was.rect.top;
    if (!Near(c.rect.right - c.rect.left, w96, dpi, 2 + w96 * dpi / 960) ||
        !Near(c.rect.bottom - c.rect.top, h96, dpi, 2 + h96 * dpi / 960))
      p += id + " is not sized for the DPI;";
    RECT client, inside, both;
    GetClientRect(GetParent(c.hwnd), &client);
    IntersectRect(&inside, &c.rect, &client);
    if (!EqualRect(&inside, &c.rect)) p += id + " leaves its parent's client area;";
    for (size_t j = 0; j < i; ++j)
      if (GetParent(now.controls[j].hwnd) == GetParent(c.hwnd) && IntersectRect(&both, &now.controls[j].rect, &c.rect))
        p += id + " overlaps " + Name(now.controls[j].hwnd) + ";";
    // The font is rounded at each DPI, not scaled from the 96-DPI pixels.
    if (was.font && !Near(c.font, was.font, dpi, 1)) p += id + " font is " + std::to_string(c.font) + " px;";
    if (was.picture && !Near(c.picture, was.picture, dpi, 0))
      p += id + " picture is " + std::to_string(c.picture) + " px;";
    for (size_t k = 0; k < was.columns.size() && k < c.columns.size(); ++k)
      if (c.columns[k] < MulDiv(was.columns[k], dpi, 96) - 1) p += id + " column " + std::to_string(k) + " too narrow;";
  }
  return p;
}

// Makes the window the active one and waits until the system agrees for a
// while: under load the activation of a window shown or hidden before may
// come late and take the keys away.
inline bool Activate(TApplication& app, HWND window) {
  int steady = 0;
  return PumpUntil(app, [&] {
    const bool active = GetActiveWindow() == window && GetForegroundWindow() == window;
    if (!active) SetForegroundWindow(window);
    steady = active ? steady + 1 : 0;
    return steady >= 10;
  }, 5000);
}

// Every window of the program, shown as the user sees it.
class DesktopTest : public MainWindowTest {
 protected:
  // The main window and the popup shown, then each side window of the
  // window table inside its own modal loop, opened from the main window by
  // its key where it has one, else by its kind; `check` runs on each, once
  // it is the active window, with the window's name (the row's, for a window
  // with the row's title).
  void ForEachWindow(const std::function<void(const std::string& name, TForm& form)>& check) {
    main->ShowFromTray();
    EXPECT_TRUE(Activate(*app, main->Handle())) << "main";
    check("main", *main);
    main->ShowInfo();
    EXPECT_TRUE(Activate(*app, info->Handle())) << "popup";
    check("popup", *info);
    info->Hide();
    for (const TWindowRow& row : WindowTable()) {
      bool opened = false;
      RunLater([&] {
        TForm* form = main->Dialog(row.Kind);
        ASSERT_NE(form, nullptr) << row.Name;
        opened = true;
        wchar_t caption[64] = {};
        GetWindowTextW(form->Handle(), caption, 64);
        EXPECT_EQ(Narrow(caption), row.Title) << row.Name;
        EXPECT_TRUE(Activate(*app, form->Handle())) << row.Name;
        check(row.Name, *form);
        form->Close();
      });
      if (row.Key)
        Press(*app, main->TopicList().Handle(), row.Key);
      else
        main->ShowDialog(row.Kind);
      EXPECT_TRUE(opened) << row.Name;
    }
  }
};

}  // namespace zelt::fake
