#include "app/Platform.h"

#include "base/System_win.h"

namespace zelt {

TPlatform::TPlatform(TApplication& app) : app_(app), sound_(TMciLink{.NotifyWindow = app.QueueHandle()}) {
  app_.OnMciNotify = &MediaPlayer::DispatchNotify;
}

TPlatform::~TPlatform() { app_.OnMciNotify = nullptr; }

CheckerPorts TPlatform::MakeCheckerPorts() {
  const std::wstring exe = ExeFilePath();
  return CheckerPorts{app_, http_, app_.CreateTimer(), registry_, sound_, clock_, FolderOf(exe), exe};
}

}  // namespace zelt
