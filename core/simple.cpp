// The program's entry sequence.
#include <windows.h>

#include <memory>

#include "core/Only_One.h"
#include "core/uZELTIMessages.h"
#include "ui/uInfoForm.h"
#include "ui/uMainForm.h"
#include "widgets/Application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace zelt;
  RegisterInstanceMessages();
  OneMutex = nullptr;
  {
    TApplication app("simple");
    if (JustOne("ZeltInformerMutex")) {
      auto main = std::make_unique<TMainForm>(app);
      auto info = std::make_unique<TInfoForm>(app.Handle());
      app.Run();
    }
  }
  ReleaseOne();
  return 0;
}
