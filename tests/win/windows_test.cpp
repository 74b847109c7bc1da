// Every window of the program, opened as the user opens it, walked once per
// DPI: its controls lie inside it without overlapping; Tab and Shift+Tab
// visit them in reading order; a screen reader reads each by name, picture
// buttons by their tooltips; moved to a monitor of 144 or 192 DPI (the
// system's WM_DPICHANGED with its suggested rectangle), it grows with its
// controls, fonts, pictures and columns. Closing it gives back every window
// and GDI object it took (counted in the process's GDI handle table, since GetGuiResources
// answers 0 under Wine). And the popup comes to the work area's corner at its
// monitor's DPI.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "tests/support/Win.h"
#include "tools/GdiCount.h"
#include "ui/WindowTable.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Paint.h"

namespace zelt::fake {
namespace {

// The name (and role) a screen reader reads for a window's client area, as
// AccessibleObjectFromWindow and get_accName give it; "<none>" without an object.
std::string AccName(HWND hwnd, long* role = nullptr) {
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

int IconSide(HICON icon) {
  ICONINFO ii{};
  if (!icon || !GetIconInfo(icon, &ii)) return 0;
  const int side = BitmapSize(ii.hbmColor ? ii.hbmColor : ii.hbmMask).cx;
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return side;
}

// A control as a message names it: its class and its text.
std::string Name(HWND w) {
  wchar_t cls[64] = {}, text[64] = {};
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, text, 64);
  return Narrow(cls) + " \"" + Narrow(text) + "\"";
}

// What a window shows at one DPI, by visible control.
struct Control {
  HWND hwnd;
  RECT rect;  // in its parent's client area
  int font = 0, picture = 0;  // a list's picture: its rows'
  std::vector<int> columns;
};
struct Shape {
  RECT window;
  std::vector<Control> controls;
  int icon = 0;
};

// The pictures a list's rows are drawn with.
HIMAGELIST RowPictures(HWND list) {
  return reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
}

Shape ShapeOf(TForm& form) {
  Shape shape{};
  GetWindowRect(form.Handle(), &shape.window);
  shape.icon = IconSide(reinterpret_cast<HICON>(SendMessageW(form.Handle(), WM_GETICON, ICON_SMALL, 0)));
  for (HWND h : Children(form.Handle())) {
    if (!IsWindowVisible(h)) continue;
    Control c{h};
    LOGFONTW font{};
    if (GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof(font), &font))
      c.font = std::abs(font.lfHeight);
    GetWindowRect(h, &c.rect);
    MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&c.rect), 2);
    auto* self = TWindow::FromHandle(h);
    if (auto* button = dynamic_cast<TButton*>(self)) c.picture = button->PictureSize().cx;
    if (auto* list = dynamic_cast<TListView*>(self)) {
      for (int i = 0; i < list->ColumnCount(); ++i) c.columns.push_back(list->ColumnWidthPx(i));
      int height = 0;
      ImageList_GetIconSize(RowPictures(h), &c.picture, &height);
    }
    shape.controls.push_back(c);
  }
  return shape;
}

bool Near(int got, int at96, int dpi, int slack) { return std::abs(got - MulDiv(at96, dpi, 96)) <= slack; }

// What is wrong with `now` as the 96-DPI shape scaled to `dpi`, in words:
// a control off its place or size, outside its parent, over a sibling, or
// with a font, picture or column not made for the DPI.
std::string Compare(const Shape& at96, const Shape& now, int dpi) {
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
bool Activate(TApplication& app, HWND window) {
  int steady = 0;
  return PumpUntil(app, [&] {
    const bool active = GetActiveWindow() == window && GetForegroundWindow() == window;
    if (!active) SetForegroundWindow(window);
    steady = active ? steady + 1 : 0;
    return steady >= 10;
  }, 5000);
}

// Gives the keys to `control` of `form` (to the window's first control when
// it is the window), making the window the active one again first when
// another program took it: the control that has the keys, or null.
HWND FocusOn(TApplication& app, TForm& form, HWND control) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (GetActiveWindow() != form.Handle() || GetForegroundWindow() != form.Handle()) Activate(app, form.Handle());
    SetFocus(control);
    app.ProcessMessages();
    if (IsChild(form.Handle(), GetFocus()) && GetActiveWindow() == form.Handle()) return GetFocus();
  }
  return nullptr;
}

// The controls Tab (or Shift+Tab) visits from the window's first one, by
// the names a screen reader reads, until it is back at the first. A key
// whose press found the keys in another program is pressed again.
std::vector<std::string> TabOrder(TApplication& app, TForm& form, bool back) {
  const HWND first = FocusOn(app, form, form.Handle());
  std::vector<std::string> names;
  for (HWND at = first; at && names.size() < 30;) {
    names.push_back(AccName(at));
    HWND next = nullptr;
    for (int attempt = 0; attempt < 3 && !next; ++attempt) {
      FocusOn(app, form, at);
      BYTE keys[256];
      GetKeyboardState(keys);
      keys[VK_SHIFT] = back ? 0x80 : 0;
      SetKeyboardState(keys);
      Press(app, at, VK_TAB);
      keys[VK_SHIFT] = 0;
      SetKeyboardState(keys);
      if (IsChild(form.Handle(), GetFocus())) next = GetFocus();
    }
    at = next == first ? nullptr : next;
  }
  return names;
}

class Windows : public MainWindowTest {
 protected:
  // The main window over what the windows show: topics, a favourite, a
  // sound, the update files (the patch held halfway, so its window is
  // painted mid-download).
  void SetUp() override {
    MainWindowTest::SetUp();
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
  // The main window and the popup shown, then each side window of the window
  // table inside its own modal loop, opened from the main window by its key
  // where it has one, else by its kind; `check` runs on each once it is the
  // active window and its requests have answered, with the window's name
  // (the row's, for a window with the row's title). The held patch is let go
  // only after its window closed, so no patch is ever started.
  void Walk(const std::function<void(const std::string& name, TForm& form)>& check) {
    auto checkWhenReady = [&](const std::string& name, TForm& form) {
      EXPECT_TRUE(Activate(*app, form.Handle())) << name;
      auto* u = dynamic_cast<TUpdateInfo*>(&form);
      EXPECT_TRUE(!u || PumpUntil(*app, [&] { return u->Answers() == 3; })) << name;
      EXPECT_TRUE(name != "update-download" || PumpUntil(*app, [&] { return http.Held(kUpdatePatchPath); }));
      RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      app->ProcessMessages();
      check(name, form);
    };
    main->ShowFromTray();
    checkWhenReady("main", *main);
    main->ShowInfo();
    checkWhenReady("popup", *info);
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
        checkWhenReady(row.Name, *form);
        form->Close();
      });
      if (row.Key)
        Press(*app, main->TopicList().Handle(), row.Key);
      else
        main->ShowDialog(row.Kind);
      EXPECT_TRUE(opened) << row.Name;
    }
    http.Release();
    EXPECT_TRUE(WaitIdle());
  }
};

TEST_F(Windows, EachWindowReadsInOrderAndScalesWithItsDpi) {
  const std::map<std::string, std::vector<std::string>> tabOrder = {
      {"main", {"Последние сообщения на форуме", "Трафик", "Новые сообщения", "Все прочитаны", "Избранные темы",
                "Настройки", "Обновить"}},
      {"popup", {"Читать", "Информация об обновлении"}},
      {"sounds", {"Звуковая схема", "По умолчанию", "Удалить", "Заменить"}},
      {"settings", {"Интервал проверки", "Загружать сразу", "Сервер", "Порт", "Пользователь", "Пароль",
                    " Настройки Internet Explorer", "Ваш ник", " Игнорировать мои сообщения",
                    " Показать программу на новых сообщениях", " Запускать вместе с Windows", " Использовать звуки",
                    "(Редактировать)", "Сохранить", "Отмена"}},
      {"favorites", {"Избранные темы", "Очистить", "Удалить"}},
      // Tab reaches the checked choice only; the arrows move between the two.
      {"update-info", {"Информация об обновлении", "Загрузить полный установочный файл (2.93 KB)", "Загрузить", "Отмена"}},
      {"traffic", {"Сброс"}},
      {"about", {"О программе"}},
      {"update-download", {"Отмена"}},
  };
  std::map<std::string, Shape> at96;
  std::map<std::string, std::vector<std::string>> forward, backward;
  std::map<std::string, std::string> problems;
  Walk([&](const std::string& name, TForm& form) {
    std::string p = Compare(at96[name] = ShapeOf(form), at96[name], 96);
    if (at96[name].controls.empty()) p += " no controls;";
    forward[name] = TabOrder(*app, form, false);
    backward[name] = TabOrder(*app, form, true);
    if (backward[name].size() > 1) std::reverse(backward[name].begin() + 1, backward[name].end());
    // Picture buttons, also those Tab does not reach (disabled, or on a title
    // strip), read by their tooltip, or by their caption without one.
    for (HWND hwnd : Children(form.Handle()))
      if (auto* b = dynamic_cast<TButton*>(TWindow::FromHandle(hwnd)); b && b->HasPicture())
        if (const std::string read = AccName(hwnd); read.empty() || read != (b->Hint().empty() ? b->Text() : b->Hint()))
          p += " " + Name(hwnd) + " reads \"" + read + "\";";
    // The topic list's rows have their three pictures to choose from.
    if (name == "main" && ImageList_GetImageCount(RowPictures(main->TopicList().Handle())) != 3)
      p += " the topic list has not its three pictures;";
    // Moved to monitors of 144 and 192 DPI (at the screen's corner, where the
    // larger window fits), then back to 96, where the next window is made.
    const RECT& was = at96[name].window;
    for (int dpi : {144, 192}) {
      RECT suggested{0, 0, MulDiv(was.right - was.left, dpi, 96), MulDiv(was.bottom - was.top, dpi, 96)};
      SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
      app->ProcessMessages();
      const Shape now = ShapeOf(form);
      std::string q = Compare(at96[name], now, dpi);
      if (const int tray = IconSide(main->Tray().Icon()); dpi == 192 && name == "main" && tray != 32)
        q += " the tray icon is " + std::to_string(tray) + " px;";
      if (!EqualRect(&now.window, &suggested)) q += " the window did not take the suggested rectangle;";
      if (!q.empty()) p += " at " + std::to_string(dpi) + ":" + q;
    }
    RECT back = was;
    SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&back));
    if (!p.empty()) problems[name] = p;
  });
  EXPECT_EQ(at96.size(), WindowTable().size() + 2) << "every side window, the main window and the popup";
  EXPECT_EQ(forward, tabOrder);
  EXPECT_EQ(backward, tabOrder);
  EXPECT_EQ(problems, (std::map<std::string, std::string>{}));
  main->ShowInfo();
  long role = 0;
  EXPECT_EQ(AccName(info->Handle(), &role), "2 тем обновлено");
  EXPECT_EQ(role, ROLE_SYSTEM_ALERT);
}

// The process's windows, then its GDI objects (-1: the table cannot be read).
std::vector<int> Counts() { return {gdicount::OwnWindowCount(), gdicount::OwnGdiCount()}; }

// Every window opened and closed once first, so what is made once per
// process (the interface font, the system's DC cache, the common controls'
// own objects) exists before counting; then five more times.
TEST_F(Windows, ClosingGivesBackEveryWindowAndGdiObject) {
  Walk([](const std::string&, TForm&) {});
  TearDown();  // the program ended: its main window ends the message loop it would run in
  const std::vector<int> before = Counts();
  ASSERT_GE(before[1], 0) << "the GDI handle table cannot be read";
  for (int i = 0; i < 5; ++i) {
    SetUp();  // started anew
    Walk([&](const std::string& name, TForm&) { EXPECT_GT(gdicount::OwnWindowCount(), before[0]) << name; });
    TearDown();
  }
  EXPECT_EQ(Counts(), before) << "windows, GDI objects";
}

// The popup last shown on a monitor of another scale comes back to the work
// area's corner at the DPI of the monitor it is shown on: its right and
// bottom edges are the work area's.
TEST_F(Windows, ThePopupFillsTheWorkAreasCornerAtTheMonitorsDpiWhateverItHadBefore) {
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
