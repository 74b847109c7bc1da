#include "ui/SideWindows.h"

#include "core/Traffic.h"
#include "ui/uAboutForm.h"
#include "ui/uDownloaderForm.h"
#include "ui/uFavoritesForm.h"
#include "ui/uMainForm.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"
#include "ui/uTrafInfo.h"
#include "ui/uUpdateInfo.h"

namespace zelt {

void TSideWindows::Show(int kind) {
  if (kind < 1 || kind > kDialogKinds) return;
  auto& slot = forms_[static_cast<size_t>(kind)];
  if (slot && slot->InModal()) {
    SetForegroundWindow(slot->Handle());
    return;
  }
  if (!slot) slot = make_(static_cast<TDialogKind>(kind));
  if (!slot) return;
  slot->ShowModal();
  slot.reset();
}

void TSideWindows::CloseAll() {
  for (int kind = 1; kind <= kDialogKinds; ++kind) {
    auto& slot = forms_[static_cast<size_t>(kind)];
    if (!slot) continue;
    PostMessageW(slot->Handle(), WM_CLOSE, 0, 0);
    if (!slot->InModal()) slot.reset();
  }
}

TForm* TSideWindows::Get(int kind) const {
  return kind >= 1 && kind <= kDialogKinds ? forms_[static_cast<size_t>(kind)].get() : nullptr;
}

// --- the main window's side windows ---

std::unique_ptr<TForm> TMainForm::MakeDialog(TDialogKind kind) {
  switch (kind) {
    case dkTraffic: {
      auto traffic = std::make_unique<TTrafInfo>(Handle(), *checker_);
      traffic->Refresh();
      return traffic;
    }
    case dkSounds:
      return std::make_unique<TSoundsForm>(Handle(), *checker_);
    case dkSettings: {
      auto settings = std::make_unique<TSettingsForm>(Handle(), *checker_);
      settings->OnEditSounds = [this] { ShowDialog(dkSounds); };
      return settings;
    }
    case dkFavorites:
      return std::make_unique<TFavoritesForm>(Handle(), *checker_);
    case dkAbout:
      return std::make_unique<TAboutForm>(Handle());
    case dkUpdateInfo:
      return std::make_unique<TUpdateInfo>(Handle(), UpdateEnv());
    case dkDownload:
      return std::make_unique<TDownloaderForm>(Handle(), UpdateEnv());
  }
  return nullptr;
}

void TMainForm::ShowDialog(int kind) {
  ++ModalDepth;
  trayMenu_.SetEnabled(tiExit, false);
  dialogs_.Show(kind);
  --ModalDepth;
  if (ModalDepth == 0) {
    trayMenu_.SetEnabled(tiExit, true);
    // A close request that came while side windows were open ends the program now.
    if (closePending_) PostMessageW(Handle(), WM_CLOSE, 0, 0);
  }
}

void TMainForm::CloseDialogs() { dialogs_.CloseAll(); }

TForm* TMainForm::Dialog(int kind) const { return dialogs_.Get(kind); }

TTrafInfo* TMainForm::TrafficWindow() const { return static_cast<TTrafInfo*>(Dialog(dkTraffic)); }

void TMainForm::SetTrafficCaption() {
  if (!checker_) return;
  const TTrafficCounters& counters = checker_->Traffic();
  traffic_.SetText(FormatSize(counters.TotalInBytes + counters.TotalOutBytes, 1));
}

void TMainForm::ShowTrafficDialog() {
  ShowDialog(dkTraffic);
  SetTrafficCaption();
}

}  // namespace zelt
