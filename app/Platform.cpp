#include "app/Platform.h"

#include "base/System_win.h"

namespace zelt {

TPlatform::TPlatform(TApplication& app) : app_(app) {
  MediaPlayer::NotifyWindow = app_.QueueHandle();
  app_.OnMciNotify = &MediaPlayer::DispatchNotify;
}

TPlatform::~TPlatform() {
  app_.OnMciNotify = nullptr;
  MediaPlayer::NotifyWindow = nullptr;
}

CheckerPorts TPlatform::MakeCheckerPorts() {
  const std::wstring exe = ExeFilePath();
  return CheckerPorts{app_, http_, app_.CreateTimer(), registry_, sound_, clock_, FolderOf(exe), exe};
}

}  // namespace zelt
