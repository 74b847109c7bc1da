// The program's entry sequence.
#include <windows.h>

#include <memory>

#include "app/Only_One.h"
#include "app/Platform.h"
#include "base/uZELTIMessages.h"
#include "ui/uInfoForm.h"
#include "ui/uMainForm.h"
#include "widgets/Application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace zelt;
  RegisterInstanceMessages();
  OneMutex.reset();
  {
    TApplication app("simple");
    if (JustOne("ZeltInformerMutex")) {
      TPlatform platform(app);
      auto main = std::make_unique<TMainForm>(app, [&platform] { return platform.MakeCheckerPorts(); },
                                              platform.UserState());
      auto info = std::make_unique<TInfoForm>(app.Handle());
      app.Run();
    }
  }
  ReleaseOne();
  return 0;
}
