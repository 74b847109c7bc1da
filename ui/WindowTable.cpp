#include "ui/WindowTable.h"

#include "ui/uAboutForm.h"
#include "ui/uDownloaderForm.h"
#include "ui/uFavoritesForm.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"
#include "ui/uTrafInfo.h"
#include "ui/uUpdateInfo.h"

namespace zelt {

namespace {

template <class TWindow>
std::unique_ptr<TForm> Make(const TWindowContext& context) {
  return std::make_unique<TWindow>(context);
}

// In the order the screenshot program takes them: the traffic window before
// the update windows, which count their traffic.
constexpr TWindowRow kWindows[] = {
    {TDialogKind::Traffic, "traffic", TTrafInfo::kTitle, &Make<TTrafInfo>, VK_F3},
    {TDialogKind::Settings, "settings", TSettingsForm::kTitle, &Make<TSettingsForm>, VK_F7},
    {TDialogKind::Sounds, "sounds", TSoundsForm::kTitle, &Make<TSoundsForm>, 0},
    {TDialogKind::Favorites, "favorites", TFavoritesForm::kTitle, &Make<TFavoritesForm>, 0},
    {TDialogKind::About, "about", TAboutForm::kTitle, &Make<TAboutForm>, 0},
    {TDialogKind::UpdateInfo, "update-info", TUpdateInfo::kTitle, &Make<TUpdateInfo>, 0},
    {TDialogKind::Download, "update-download", TDownloaderForm::kTitle, &Make<TDownloaderForm>, 0},
};
constexpr bool EveryKindOnce() {
  for (int kind = 1; kind <= kDialogKinds; ++kind) {
    int rows = 0;
    for (const TWindowRow& row : kWindows) rows += static_cast<int>(row.Kind) == kind ? 1 : 0;
    if (rows != 1) return false;
  }
  return std::size(kWindows) == kDialogKinds;
}
static_assert(EveryKindOnce(), "one row for every kind");

}  // namespace

std::span<const TWindowRow> WindowTable() { return kWindows; }

const TWindowRow& WindowRow(TDialogKind kind) {
  for (const TWindowRow& row : kWindows)
    if (row.Kind == kind) return row;
  return kWindows[0];  // not reached: every kind has its row
}

}  // namespace zelt
