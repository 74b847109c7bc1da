// Every window from the keyboard and to a screen reader: the tab order,
// Space and Enter on the focused button, the arrows between the update
// choices, Esc only when pressed in the same window, Alt+F4, and the names
// Active Accessibility gives.
#include <map>
#include <string>
#include <vector>

#include "tests/win/desktop_support.h"
#include "ui/uSettingsForm.h"
#include "ui/uUpdateInfo.h"

namespace zelt::fake {
namespace {

// Tab (or Shift+Tab) pressed in the control that has the keys.
void Tab(TApplication& app, bool back) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = back ? 0x80 : 0;
  SetKeyboardState(keys);
  PostKey(GetFocus(), VK_TAB);
  app.ProcessMessages();
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

// The controls Tab visits from the window's first one, by the names a
// screen reader reads, until it is back at the first.
std::vector<std::string> TabOrder(TApplication& app, TForm& form, bool back) {
  SetFocus(form.Handle());
  const HWND first = GetFocus();
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) {
    names.push_back(AccName(GetFocus()));
    Tab(app, back);
    if (GetFocus() == first) break;
  }
  return names;
}

using Keyboard = DesktopTest;

TEST_F(Keyboard, TabAndShiftTabMoveThroughEveryControlInReadingOrder) {
  const std::map<std::string, std::vector<std::string>> expected = {
      {"main", {"Последние сообщения на форуме", "Трафик", "Новые сообщения", "Все прочитаны", "Избранные темы",
                "Настройки", "Обновить"}},
      {"popup", {"Читать", "Обновление не требуется"}},
      {"sounds", {"Звуковая схема", "По умолчанию", "Удалить", "Заменить"}},
      {"settings", {"Интервал проверки", "Загружать сразу", "Сервер", "Порт", "Пользователь", "Пароль",
                    " Настройки Internet Explorer", "Ваш ник", " Игнорировать мои сообщения",
                    " Показать программу на новых сообщениях", " Запускать вместе с Windows", " Использовать звуки",
                    "(Редактировать)", "Сохранить", "Отмена"}},
      {"favorites", {"Избранные темы", "Очистить", "Удалить"}},
      // The requests fail at once: the choices and "Загрузить" stay disabled.
      {"update-info", {"Информация об обновлении", "Отмена"}},
      {"traffic", {"Сброс"}},
      {"about", {"О программе"}},
      {"update-download", {"Отмена"}},
  };
  std::map<std::string, std::vector<std::string>> forward, backward;
  ForEachWindow([&](const std::string& name, TForm& form) {
    forward[name] = TabOrder(*app, form, false);
    std::vector<std::string> back = TabOrder(*app, form, true);
    if (back.size() > 1) std::reverse(back.begin() + 1, back.end());  // from the first, backwards
    backward[name] = back;
  });
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(backward, expected);
}

TEST_F(Keyboard, SpaceAndEnterPressTheFocusedButtonOrLink) {
  main->ShowFromTray();
  for (UINT key : {VK_SPACE, VK_RETURN}) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker().Request().Busy(); }));
    const size_t before = http.RequestCount();
    SetFocus(main->RefreshButton().Handle());
    PostKey(main->RefreshButton().Handle(), key);
    ASSERT_TRUE(PumpUntil(*app, [&] { return http.RequestCount() == before + 1; })) << "refresh polls at once";
  }
  // Enter on "(Редактировать)" opens the sound scheme over the settings.
  bool soundsOpened = false;
  RunLater([&] {
    auto* settings = static_cast<TSettingsForm*>(main->Dialog(TDialogKind::Settings));
    RunLater([&, settings] {
      TForm* sounds = main->Dialog(TDialogKind::Sounds);
      soundsOpened = sounds != nullptr;
      if (sounds) sounds->Close();
      settings->Close();
    });
    SetFocus(settings->EditSoundsLink().Handle());
    PostKey(settings->EditSoundsLink().Handle(), VK_RETURN);
  });
  main->ShowDialog(TDialogKind::Settings);
  EXPECT_TRUE(soundsOpened);
}

TEST_F(Keyboard, ArrowsMoveBetweenTheUpdateChoicesAndChooseThem) {
  std::vector<std::string> seen;
  RunLater([&] {
    auto* form = static_cast<TUpdateInfo*>(main->Dialog(TDialogKind::UpdateInfo));
    TChoiceButton* choices[] = {&form->SetupChoice(), &form->PatchChoice()};
    for (TChoiceButton* c : choices) c->SetEnabled(true);
    form->SetupChoice().SetChecked(true);
    SetFocus(form->SetupChoice().Handle());
    for (UINT key : {VK_DOWN, VK_DOWN, VK_UP, VK_RIGHT, VK_LEFT, 0, VK_DOWN}) {
      if (!key) {  // then a package not offered: the arrows pass it by
        choices[1]->SetEnabled(false);
        continue;
      }
      PostKey(GetFocus(), key);
      app->ProcessMessages();
      seen.push_back(std::string(GetFocus() == choices[0]->Handle() ? "setup" : "patch") +
                     (choices[0]->Checked() ? " setup" : "") + (choices[1]->Checked() ? " patch" : ""));
    }
    form->Close();
  });
  main->ShowDialog(TDialogKind::UpdateInfo);
  EXPECT_EQ(seen, (std::vector<std::string>{"patch patch", "patch patch", "setup setup", "patch patch",
                                            "setup setup", "setup setup"}));
}

TEST_F(Keyboard, EscReleasedAfterItClosedTheTrayMenuLeavesTheMainWindowAndAltF4HidesIt) {
  main->ShowFromTray();
  app->ProcessMessages();
  // The menu closes on the key-down; the release reaches the main window.
  RunLater([&] { PostMessageW(main->Handle(), WM_KEYDOWN, VK_ESCAPE, 1); });
  main->HandleTrayMouse(WM_RBUTTONUP);
  PostMessageW(main->Handle(), WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001));
  app->ProcessMessages();
  EXPECT_TRUE(main->Visible()) << "a release alone is no press";
  PostKey(List().Handle(), VK_ESCAPE);
  app->ProcessMessages();
  EXPECT_FALSE(main->Visible()) << "a press of its own hides it";

  main->ShowFromTray();
  PostMessageW(List().Handle(), WM_SYSKEYDOWN, VK_F4, (1 << 29) | 1);  // Alt held
  ASSERT_TRUE(PumpUntil(*app, [&] { return !main->Visible(); }));
  MSG quit;
  EXPECT_TRUE(IsWindow(main->Handle()) && main->Checker() != nullptr) << "the program goes on";
  EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

using ScreenReader = DesktopTest;

// What Tab reaches is read by name in the tab order's test; here also the
// picture buttons Tab does not reach (disabled, or on a title strip).
TEST_F(ScreenReader, PictureButtonsReadTheirTooltips) {
  Reply(false, {{"A", "a", "F", "1", "x"}, {"B", "b", "F", "1", "x"}, {"C", "c", "F", "1", "x"}});
  ForEachWindow([&](const std::string& name, TForm& form) {
    for (HWND hwnd : Children(form.Handle())) {
      auto* button = dynamic_cast<TButton*>(TWindow::FromHandle(hwnd));
      if (!button || !button->HasPicture()) continue;
      const std::string read = AccName(hwnd);
      SCOPED_TRACE(name + " " + Name(hwnd) + " " + read);
      // Read by the tooltip, or by the caption where there is no tooltip ("Читать").
      EXPECT_EQ(read, button->Hint().empty() ? button->Text() : button->Hint());
      EXPECT_FALSE(read.empty());
    }
  });
  main->ShowInfo();
  long role = 0;
  EXPECT_EQ(AccName(info->Handle(), &role), "3 тем обновлено");
  EXPECT_EQ(role, ROLE_SYSTEM_ALERT);
}

}  // namespace
}  // namespace zelt::fake
