// The program's entry sequence.
#include <windows.h>

#include <memory>

#include "app/Only_One.h"
#include "app/Platform.h"
#include "app/patch/PatchFiles_win.h"
#include "base/ProductNames.h"
#include "base/System_win.h"
#include "base/uZELTIMessages.h"
#include "ui/LaunchUpdate.h"
#include "ui/uMainForm.h"
#include "widgets/Application.h"
#include "widgets/Desktop.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace zelt;
  LoadDllsFromSystemFolderOnly();
  {
    // A patch that a crash interrupted is finished or undone before anything
    // of the program's folder is used; one at work holds the lock and is left
    // to it. A failure stays silent: the journal stays for the next start.
    patch::TPatchLock lock(0);
    std::wstring left;
    if (lock.Held()) patch::RecoverPatch(FolderOf(ExeFilePath()), left);
  }
  RemoveStagedPatches();
  RegisterInstanceMessages();
  OneMutex.reset();
  {
    TSystemDesktop desktop;
    TApplication app("simple", desktop);
    if (JustOne(kMutexName.Narrow)) {
      TPlatform platform(app);
      auto main = std::make_unique<TMainForm>(app, [&platform] { return platform.MakeCheckerPorts(); },
                                              platform.UserState());
      app.Run();
    }
  }
  ReleaseOne();
  return 0;
}
