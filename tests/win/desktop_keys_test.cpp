// The windows from the keyboard (the tab order is walked with every
// window): Space and Enter on the focused button, the arrows between the
// update choices, Esc only when pressed in the same window, Alt+F4.
#include <string>
#include <vector>

#include "tests/support/Win.h"
#include "ui/uSettingsForm.h"
#include "ui/uUpdateInfo.h"

namespace zelt::fake {
namespace {

using Keyboard = MainWindowTest;

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

}  // namespace
}  // namespace zelt::fake
